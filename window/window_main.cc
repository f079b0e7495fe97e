// kelvarn-window, Kelvarn's window (started by `kelvarn` with no command);
// kelvarn.exe on Windows, where mingw's start-up code calls main for a
// GUI-subsystem program too.
#include "window/window_program.h"

int main(int argc, char** argv) { return kelvarn::RunWindowProgram(argc, argv); }
