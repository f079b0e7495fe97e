#include "base/runtime_error.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace kelvarn {
namespace {

std::atomic<RuntimeErrorRoute> route{nullptr};

}  // namespace

void SetRuntimeErrorRoute(RuntimeErrorRoute r) { route.store(r); }

void RaiseRuntimeErrorBelowFrame(std::string_view message, std::int32_t code) {
  if (const RuntimeErrorRoute report = route.load()) report(message, code);
  std::fwrite(message.data(), 1, message.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  std::_Exit(-1);
}

}  // namespace kelvarn
