#include "window/qt/window_program.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLibraryInfo>
#include <QTimer>
#include <QTranslator>
#include <QUrl>
#include <optional>
#include <string>
#include <string_view>

#include "app/startup.h"
#include "frame/process.h"
#include "pool/thread_pool.h"
#include "window/options.h"
#include "window/qt/automation.h"

namespace kelvarn {

MainWindow* OpenMainWindow(QtFramePlatform& platform, AppHandles& handles, Harvester::Options options) {
  MainWindow* window = nullptr;
  platform.AddWindowFactory(std::string(kMainWindow), [&]() -> QWidget* {
    window = new MainWindow(platform.Ui());
    window->show();
    return window;
  });
  RegisterWindow(MainWindowTemplate(), MainWindowBindings(handles));
  if (!LoadWindow(kMainWindow) || !window) return nullptr;
  handles.harvester = new Harvester(window->Components(), platform.Ui(), window->dialogs(), std::move(options));
  handles.dialogs = &window->dialogs();
  DeliverEvent(kMainWindow, "", kEventCreated);
  return window;
}

bool LoadQtTranslations() {
  auto* translator = new QTranslator(qApp);
  if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

int RunWindowProgram(int argc, char** argv) {
  static const WindowOptions windowOptions = ParseWindowOptions(argc, argv);
  static Automation automation(windowOptions);

  QApplication app(argc, argv);
  LoadQtTranslations();
  QtFramePlatform platform;
  InitFrame(platform, {&ThreadPool_ProcessNotifyLib});
  static AppHandles handles;
  SetExitCleanup([] { handles = {}; });

  // The start-up routine.
  Harvester::Options options = StartUp(ProcessorChoice::kFirst, windowOptions.searchUrl);
  options.openUrl = [](std::string_view url) {
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(url.data(), static_cast<qsizetype>(url.size()))));
  };
  automation.Prepare(options);
  if (MainWindow* window = OpenMainWindow(platform, handles, std::move(options))) {
    if (!windowOptions.seedsFile.empty()) handles.harvester->ImportFile(windowOptions.seedsFile);
    if (windowOptions.harvest) QTimer::singleShot(0, [] { DeliverEvent(kMainWindow, kStartButton, kEventClicked); });
    automation.Start(*window);
  }
  TrimWorkingSet();
  RunMessageLoop();
  EndProgram(0);
  return 0;
}

}  // namespace kelvarn
