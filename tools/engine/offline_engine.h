// The offline search engine: a real HTTP server on 127.0.0.1 that stands in
// for the web search engine in tests, demos and benchmarks.
//
// GET /s?wd=<percent-encoded GBK keyword> answers a GBK results page in the
// layout the harvester reads, whose related phrases are made deterministically
// from the keyword out of a small GBK vocabulary: pages differ, phrases repeat
// across pages, and every phrase has a page of its own, so the tree has any
// depth. GET /stats answers "requests N". A "fault" query key overrides the
// server's fault mode for one request.
//
// Thread safety: Start and Stop from one thread; RequestCount from any.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "text/text.h"

namespace httplib {
class Server;
}

namespace kelvarn {

enum class EngineFault {
  kNone,
  kErrorStatus,  // 500 with a short body
  kReset,        // the connection closes halfway through the body
  kStall,        // half the body, then nothing until the server stops (at most 60 s)
  kHuge,         // a 200 MiB body
  kTrickle,      // the page at one byte a second (until the server stops)
  kGarbage,      // 64 KiB of random bytes
  kRedirect,     // 302 to the same page, which then answers normally
  kRedirectLoop, // 302 to the same page, for ever
  kNoBlockEnd,   // the related-searches block never ends
  kUpperCase,    // links end in "</A>"
};

// "error", "reset", "stall", "huge", "trickle", "garbage", "redirect",
// "redirect-loop", "no-block-end", "upper-case" or "none".
std::optional<EngineFault> ParseEngineFault(std::string_view name);

struct EngineOptions {
  int port = 0;              // 0: any free port
  int phrasesPerPage = 10;
  int latencyMs = 0;         // added before every answer
  int jitterMs = 0;          // +- this much, uniformly
  std::size_t pageBytes = 0; // pad pages with result entries to about this size
  EngineFault fault = EngineFault::kNone;
};

class OfflineEngine {
 public:
  explicit OfflineEngine(EngineOptions options = {});
  ~OfflineEngine();  // stops
  OfflineEngine(const OfflineEngine&) = delete;
  OfflineEngine& operator=(const OfflineEngine&) = delete;

  // Binds 127.0.0.1 and serves on threads of its own. Returns the port, or
  // -1 when it cannot bind.
  int Start();
  void Stop();

  int Port() const { return port_; }
  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // Search requests answered so far.
  std::uint64_t RequestCount() const { return requests_.load(); }

  // The related phrases of a keyword's page, in page order.
  static TextArray PhrasesFor(std::string_view keyword, int count);
  // The whole page of a keyword.
  static Text PageFor(std::string_view keyword, const EngineOptions& options, EngineFault fault);

 private:
  EngineOptions options_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::atomic<std::uint64_t> requests_{0};
  std::atomic<bool> stopping_{false};
  int port_ = -1;
};

}  // namespace kelvarn
