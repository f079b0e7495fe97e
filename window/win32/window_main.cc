#include "window/win32/window_program.h"

// mingw's start-up code calls main for a GUI-subsystem program too.
int main(int argc, char** argv) { return kelvarn::RunWindowProgram(argc, argv); }
