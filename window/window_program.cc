#include "window/window_program.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "app/startup.h"
#include "frame/process.h"
#include "pool/thread_pool.h"

namespace kelvarn {
namespace {

// The options for scripts, carried out through the platform.
class Automation {
 public:
  Automation(WindowPlatform& platform, WindowOptions options) : platform_(platform), options_(std::move(options)) {}

  // Sets the harvester's hooks the options need.
  void Prepare(Harvester::Options& harvester) {
    LogOpenedUrls(options_, harvester);
    if (options_.screenshot.empty() && !options_.print && options_.exportFile.empty()) return;
    // Once the completed run's texts are drawn.
    harvester.onRunComplete = [this] { platform_.After(300, [this] { OnRunComplete(); }); };
  }

  // --harvest's press and --close-after's timer, once the window is up.
  void Start() {
    // As the user's first click would, once the loop runs.
    if (options_.harvest) platform_.After(0, [] { DeliverEvent(kMainWindow, kStartButton, kEventClicked); });
    if (options_.closeAfterMs <= 0) return;
    platform_.After(options_.closeAfterMs, [this] {
      std::fprintf(stderr, "closing\n");
      std::fflush(stderr);
      platform_.CloseMainWindow();
    });
  }

 private:
  void OnRunComplete() {
    const std::optional<MainWindowParts> window = platform_.Parts();
    if (!window) return;
    bool written = true;
    if (!options_.screenshot.empty() && !platform_.SaveScreenshot(options_.screenshot)) {
      std::fprintf(stderr, "kelvarn: cannot write %s\n", options_.screenshot.c_str());
      written = false;
    }
    if (options_.print && !PrintCollected(window->components)) written = false;
    if (!options_.exportFile.empty() && !Export(window->components)) written = false;
    std::fflush(nullptr);
    EndProgram(written ? 0 : 1);
  }

  // Through the phrase list's own menu item, as a user exports.
  bool Export(MainComponents window) {
    platform_.AnswerForExport(options_.exportFile);
    DeliverEvent(kMainWindow, kExportItem, kEventClicked);
    const Text status = window.状态条1.PanelText(0);
    std::fprintf(stderr, "%s\n", GbkToUtf8(status).c_str());
    return status == "\xB5\xBC\xB3\xF6\xCD\xEA\xB3\xC9.";  // 导出完成.
  }

  WindowPlatform& platform_;
  const WindowOptions options_;
};

}  // namespace

bool OpenMainWindow(WindowPlatform& platform, AppHandles& handles, Harvester::Options options) {
  platform.AddMainWindowFactory();
  RegisterWindow(MainWindowTemplate(), MainWindowBindings(handles));
  if (!LoadWindow(kMainWindow)) return false;
  const std::optional<MainWindowParts> window = platform.Parts();
  if (!window) return false;
  handles.harvester = new Harvester(window->components, platform.Frame().Ui(), window->dialogs, std::move(options));
  handles.dialogs = &window->dialogs;
  DeliverEvent(kMainWindow, "", kEventCreated);
  return true;
}

int RefuseUsage(const std::string& error) {
  std::fprintf(stderr, "kelvarn: %s\n", error.c_str());
  return 2;
}

int RunWindowProgram(WindowPlatform& platform, const WindowOptions& options) {
  // The harvester's hooks reach it until the process ends.
  static Automation automation(platform, options);
  InitFrame(platform.Frame(), {&ThreadPool_ProcessNotifyLib});
  static AppHandles handles;
  SetExitCleanup([] { handles = {}; });

  // The start-up routine.
  Harvester::Options harvester = StartUp(ProcessorChoice::kFirst, options.searchUrl);
  harvester.openUrl = [&platform](std::string_view url) { platform.OpenUrl(url); };
  harvester.journalRuns = true;
  automation.Prepare(harvester);
  if (OpenMainWindow(platform, handles, std::move(harvester))) {
    if (!options.seedsFile.empty()) handles.harvester->ImportFile(options.seedsFile);
    // A run a crash or a closed window cut short is offered once the window
    // is up; a scripted run is the script's, and asks nothing.
    if (!options.harvest) platform.After(0, [] { handles.harvester->OfferToContinue(); });
    automation.Start();
  }
  TrimWorkingSet();
  RunMessageLoop();
  EndProgram(0);
  return 0;
}

}  // namespace kelvarn
