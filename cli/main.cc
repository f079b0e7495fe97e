// kelvarn: the command-line face of the harvester.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "app/page_forms.h"
#include "app/search_page.h"
#include "cli/harvest_command.h"
#include "cli/system.h"
#include "frame/runtime.h"
#include "net/http_client.h"
#include "text/files.h"
#include "text/text.h"

namespace {

constexpr const char* kUsage =
    "usage: kelvarn [--search-url URL] [--seeds FILE] [--harvest]   open the window\n"
    "       kelvarn harvest [OPTIONS] [SEEDS_FILE | -]   harvest without a window (kelvarn harvest --help)\n"
    "       kelvarn check [--search-url URL] [--proxy URL] [KEYWORD]\n"
    "                                     request one results page and say what it gave\n"
    "       kelvarn url KEYWORD...        print the search URL of each keyword (UTF-8 in)\n"
    "       kelvarn extract [PAGE | -]    print the related phrases of a results page in any form\n"
    "                                     Kelvarn reads, as GB18030 lines ending in CR LF\n"
    "       kelvarn --help | --version\n"
    "The search base comes from KELVARN_SEARCH_URL (default http://www.baidu.com).\n";

int Usage(const char* problem) {
  std::fprintf(stderr, "kelvarn: %s\n%s", problem, kUsage);
  return 2;
}

// The page's first kMaxBodyBytes bytes, what a request would keep of it: a
// page from an endless source (/dev/zero) is not read for ever.
bool ReadPage(std::string_view path, std::string& out) {
  if (path != "-") {
    std::optional<std::string> head = kelvarn::ReadFile(path, kelvarn::HttpClient::kMaxBodyBytes);
    if (head) out = std::move(*head);
    return head.has_value();
  }
  out.resize(kelvarn::HttpClient::kMaxBodyBytes);
  std::size_t used = 0;
  while (used < out.size()) {
    const std::size_t n = std::fread(out.data() + used, 1, out.size() - used, stdin);
    if (n == 0) break;
    used += n;
  }
  out.resize(used);
  return !std::ferror(stdin);
}

}  // namespace

int main(int argc, char** argv) {
  kelvarn::InstallRuntimeSupport();
  std::ios::sync_with_stdio(false);
  const std::string_view first = argc < 2 ? std::string_view() : argv[1];
  if (first.empty() || (first.substr(0, 2) == "--" && first != "--help" && first != "--version")) {
    return kelvarn::cli::StartWindowProgram(argv);
  }
  kelvarn::cli::UseBinaryStreams();
  const std::string_view command = argv[1];
  if (command == "--help" || command == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "--version") {
    std::puts("kelvarn " KELVARN_VERSION);
    return 0;
  }
  if (command == "harvest") return kelvarn::RunHarvestCommand(argc - 1, argv + 1);
  if (command == "check") return kelvarn::RunCheckCommand(argc - 1, argv + 1);
  if (command == "url") {
    if (argc < 3) return Usage("url needs at least one keyword");
    for (int i = 2; i < argc; ++i) std::cout << kelvarn::BuildSearchUrl(kelvarn::cli::FromTheUser(argv[i])) << '\n';
    return 0;
  }
  if (command == "extract") {
    if (argc > 3) return Usage("extract takes one page");
    const std::string_view path = argc == 3 ? argv[2] : "-";
    std::string page;
    if (!ReadPage(path, page)) {
      std::fprintf(stderr, "kelvarn: cannot read %.*s: %s\n", static_cast<int>(path.size()), path.data(),
                   std::strerror(errno));
      return 1;
    }
    std::string out;
    for (const auto& phrase : kelvarn::FindRelatedBlock(page, "").phrases) out += phrase + "\r\n";
    std::cout << out << std::flush;
    return std::cout ? 0 : 1;
  }
  return Usage(("unknown command: " + std::string(command)).c_str());
}
