// The window program on Win32: standard output made binary for --print, then
// the portable program.
#include "window/window_program.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "window/win32/win32_window_platform.h"

namespace kelvarn {

int RunWindowProgram(int argc, char** argv) {
  const WindowOptions options = ParseWindowOptions(argc, argv);
  if (options.usageError) return RefuseUsage(*options.usageError);
  // --print's lines end in LF, as on every platform, when output is redirected.
  _setmode(_fileno(stdout), _O_BINARY);
  static Win32WindowPlatform platform;
  return RunWindowProgram(platform, options);
}

}  // namespace kelvarn
