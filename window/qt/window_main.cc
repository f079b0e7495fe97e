// kelvarn-window: Kelvarn's window (started by `kelvarn` with no command).
#include "window/qt/window_program.h"

int main(int argc, char** argv) { return kelvarn::RunWindowProgram(argc, argv); }
