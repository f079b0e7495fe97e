// The window program on Qt: the application object and Qt's own Chinese
// texts come first, then the portable program.
#include "window/window_program.h"

#include <QApplication>

#include "window/qt/qt_window_platform.h"

namespace kelvarn {

int RunWindowProgram(int argc, char** argv) {
  const WindowOptions options = ParseWindowOptions(argc, argv);
  if (options.usageError) return RefuseUsage(*options.usageError);
  QApplication app(argc, argv);
  LoadQtTranslations();
  QtWindowPlatform platform;
  return RunWindowProgram(platform, options);
}

}  // namespace kelvarn
