// The part of HttpClient that is the same over every HTTP stack: the thread
// check, Open's cracking of the URL, the body and its share of the
// process-wide bound. net/curl/ and net/wininet/ hold the rest.
#include "net/http_client.h"

#include <atomic>

#include "base/runtime_error.h"
#include "net/http_client_shared.h"
#include "net/http_text.h"

namespace kelvarn {
namespace {

// "WEB客户不能跨线程使用。"
constexpr std::string_view kWrongThread =
    "WEB\xBF\xCD\xBB\xA7\xB2\xBB\xC4\xDC\xBF\xE7\xCF\xDF\xB3\xCC\xCA\xB9\xD3\xC3\xA1\xA3";

// Body bytes held by every client of the process, and their bound.
std::atomic<std::size_t> responseMemoryHeld{0};
std::atomic<std::size_t> responseMemoryLimit{HttpClient::kDefaultResponseMemoryLimit};

}  // namespace

bool http::TakeResponseMemory(std::size_t bytes) {
  const std::size_t limit = responseMemoryLimit.load();
  for (std::size_t held = responseMemoryHeld.load();;) {
    if (held > limit || bytes > limit - held) return false;
    if (responseMemoryHeld.compare_exchange_weak(held, held + bytes)) return true;
  }
}

std::string_view http::BodyBytes(const Value& body) {
  if (const auto* text = std::get_if<Text>(&body)) return std::string_view(*text).substr(0, text->find('\0'));
  if (const auto* bytes = std::get_if<ByteArray>(&body)) {
    return {reinterpret_cast<const char*>(bytes->data()), bytes->size()};
  }
  return {};
}

std::optional<std::chrono::steady_clock::time_point> http::OverallDeadline(std::int32_t connectMs, std::int32_t sendMs,
                                                                           std::int32_t receiveMs) {
  const std::int64_t overall = std::int64_t{connectMs} + sendMs + receiveMs;
  if (overall <= 0) return std::nullopt;
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(overall);
}

bool HttpClient::CheckThread() const {
  if (std::this_thread::get_id() != ownerThread_) RaiseRuntimeErrorBelowFrame(kWrongThread, 0);
  return true;
}

bool HttpClient::Open(std::string_view verb, std::string_view url) {
  CheckThread();
  const std::optional<http::CrackedUrl> cracked = http::CrackUrl(url);
  if (!cracked) return false;
  ClearTarget();
  host_ = http::OwnedText(cracked->host);
  path_ = http::OwnedText(http::RequestTarget(url));
  url_ = http::OwnedText(url);
  port_ = cracked->port;
  scheme_ = cracked->scheme;
  schemeName_ = http::OwnedText(cracked->schemeName);
  verb_ = http::OwnedText(verb);
  rootHandle_.reset();
  return EnsureRootHandle();
}

void HttpClient::ClearTarget() {
  url_.reset(), host_.reset(), path_.reset(), schemeName_.reset(), verb_.reset();
  port_ = 0, scheme_ = 0, statusCode_ = 0;
  if (!body_.empty()) {
    TrimBody(0);
    body_ = std::string();
    body_.reserve(128);
  }
}

void HttpClient::TrimBody(std::size_t size) {
  if (size >= body_.size()) return;
  responseMemoryHeld.fetch_sub(body_.size() - size);
  body_.resize(size);
}

Text HttpClient::GetResponseText() const { return Text(ResponseTextView()); }

std::string_view HttpClient::ResponseTextView() const { return std::string_view(body_).substr(0, body_.find('\0')); }

std::size_t HttpClient::ResponseMemoryLimit() { return responseMemoryLimit.load(); }
void HttpClient::SetResponseMemoryLimit(std::size_t bytes) { responseMemoryLimit.store(bytes); }
std::size_t HttpClient::ResponseMemoryHeld() { return responseMemoryHeld.load(); }

}  // namespace kelvarn
