// The part of HttpClient that is the same over every HTTP stack: the thread
// check, Open's cracking of the URL, the requests a Send makes, what is kept
// of each response and how the Send ended, the body and its share of the
// process-wide bound. net/curl/ and net/wininet/ move the bytes.
#include "net/http_client.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/runtime_error.h"
#include "net/http_client_shared.h"
#include "net/http_text.h"
#include "text/files.h"

namespace kelvarn {
namespace {

// "WEB客户不能跨线程使用。"
constexpr std::string_view kWrongThread =
    "WEB\xBF\xCD\xBB\xA7\xB2\xBB\xC4\xDC\xBF\xE7\xCF\xDF\xB3\xCC\xCA\xB9\xD3\xC3\xA1\xA3";

// Body bytes held by every client of the process, and their bound.
std::atomic<std::size_t> responseMemoryHeld{0};
std::atomic<std::size_t> responseMemoryLimit{HttpClient::kDefaultResponseMemoryLimit};

// Counts `bytes` more as held by some client's body, unless that passes
// HttpClient::ResponseMemoryLimit(); false then, and nothing is counted.
// HttpClient::TrimBody gives them back.
bool TakeResponseMemory(std::size_t bytes) {
  const std::size_t limit = responseMemoryLimit.load();
  for (std::size_t held = responseMemoryHeld.load();;) {
    if (held > limit || bytes > limit - held) return false;
    if (responseMemoryHeld.compare_exchange_weak(held, held + bytes)) return true;
  }
}

// Whether `text` is `word` (in capitals) in any letter case.
bool IsWord(std::string_view text, std::string_view word) {
  return std::equal(text.begin(), text.end(), word.begin(), word.end(),
                    [](char a, char b) { return (a >= 'a' && a <= 'z' ? a - 'a' + 'A' : a) == b; });
}

// Whether the fields of a cookie file's line are a cookie's: a host name, a
// flag, a path, a flag, an expiry, a name and a value, without a control
// character. Lines of anything else (a binary file) may split into as many
// fields, and no store would send what they hold.
bool IsCookieLine(const std::string_view (&fields)[7]) {
  const auto flag = [](std::string_view text) { return IsWord(text, "TRUE") || IsWord(text, "FALSE"); };
  const auto only = [](std::string_view text, std::string_view allowed) {
    return !text.empty() && text.find_first_not_of(allowed) == std::string_view::npos;
  };
  const auto plain = [](std::string_view text, std::string_view banned) {
    return std::none_of(text.begin(), text.end(), [&](char c) {
      return static_cast<unsigned char>(c) < 0x20 || c == 0x7F || banned.find(c) != std::string_view::npos;
    });
  };
  constexpr std::string_view kHostCharacters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_";
  return only(fields[0], kHostCharacters) && flag(fields[1]) && fields[2].starts_with('/') && plain(fields[2], "") &&
         flag(fields[3]) && only(fields[4], "-0123456789") && !fields[5].empty() && plain(fields[5], " =;,") &&
         plain(fields[6], ";");
}

}  // namespace

CookieFileLoad http::ReadCookieFile(const std::string& path, const std::function<bool(const FileCookie&)>& take) {
  CookieFileLoad load;
  // One byte past the bound tells a file over it without reading it all.
  const std::optional<std::string> text = ReadRegularFile(path, CookieFileLoad::kMaxCookieFileBytes + 1);
  if (!text) {
    load.error = errno == EINVAL ? "not an ordinary file" : std::strerror(errno);
    return load;
  }
  if (text->size() > CookieFileLoad::kMaxCookieFileBytes) {
    load.error = "larger than " + std::to_string(CookieFileLoad::kMaxCookieFileBytes >> 20) + " MiB";
    return load;
  }
  load.bytes = text->size();
  const std::int64_t now = std::time(nullptr);
  std::vector<FileCookie> cookies;
  for (std::size_t from = 0; from < text->size();) {
    const std::size_t end = std::min(text->find('\n', from), text->size());
    std::string_view line = std::string_view(*text).substr(from, end - from);
    from = end + 1;
    if (line.ends_with('\r')) line.remove_suffix(1);
    line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
    FileCookie cookie;
    cookie.line = line;
    // curl's files mark HttpOnly cookies so; other "#" lines are comments.
    constexpr std::string_view kHttpOnly = "#HttpOnly_";
    if (line.starts_with(kHttpOnly)) line.remove_prefix(kHttpOnly.size());
    if (line.empty() || line[0] == '#') continue;
    std::string_view fields[7];
    std::size_t count = 0;
    for (std::size_t at = 0; count < 8;) {
      const std::size_t tab = line.find('\t', at);
      if (count < 7) fields[count] = line.substr(at, tab - at);
      ++count;
      if (tab == std::string_view::npos) break;
      at = tab + 1;
    }
    if (count != 6 && count != 7) continue;  // six: a name without a value
    if (!IsCookieLine(fields)) continue;
    const std::int64_t expires = std::atoll(std::string(fields[4]).c_str());
    if (expires > 0 && expires < now) continue;
    cookie.domain = fields[0], cookie.path = fields[2], cookie.name = fields[5], cookie.value = fields[6];
    cookie.anySubdomain = fields[0][0] == '.' || IsWord(fields[1], "TRUE");
    cookie.secure = IsWord(fields[3], "TRUE");
    if (expires > 0) cookie.expires = expires;
    if (cookies.size() == CookieFileLoad::kMaxCookies) {
      load.error = "more than " + std::to_string(CookieFileLoad::kMaxCookies) + " cookies, more than a browser keeps";
      return load;
    }
    cookies.push_back(cookie);
  }
  std::size_t taken = 0;
  for (const FileCookie& cookie : cookies) taken += take(cookie) ? 1 : 0;
  load.loaded = taken;
  return load;
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

HttpClient::~HttpClient() { TrimBody(0); }

bool HttpClient::Send(const Value& body, std::int32_t connectTimeout, std::int32_t sendTimeout,
                      std::int32_t receiveTimeout) {
  CheckThread();
  ending_ = Ending::kNotSent;
  lastError_.clear();
  finalUrl_.clear();
  redirects_.clear();
  if (!EnsureRootHandle()) return false;
  ApplyTimeouts(connectTimeout, sendTimeout, receiveTimeout);
  if ((scheme_ != kSchemeHttp && scheme_ != kSchemeHttps) || !host_ || !schemeName_) return false;

  const std::optional<std::chrono::steady_clock::time_point> deadline =
      http::OverallDeadline(rootHandle_->connectTimeout, rootHandle_->sendTimeout, rootHandle_->receiveTimeout);
  Request request = FirstRequest(http::BodyBytes(body));
  for (int followed = 0;; ++followed) {
    Progress progress(*this, followed < kMaxRedirects);
    const std::size_t bodyBefore = body_.size();
    Perform(request, progress, deadline);
    if (!progress.redirect || progress.gaveUp) return Finish(progress, bodyBefore);
    redirects_.push_back(progress.redirect->location);
    Follow(*progress.redirect, request);
  }
}

void HttpClient::SetIdentity(std::shared_ptr<HttpIdentity> identity) {
  CheckThread();
  identity_ = std::move(identity);
  rootHandle_.reset();  // the route is the root handle's
}

std::string HttpClient::ProxyError(std::string_view what) const {
  const std::optional<ProxyUrl>* proxy = identity_ ? &identity_->Proxy() : nullptr;
  if (!proxy || !*proxy) return std::string(what);
  return "proxy " + (*proxy)->Display() + ": " + std::string(what);
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

std::vector<std::string> HttpClient::Request::Lines() const {
  std::vector<std::string> lines{"Accept: */*"};
  if (host) lines.push_back("Host: " + *host);
  if (contentLines) {
    lines.emplace_back("Content-Type: application/x-www-form-urlencoded");
    if (!payload.empty()) lines.push_back("Content-Length: " + std::to_string(payload.size()));
  }
  if (postLines) lines.emplace_back("Cache-Control: no-cache");
  return lines;
}

HttpClient::Request HttpClient::FirstRequest(std::string_view payload) const {
  Request request;
  request.verb = verb_.value_or("GET");
  // libcurl leaves a fragment off the request line, where the target Open
  // took keeps it: the line takes the whole target, the URL (the base of a
  // relative redirect, the path of cookies) all but the fragment.
  request.requestTarget = http::SendableTarget(path_.value_or("/"));
  request.url = *schemeName_ + "://" + *host_ + ":" + std::to_string(port_) +
                request.requestTarget.substr(0, request.requestTarget.find('#'));
  request.where = http::CrackedUrl{*schemeName_, scheme_, *host_, port_};
  request.host = host_;
  request.payload = payload;
  request.postLines = http::EqualsIgnoringCase(request.verb, "POST");
  request.contentLines = request.postLines;
  return request;
}

void HttpClient::Follow(const Redirect& redirect, Request& request) const {
  // As the platform's stack makes the next request: 301 and 302 turn a
  // POST, 303 anything but GET and HEAD, into a GET without the body or its
  // content lines; 307 and 308 ask again as before. The Host line stays ours
  // while the host and port do.
  using http::EqualsIgnoringCase;
  const long status = redirect.status;
  if (((status == 301 || status == 302) && EqualsIgnoringCase(request.verb, "POST")) ||
      (status == 303 && !EqualsIgnoringCase(request.verb, "GET") && !EqualsIgnoringCase(request.verb, "HEAD"))) {
    request.verb = "GET";
    request.payload = {};
    request.contentLines = false;
  }
  request.url = redirect.url;
  request.requestTarget.clear();
  request.where = redirect.where;
  const bool sameHost = EqualsIgnoringCase(*host_, request.where.host) && port_ == request.where.port;
  request.host = sameHost ? host_ : std::nullopt;
}

void HttpClient::Progress::Responded(Clock::time_point now) {
  if (!responded) slowSince = now;
  responded = true;
}

void HttpClient::Progress::Received(std::size_t n, Clock::time_point now) {
  received += n;
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - slowSince).count();
  if ((received - slowBytes) * 1000 >= static_cast<std::uint64_t>(kMinBytesPerSecond * elapsed)) {
    slowSince = now;
    slowBytes = received;
  }
}

bool HttpClient::Progress::Keep(const char* data, std::size_t n) {
  std::string& body = client_.body_;
  const std::size_t room = kMaxBodyBytes - std::min(kMaxBodyBytes, body.size());
  const std::size_t kept = std::min(n, room);
  if (!TakeResponseMemory(kept)) {
    outOfMemory = true;
    return false;
  }
  body.append(data, kept);
  Received(n, Clock::now());
  if (n <= room) return true;
  capped = true;
  return false;
}

bool HttpClient::Progress::FindRedirect(long code, const std::string& base) {
  if (!mayFollow || (code != 301 && code != 302 && code != 303 && code != 307 && code != 308)) return false;
  const std::vector<HeaderEntry> headers = http::ParseHeaderBlock(rawHeaders);
  const std::string_view location = http::HeaderValue(headers, "Location");
  if (location.empty()) return false;
  std::string_view trimmed = location;
  while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '\t')) trimmed.remove_suffix(1);
  std::optional<std::string> resolved = http::ResolveLocation(base, trimmed);
  const std::optional<http::CrackedUrl> cracked = resolved ? http::CrackUrl(*resolved) : std::nullopt;
  if (!cracked || (cracked->scheme != kSchemeHttp && cracked->scheme != kSchemeHttps)) return false;
  redirect = Redirect{code, std::string(location), std::move(*resolved), *cracked};
  return true;
}

