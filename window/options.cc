#include "window/options.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    } else if (arg == "--export" && valued) {
      options.exportFile = FromStartDirectory(argv[++i]);
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

bool PrintCollected(MainComponents window) {
  const std::int32_t count = window.列表框_相关关键字.ItemCount();
  int error = 0;
  for (std::int32_t i = 0; i < count && !error; ++i) {
    if (std::printf("%s\n", GbkToUtf8(window.列表框_相关关键字.ItemText(i)).c_str()) < 0) error = errno;
  }
  if (!error && std::fflush(stdout) != 0) error = errno;
  // The status says the harvest completed: not when its phrases were lost.
  if (error) {
    std::fprintf(stderr, "kelvarn: cannot write standard output: %s\n", std::strerror(error));
    return false;
  }
  std::fprintf(stderr, "%s\n", GbkToUtf8(window.状态条1.PanelText(0)).c_str());
  std::fflush(nullptr);
  return true;
}

}  // namespace kelvarn
