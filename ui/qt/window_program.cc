#include "ui/qt/window_program.h"

#include <malloc.h>

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/main_window.h"
#include "app/search_page.h"
#include "frame/qt/qt_frame.h"
#include "pool/thread_pool.h"
#include "text/files.h"
#include "ui/qt/main_window.h"

namespace kelvarn {

int RunWindowProgram(int argc, char** argv) {
  std::string searchBase = SearchBase(), seedsFile, screenshot;
  bool harvest = false, print = false;
  int closeAfterMs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--search-url" && i + 1 < argc) {
      searchBase = argv[++i];
    } else if (arg == "--seeds" && i + 1 < argc) {
      seedsFile = argv[++i];
    } else if (arg == "--screenshot" && i + 1 < argc) {
      screenshot = argv[++i];
    } else if (arg == "--harvest") {
      harvest = true;
    } else if (arg == "--print") {
      print = true;
    } else if (arg == "--close-after" && i + 1 < argc) {
      closeAfterMs = std::max(1, std::atoi(argv[++i]));
    }
  }
  searchBase = WithoutTrailingSlashes(searchBase);

  QApplication app(argc, argv);
  QtFramePlatform platform;
  InitFrame(platform, {&ThreadPool_ProcessNotifyLib});

  static AppHandles handles;
  SetExitCleanup([] { handles.harvester = nullptr; });

  // The start-up routine.
  BindToFirstProcessor();
  Harvester::Options options;
  options.programDir = ProgramDirWithSlash();
  options.searchBase = searchBase;
  options.openUrl = [](std::string_view url) {
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(url.data(), static_cast<qsizetype>(url.size()))));
  };
  if (!screenshot.empty() || print) {
    options.onRunComplete = [&platform, screenshot, print] {
      QWidget* window = platform.Window(std::string(kMainWindow));
      QTimer::singleShot(300, window, [window, screenshot, print] {
        if (!screenshot.empty()) window->grab().save(QString::fromLocal8Bit(screenshot.c_str()));
        if (print) {
          // The collected list, then the status text, for a terminal.
          const QAbstractItemModel* phrases =
              window->findChild<QListView*>(QStringLiteral("列表框_相关关键字"))->model();
          for (int row = 0; row < phrases->rowCount(); ++row) {
            std::printf("%s\n", phrases->index(row, 0).data().toString().toUtf8().constData());
          }
          const QLabel* status = window->findChild<QStatusBar*>(QStringLiteral("状态条1"))->findChild<QLabel*>();
          std::fprintf(stderr, "%s\n", status->text().toUtf8().constData());
        }
        std::fflush(nullptr);
        EndProgram(0);
      });
    };
  }
  RequestDebugPrivilege();
  platform.AddWindowFactory(std::string(kMainWindow), [&](const WindowTemplate&) -> QWidget* {
    auto* window = new MainWindow(platform.Ui(), handles, options);
    window->show();
    return window;
  });
  RegisterWindow(MainWindowTemplate(), MainWindowBindings(handles));
  if (LoadWindow(kMainWindow)) {
    DeliverEvent(kMainWindow, "", kEventCreated);
    if (!seedsFile.empty() && handles.harvester) handles.harvester->ImportFile(seedsFile);
    if (harvest) QTimer::singleShot(0, [] { DeliverEvent(kMainWindow, "按钮_开始采集", kEventClicked); });
    if (closeAfterMs > 0) {
      QTimer::singleShot(closeAfterMs, [&platform] {
        // Close the window as a user does, and answer the question that
        // follows with Cancel once it shows.
        auto* answer = new QTimer(qApp);
        QObject::connect(answer, &QTimer::timeout, [] {
          if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->reject();
        });
        answer->start(20);
        std::fprintf(stderr, "closing\n");
        platform.Window(std::string(kMainWindow))->close();
      });
    }
  }
  malloc_trim(0);
  RunMessageLoop();
  EndProgram(0);
  return 0;
}

}  // namespace kelvarn