bool HttpClient::Finish(const Progress& progress, std::size_t bodyBefore) {
  if (progress.outOfMemory) TrimBody(bodyBefore);
  const bool ok = progress.responded && !progress.gaveUp && !progress.outOfMemory;
  if (progress.gaveUp) {
    ending_ = Ending::kAborted;
  } else if (progress.outOfMemory) {
    ending_ = Ending::kOutOfMemory;
  } else if (progress.responded) {
    ending_ = progress.finished && !progress.capped ? Ending::kComplete : Ending::kCutOff;
  }
  // A proxy that turns its credentials down answers in the engine's place;
  // the engine itself never asks for authentication.
  const bool httpProxy = identity_ && identity_->Proxy() && identity_->Proxy()->kind == ProxyUrl::Kind::kHttp;
  if (ok && httpProxy && (progress.status == 407 || progress.status == 401)) {
    statusCode_ = progress.status;
    ending_ = Ending::kNotSent;
    lastError_ = ProxyError("refused the user name or password (" + std::to_string(progress.status) + ")");
    return false;
  }
  if (ok) {
    if (progress.status > 0) statusCode_ = progress.status;
    finalUrl_ = progress.url;
    responseHeaders_ = http::ParseHeaderBlock(progress.rawHeaders);
  }
  return ok;
}

Text HttpClient::GetResponseText() const { return Text(ResponseTextView()); }

std::string_view HttpClient::ResponseTextView() const { return std::string_view(body_).substr(0, body_.find('\0')); }

std::size_t HttpClient::ResponseMemoryLimit() { return responseMemoryLimit.load(); }
void HttpClient::SetResponseMemoryLimit(std::size_t bytes) { responseMemoryLimit.store(bytes); }
std::size_t HttpClient::ResponseMemoryHeld() { return responseMemoryHeld.load(); }

}  // namespace kelvarn
