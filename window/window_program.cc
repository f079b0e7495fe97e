#include "window/window_program.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLibraryInfo>
#include <QTimer>
#include <QTranslator>
#include <QUrl>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "app/startup.h"
#include "frame/process.h"
#include "pool/thread_pool.h"
#include "window/automation.h"

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

std::string FromStartDirectory(std::string path) {
  if (path.empty() || path.front() == '/') return path;
  std::error_code error;
  const std::filesystem::path start = std::filesystem::current_path(error);
  return error ? path : (start / path).string();
}

int RunWindowProgram(int argc, char** argv) {
  std::optional<std::string_view> searchUrl;
  std::string seedsFile;
  bool harvest = false;
  static Automation automation;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--search-url" && i + 1 < argc) {
      searchUrl = argv[++i];
    } else if (arg == "--seeds" && i + 1 < argc) {
      seedsFile = FromStartDirectory(argv[++i]);
    } else if (arg == "--harvest") {
      harvest = true;
    } else {
      automation.TakeOption(argc, argv, i);
    }
  }

  QApplication app(argc, argv);
  LoadQtTranslations();
  QtFramePlatform platform;
  InitFrame(platform, {&ThreadPool_ProcessNotifyLib});
  static AppHandles handles;
  SetExitCleanup([] { handles = {}; });

  // The start-up routine.
  Harvester::Options options = StartUp(ProcessorChoice::kFirst, searchUrl);
  options.openUrl = [](std::string_view url) {
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(url.data(), static_cast<qsizetype>(url.size()))));
  };
  automation.Prepare(options);
  if (MainWindow* window = OpenMainWindow(platform, handles, std::move(options))) {
    if (!seedsFile.empty()) handles.harvester->ImportFile(seedsFile);
    if (harvest) QTimer::singleShot(0, [] { DeliverEvent(kMainWindow, "按钮_开始采集", kEventClicked); });
    automation.Start(*window);
  }
  TrimWorkingSet();
  RunMessageLoop();
  EndProgram(0);
  return 0;
}

}  // namespace kelvarn
