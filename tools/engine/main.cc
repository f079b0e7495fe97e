// kelvarn-engine: the offline search engine as a program.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "tools/engine/offline_engine.h"

namespace {

constexpr const char* kUsage =
    "usage: kelvarn-engine [--port N] [--phrases N] [--latency MS] [--jitter MS] [--page-bytes N]\n"
    "                      [--fault none|error|reset|stall|huge|trickle|garbage|redirect|\n"
    "                               redirect-loop|no-block-end|upper-case|verify]\n"
    "                      [--block-after N --block-ms MS] [--require-cookie] [--fail-first N]\n"
    "                      [--block-from ADDRESS]\n"
    "                      [--policy rate=R,burst=B,penalty=S,cookieless=C]\n"
    "                      [--layout classic|2008|2018|2021|2022|mobile|mixed]\n"
    "Serves GET /s?wd=KEYWORD on 127.0.0.1 until interrupted; --port 0 (the default) picks a free\n"
    "port. Prints the base URL on the first line of standard output. Like the real engine it sets\n"
    "a cookie, and turns clients away to its verification page: after N search requests for MS\n"
    "milliseconds, always when they lack its cookie with --require-cookie, and always when they\n"
    "come from ADDRESS with --block-from (a proxy bound to it, say). --fail-first N\n"
    "answers the first N search requests with 503. --layout picks the form of the related block:\n"
    "the classic GBK one (the default), those of 2008 (GBK), 2018 and 2021 (UTF-8), 2022 (the 2021\n"
    "one on indented lines, its data in a comment, icons and character references in some links),\n"
    "mobile (the phone page's list of links, UTF-8), or one of them by keyword. --policy limits each\n"
    "client (its address and cookie) as the real engine does: R pages a second from a bucket of B;\n"
    "a request that finds it empty starts S seconds of verification pages, which every request\n"
    "during them starts again; a client without the cookie gets R*C and B*C. /stats then reports\n"
    "each client's pages, verification pages and blocks. GET /su?wd=KEYWORD&ie=utf-8 answers the\n"
    "keyword's search suggestions as JSON, [\"KEYWORD\",[\"phrase\",...]], limited by the policy in\n"
    "buckets of their own.\n";

bool ReadNumber(const char* text, long low, long high, long& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtol(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && out >= low && out <= high;
}

}  // namespace

int main(int argc, char** argv) {
  kelvarn::EngineOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--require-cookie") {
      options.requireCookie = true;
      continue;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "kelvarn-engine: %s needs a value\n%s", argv[i], kUsage);
      return 2;
    }
    const char* value = argv[++i];
    long n = 0;
    bool ok = true;
    if (arg == "--port") {
      ok = ReadNumber(value, 0, 65535, n), options.port = static_cast<int>(n);
    } else if (arg == "--phrases") {
      ok = ReadNumber(value, 0, 10000, n), options.phrasesPerPage = static_cast<int>(n);
    } else if (arg == "--latency") {
      ok = ReadNumber(value, 0, 600000, n), options.latencyMs = static_cast<int>(n);
    } else if (arg == "--jitter") {
      ok = ReadNumber(value, 0, 600000, n), options.jitterMs = static_cast<int>(n);
    } else if (arg == "--page-bytes") {
      ok = ReadNumber(value, 0, 64L << 20, n), options.pageBytes = static_cast<std::size_t>(n);
    } else if (arg == "--block-after") {
      ok = ReadNumber(value, 0, 1L << 30, n), options.blockAfter = static_cast<int>(n);
    } else if (arg == "--block-ms") {
      ok = ReadNumber(value, 0, 3600000, n), options.blockMs = static_cast<int>(n);
    } else if (arg == "--fail-first") {
      ok = ReadNumber(value, 0, 1L << 30, n), options.failFirst = static_cast<int>(n);
    } else if (arg == "--policy") {
      const auto policy = kelvarn::ParseEnginePolicy(value);
      ok = policy.has_value();
      if (policy) options.policy = *policy;
    } else if (arg == "--block-from") {
      options.blockFrom = value;
    } else if (arg == "--layout") {
      const auto layout = kelvarn::ParseEngineLayout(value);
      ok = layout.has_value();
      if (layout) options.layout = *layout;
    } else if (arg == "--fault") {
      const auto fault = kelvarn::ParseEngineFault(value);
      ok = fault.has_value();
      if (fault) options.fault = *fault;
    } else {
      std::fprintf(stderr, "kelvarn-engine: unknown option %s\n%s", argv[i - 1], kUsage);
      return 2;
    }
    if (!ok) {
      std::fprintf(stderr, "kelvarn-engine: bad value for %s: %s\n", argv[i - 1], value);
      return 2;
    }
  }

  // Signals are taken by sigwait below, not by whichever thread they hit.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  kelvarn::OfflineEngine engine(options);
  if (engine.Start() < 0) {
    std::fprintf(stderr, "kelvarn-engine: cannot listen on 127.0.0.1:%d\n", options.port);
    return 1;
  }
  std::printf("%s\n", engine.BaseUrl().c_str());
  std::fflush(stdout);
  int signal = 0;
  sigwait(&stopSignals, &signal);
  engine.Stop();
  std::fprintf(stderr, "kelvarn-engine: served %llu search requests\n",
               static_cast<unsigned long long>(engine.RequestCount()));
  return 0;
}
