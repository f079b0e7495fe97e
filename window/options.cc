#include "window/options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/search_base.h"
#include "text/files.h"

namespace kelvarn {

WindowOptions ParseWindowOptions(int argc, char** argv) {
  WindowOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool valued = i + 1 < argc;
    if (arg == "--search-url" && valued) {
      options.searchUrl = argv[++i];
    } else if (arg == "--seeds" && valued) {
      options.seedsFile = FromStartDirectory(argv[++i]);
    } else if (arg == "--harvest") {
      options.harvest = true;
    } else if (arg == "--screenshot" && valued) {
      options.screenshot = FromStartDirectory(argv[++i]);
    } else if (arg == "--print") {
      options.print = true;
    } else if (arg == "--close-after" && valued) {
      options.closeAfterMs = std::max(1, std::atoi(argv[++i]));
    }
  }
  if (const char* log = std::getenv("KELVARN_OPEN_URL_LOG")) options.openUrlLog = FromStartDirectory(log);
  options.usageError = GivenSearchBaseError(options.searchUrl);
  return options;
}

std::string FromStartDirectory(std::string path) {
  if (path.empty() || std::filesystem::path(path).is_absolute()) return path;
  std::error_code error;
  const std::filesystem::path start = std::filesystem::current_path(error);
  return error ? path : (start / path).string();
}

void LogOpenedUrls(const WindowOptions& options, Harvester::Options& harvester) {
  if (options.openUrlLog.empty()) return;
  harvester.openUrl = [log = options.openUrlLog](std::string_view url) {
    std::string logged = ReadFile(log).value_or(std::string());
    logged.append(url).push_back('\n');
    WriteFileBytes(log, {logged});
  };
}

void PrintCollected(MainComponents window) {
  const std::int32_t count = window.列表框_相关关键字.ItemCount();
  for (std::int32_t i = 0; i < count; ++i) {
    std::printf("%s\n", GbkToUtf8(window.列表框_相关关键字.ItemText(i)).c_str());
  }
  std::fprintf(stderr, "%s\n", GbkToUtf8(window.状态条1.PanelText(0)).c_str());
  std::fflush(nullptr);
}

}  // namespace kelvarn
