// HttpClient over WinINet, the Windows HTTP stack.
//
// Each root handle is opened for asynchronous use, so that every WinINet call
// on a request is made on the client's own thread while that thread waits on
// a condition variable between them. That is what makes an abort safe: the
// waiting thread looks at the abort hook, the stall time-outs and the
// deadline, and ends a blocked operation by closing the request handle (or
// handing it to a thread that closes it) and asking nothing more of it. No
// two threads ever hold one handle value, so no call can reach a handle value
// that a close freed and WinINet gave to a new object.
#include "net/http_client.h"

// clang-format off
#include <windows.h>
#include <wininet.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "base/thread_safety.h"
#include "net/http_client_shared.h"
#include "net/http_text.h"

namespace kelvarn {
namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kReadChunk = 64 * 1024;

// What a request shares with WinINet's callbacks, which arrive on WinINet's
// threads. Send holds one reference and WinINet another, from the request
// handle's creation to its INTERNET_STATUS_HANDLE_CLOSING: a request closed
// while an operation was in flight may complete after Send has returned, and
// writes into `payload`, `buffer` and `read` until then.
struct Shared {
  Mutex mutex;
  std::condition_variable changed;
  bool completed GUARDED_BY(mutex) = false;  // the operation in flight has ended
  bool succeeded GUARDED_BY(mutex) = false;  // ... and how
  bool woken GUARDED_BY(mutex) = false;      // WakeTransfers was called
  bool connected GUARDED_BY(mutex) = false;
  bool ownConnection GUARDED_BY(mutex) = false;  // WinINet opened a connection for this request
  std::atomic<bool> choosing{false};             // holds the pool gate (see PoolGate)
  bool sent GUARDED_BY(mutex) = false;           // the request, body and all, is on its way
  DWORD error GUARDED_BY(mutex) = 0;             // why the operation in flight failed
  Clock::time_point lastMoved GUARDED_BY(mutex) = Clock::now();
  std::atomic<int> references{1};

  // Owned here, not by the caller: WinINet may still use them after a close.
  std::string payload;
  std::vector<char> buffer = std::vector<char>(kReadChunk);
  DWORD read = 0;
  DWORD available = 0;

  void Release() {
    if (references.fetch_sub(1) == 1) delete this;
  }
};

// Every request in progress, for WakeTransfers. Never destroyed: a thread may
// end after the process's static objects have gone.
Mutex& transfersMutex = *new Mutex;
std::vector<Shared*>& transfers GUARDED_BY(transfersMutex) = *new std::vector<Shared*>;

// WinINet keeps every connection whose response allows it in one pool for
// the process, decides that from the response alone ("Connection: close" in
// the request does not count) and offers no way to refuse a pooled
// connection: a server that ignores the request's "Connection: close" and
// leaves bytes on the connection would have them read as the next request's
// answer. So each request empties the pool just before WinINet chooses its
// connection (INTERNET_OPTION_SETTINGS_CHANGED closes every idle connection,
// in Wine at least), and no request hands one to the pool, by closing its
// handle, while another is choosing. A choice ends at the request's first
// status: INTERNET_STATUS_RESOLVING_NAME for a new connection,
// INTERNET_STATUS_SENDING_REQUEST for a pooled one. Should a request still
// be given a pooled connection, its answer is refused (RunTransfer). Never
// destroyed: a thread may end after the process's static objects have gone.
class PoolGate {
 public:
  void BeginChoice(Shared& shared) {
    {
      MutexLock lock(mutex_);
      mutex_.Wait(changed_, [&]() REQUIRES(mutex_) { return !choosing_ && closing_ == 0; });
      choosing_ = true;
    }
    shared.choosing = true;
    InternetSetOptionA(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
  }
  // Once for every BeginChoice; later calls do nothing.
  void EndChoice(Shared& shared) {
    if (!shared.choosing.exchange(false)) return;
    MutexLock lock(mutex_);
    choosing_ = false;
    changed_.notify_all();
  }
  void BeginClose() {
    MutexLock lock(mutex_);
    mutex_.Wait(changed_, [&]() REQUIRES(mutex_) { return !choosing_; });
    ++closing_;
  }
  void EndClose() {
    MutexLock lock(mutex_);
    --closing_;
    changed_.notify_all();
  }

 private:
  Mutex mutex_;
  std::condition_variable changed_;
  bool choosing_ GUARDED_BY(mutex_) = false;
  int closing_ GUARDED_BY(mutex_) = 0;
};

PoolGate& poolGate = *new PoolGate;

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
  auto* shared = reinterpret_cast<Shared*>(context);
  if (!shared) return;
  if (status != INTERNET_STATUS_HANDLE_CREATED) poolGate.EndChoice(*shared);
  if (status == INTERNET_STATUS_HANDLE_CLOSING) {
    shared->Release();  // WinINet's reference: nothing of this request calls back again
    return;
  }
  MutexLock lock(shared->mutex);
  switch (status) {
    case INTERNET_STATUS_RESOLVING_NAME:
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
      shared->ownConnection = true;
      break;
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
      shared->ownConnection = shared->connected = true;
      break;
    case INTERNET_STATUS_REQUEST_SENT:
      shared->sent = true;
      break;
    case INTERNET_STATUS_RESPONSE_RECEIVED:
      break;
    case INTERNET_STATUS_REQUEST_COMPLETE:
      shared->completed = true;
      shared->succeeded = static_cast<const INTERNET_ASYNC_RESULT*>(info)->dwResult != 0;
      shared->error = static_cast<const INTERNET_ASYNC_RESULT*>(info)->dwError;
      break;
    default:
      return;
  }
  shared->lastMoved = Clock::now();
  shared->changed.notify_all();
}

// Closes a WinINet handle that nobody else holds.
struct CloseInternetHandle {
  void operator()(HINTERNET handle) const {
    if (handle) InternetCloseHandle(handle);
  }
};

// Closes a request's handles, the request first. Closing a request whose body
// was not read to its end makes WinINet read the rest of it first (to keep the
// connection), which from a fast server can take seconds: such a request is
// closed by a thread of its own, left detached since nothing waits for it (the
// cut-off rule's exception). It holds the root, so that no handle under it is
// closed from elsewhere before it is done; this thread never uses the two
// handles again. That close does not wait for the pool gate, lest a slow
// server hold up every other request's choice; it empties the pool after it,
// and a request that chose meanwhile refuses a pooled connection it was given.
void CloseRequest(std::shared_ptr<void> root, HINTERNET connection, HINTERNET request, bool readToTheEnd) {
  const auto close = [connection, request] {
    if (request) InternetCloseHandle(request);
    InternetCloseHandle(connection);
  };
  const auto closeUnread = [close] {
    close();
    InternetSetOptionA(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
  };
  if (!readToTheEnd) {
    try {
      std::thread([closeUnread, root = std::move(root)] { closeUnread(); }).detach();
    } catch (const std::system_error&) {
      closeUnread();  // no thread to spare: this one waits instead
    }
    return;
  }
  poolGate.BeginClose();
  close();
  poolGate.EndClose();
}

// A header query on a request whose response has arrived; none when absent.
std::optional<std::string> QueryText(HINTERNET request, DWORD level) {
  DWORD size = 0;
  HttpQueryInfoA(request, level, nullptr, &size, nullptr);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return std::nullopt;
  std::string text(size + 8, '\0');
  if (!HttpQueryInfoA(request, level, text.data(), &size, nullptr)) return std::nullopt;
  text.resize(size);
  return text;
}

// A cookie file's cookie as a browser's store takes it: the URL it came from
// and "name=value; path=...[; domain=...]".
std::pair<std::string, std::string> CookieFromFile(const http::FileCookie& cookie) {
  const std::string host(cookie.domain.substr(cookie.domain[0] == '.' ? 1 : 0));
  const std::string path(cookie.path);
  const std::string url = (cookie.secure ? "https://" : "http://") + host + path;
  std::string data = std::string(cookie.name) + "=" + std::string(cookie.value) + "; path=" + path;
  if (cookie.anySubdomain) data += "; domain=." + host;
  return {url, data};
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return lower;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The path of a URL, without its query or fragment; "/" when it has none.
std::string UrlPath(const std::string& url) {
  const std::string target = http::RequestTarget(url);
  return target.substr(0, target.find_first_of("?#"));
}

// What a failed WinINet operation says, in words that hold no credentials.
std::string Failure(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_CANNOT_CONNECT:
      return "no connection";
    case ERROR_INTERNET_TIMEOUT:
      return "no answer within the time-out";
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
      return "the host name was not found";
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
      return "no HTTP answer";
    default:
      return "WinINet error " + std::to_string(error);
  }
}

}  // namespace

// An identity's cookies, kept out of WinINet's store for the process: a
// cookie set on a response through one identity goes only with that
// identity's later requests.
struct HttpIdentity::Store {
  struct Cookie {
    std::string name, value, domain, path;  // domain in lower case, without a leading dot
    bool hostOnly = true, secure = false;
    std::optional<std::time_t> expires;
  };

  // Takes a Set-Cookie value received from `url`, or a cookie file's line;
  // false when it is passed over.
  bool Take(const std::string& url, std::string_view header, std::optional<std::time_t> expires = std::nullopt) {
    const std::optional<http::CrackedUrl> where = http::CrackUrl(url);
    if (!where) return false;
    Cookie cookie;
    std::size_t from = 0;
    for (bool first = true; from <= header.size(); first = false) {
      const std::size_t end = std::min(header.find(';', from), header.size());
      const std::string_view part = header.substr(from, end - from);
      from = end + 1;
      const std::size_t equals = part.find('=');
      const std::string_view name = Trimmed(part.substr(0, equals));
      const std::string_view value = equals == std::string_view::npos ? "" : Trimmed(part.substr(equals + 1));
      if (first) {
        if (equals == std::string_view::npos || name.empty()) return false;
        cookie.name = name, cookie.value = value;
        continue;
      }
      const std::string attribute = Lower(name);
      if (attribute == "domain" && !value.empty()) {
        cookie.domain = Lower(value.front() == '.' ? value.substr(1) : value);
        cookie.hostOnly = false;
      } else if (attribute == "path" && !value.empty() && value.front() == '/') {
        cookie.path = value;
      } else if (attribute == "secure") {
        cookie.secure = true;
      } else if (attribute == "max-age" && !value.empty()) {
        expires = std::time(nullptr) + std::atoll(std::string(value).c_str());
      } else if (attribute == "expires" && !expires) {
        SYSTEMTIME system;
        FILETIME file;
        if (InternetTimeToSystemTimeA(std::string(value).c_str(), &system, 0) && SystemTimeToFileTime(&system, &file)) {
          const ULONGLONG ticks = (ULONGLONG{file.dwHighDateTime} << 32) | file.dwLowDateTime;
          expires = static_cast<std::time_t>(ticks / 10000000 - 11644473600ULL);
        }
      }
    }
    const std::string host = Lower(where->host);
    if (cookie.hostOnly) {
      cookie.domain = host;
    } else if (host != cookie.domain && !host.ends_with("." + cookie.domain)) {
      return false;  // a domain the host is not in
    }
    if (cookie.path.empty()) {
      const std::string path = UrlPath(url);
      cookie.path = path.substr(0, std::max<std::size_t>(1, path.rfind('/')));
    }
    cookie.expires = expires;
    MutexLock lock(mutex_);
    std::erase_if(cookies_, [&](const Cookie& c) {
      return c.name == cookie.name && c.domain == cookie.domain && c.path == cookie.path;
    });
    if (cookie.expires && *cookie.expires <= std::time(nullptr)) return false;
    cookies_.push_back(std::move(cookie));
    return true;
  }

  // The Cookie line's value for a request to `url`: longest path first.
  std::string For(const std::string& url) {
    const std::optional<http::CrackedUrl> where = http::CrackUrl(url);
    if (!where) return "";
    const std::string host = Lower(where->host), path = UrlPath(url);
    const std::time_t now = std::time(nullptr);
    std::vector<const Cookie*> matching;
    MutexLock lock(mutex_);
    std::erase_if(cookies_, [&](const Cookie& c) { return c.expires && *c.expires <= now; });
    for (const Cookie& c : cookies_) {
      const bool domain = c.hostOnly ? host == c.domain : host == c.domain || host.ends_with("." + c.domain);
      const bool inPath = path.starts_with(c.path) &&
                          (path.size() == c.path.size() || c.path.back() == '/' || path[c.path.size()] == '/');
      if (domain && inPath && (!c.secure || where->scheme == HttpClient::kSchemeHttps)) matching.push_back(&c);
    }
    std::stable_sort(matching.begin(), matching.end(),
                     [](const Cookie* a, const Cookie* b) { return a->path.size() > b->path.size(); });
    std::string line;
    for (const Cookie* c : matching) line += (line.empty() ? "" : "; ") + c->name + "=" + c->value;
    return line;
  }

 private:
  Mutex mutex_;
  std::vector<Cookie> cookies_ GUARDED_BY(mutex_);
};

HttpIdentity::HttpIdentity(std::optional<ProxyUrl> proxy, std::unique_ptr<Store> store)
    : proxy_(std::move(proxy)), store_(std::move(store)) {}
HttpIdentity::~HttpIdentity() = default;

HttpIdentity::Made HttpIdentity::Create(std::optional<ProxyUrl> proxy) {
  // WinINet speaks SOCKS only in its CERN form, without names or passwords:
  // such an identity would go direct, or nowhere, without a word.
  if (proxy && proxy->kind == ProxyUrl::Kind::kSocks5) {
    return {nullptr, "proxy " + proxy->Display() + ": SOCKS5 proxies need the Linux build; use an http:// proxy here"};
  }
  return {std::shared_ptr<HttpIdentity>(new HttpIdentity(std::move(proxy), std::make_unique<Store>())), ""};
}

CookieFileLoad HttpIdentity::LoadCookieFile(const std::string& path) {
  return http::ReadCookieFile(path, [this](const http::FileCookie& cookie) {
    const auto [url, data] = CookieFromFile(cookie);
    return store_->Take(url, data, cookie.expires ? std::optional<std::time_t>(*cookie.expires) : std::nullopt);
  });
}

// As WinINet combines URLs: spaces and bytes above 0x7F percent-encoded.
std::optional<std::string> http::ResolveLocation(const std::string& base, std::string_view location) {
  const std::string relative(location);
  std::string resolved(2 * (base.size() + relative.size()) + 64, '\0');
  DWORD size = static_cast<DWORD>(resolved.size());
  if (!InternetCombineUrlA(base.c_str(), relative.c_str(), resolved.data(), &size, 0)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
    resolved.assign(size + 1, '\0');
    if (!InternetCombineUrlA(base.c_str(), relative.c_str(), resolved.data(), &size, 0)) return std::nullopt;
  }
  resolved.resize(size);
  return resolved;
}

// One request's handles and progress, seen from Send's thread: the WinINet
// operations on its request handle, each begun and waited for here.
class HttpClient::Transfer {
 public:
  using Deadline = std::optional<Clock::time_point>;

  Transfer(const HttpClient& client, Progress& progress) : progress(progress), client_(client) {
    MutexLock lock(transfersMutex);
    transfers.push_back(shared);
  }
  ~Transfer() {
    {
      MutexLock lock(transfersMutex);
      transfers.erase(std::find(transfers.begin(), transfers.end(), shared));
    }
    shared->Release();
  }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Sends the request with `payload`. False when it was not sent, or went
  // over a pooled connection, whose bytes are never taken for its answer.
  bool SendRequest(std::string_view payload, Deadline deadline);
  // Takes the response's status and header block, and the Content-Length
  // its body ends at.
  void ReadHead(std::string_view verb);
  bool NothingToRead() const { return bodyLeft_ == std::uint64_t{0}; }
  // Reads the body to its end, or until a failure, a stall, the deadline,
  // the cap or the abort hook ends it, keeping what was read.
  void ReadBody(Deadline deadline);

  Progress& progress;
  Shared* const shared = new Shared;
  HINTERNET request = nullptr;  // the request handle while it is open
  DWORD error = 0;              // why the last operation failed, when WinINet said

 private:
  // Why a wait for WinINet ended.
  enum class Waited { kCompleted, kAborted, kTimedOut };

  bool AbortAsked() const { return client_.abortHook_ && client_.abortHook_(); }
  // Waits for the operation begun last, looking at the hook, the deadline
  // and the stall time-outs at every wake and at least once a second.
  Waited Wait(Deadline deadline);
  // Runs one operation, begun by `begin`, to its end; false when it failed
  // or was ended.
  template <typename Begin>
  bool Complete(Begin begin, Deadline deadline);

  // Hands what a read brought to the body; false when reading must stop.
  bool Keep(const char* data, std::size_t n) {
    const bool more = progress.Keep(data, n);
    MutexLock lock(shared->mutex);
    shared->lastMoved = Clock::now();
    return more;
  }

  const HttpClient& client_;
  Clock::time_point start_;                // when the sending began
  std::optional<std::uint64_t> bodyLeft_;  // of the Content-Length, when the response gives one
};

HttpClient::HttpClient() { body_.reserve(128); }

bool HttpClient::EnsureRootHandle() {
  if (!rootHandle_) rootHandle_ = RootHandle{};
  if (!rootHandle_->native) {
    // Direct access, or the identity's proxy: never one from the system's
    // settings. Loopback goes through the proxy too ("<-loopback>"), where
    // WinINet would bypass it.
    const ProxyUrl* proxy = identity_ && identity_->Proxy() ? &*identity_->Proxy() : nullptr;
    const std::string proxyName = proxy ? proxy->Display() : "";
    HINTERNET root = InternetOpenA(userAgent_.c_str(), proxy ? INTERNET_OPEN_TYPE_PROXY : INTERNET_OPEN_TYPE_DIRECT,
                                   proxy ? proxyName.c_str() : nullptr, proxy ? "<-loopback>" : nullptr,
                                   INTERNET_FLAG_ASYNC | INTERNET_FLAG_NO_CACHE_WRITE);
    if (!root) return false;
    rootHandle_->native = std::shared_ptr<void>(root, CloseInternetHandle{});
    InternetSetStatusCallbackA(root, &OnStatus);  // inherited by every handle made under it
  }
  return true;
}

void HttpClient::ApplyTimeouts(std::int32_t connectTimeout, std::int32_t sendTimeout, std::int32_t receiveTimeout) {
  HINTERNET root = rootHandle_->native.get();
  const auto set = [root](DWORD option, std::int32_t value) {
    DWORD ms = static_cast<DWORD>(value);
    InternetSetOptionA(root, option, &ms, sizeof ms);
  };
  // In this order; each only when given. WinINet's own time-outs stand
  // beside the stall time-outs that RunTransfer keeps.
  if (connectTimeout > 0) {
    rootHandle_->connectTimeout = connectTimeout;
    set(INTERNET_OPTION_CONNECT_TIMEOUT, connectTimeout);
  }
  if (receiveTimeout > 0) {
    rootHandle_->receiveTimeout = receiveTimeout;
    set(INTERNET_OPTION_RECEIVE_TIMEOUT, receiveTimeout);
  }
  if (sendTimeout > 0) {
    rootHandle_->sendTimeout = sendTimeout;
    set(INTERNET_OPTION_DATA_SEND_TIMEOUT, sendTimeout);
  }
}

CookieFileLoad HttpClient::LoadCookieFile(const std::string& path) {
  // Kept for the process only, never written to the system's store: the
  // expiry is left off.
  return http::ReadCookieFile(path, [](const http::FileCookie& cookie) {
    const auto [url, data] = CookieFromFile(cookie);
    return InternetSetCookieA(url.c_str(), nullptr, data.c_str()) != FALSE;
  });
}

void HttpClient::Perform(const Request& request, Progress& progress,
                         std::optional<std::chrono::steady_clock::time_point> deadline) {
  Transfer transfer(*this, progress);
  progress.url = request.url;
  RunTransfer(request, transfer, deadline);
  if (!progress.responded && !progress.gaveUp) {
    lastError_ = ProxyError(transfer.error ? Failure(transfer.error) : std::string("no answer within the time-outs"));
  }
}

void HttpClient::SetTransferOptions(const Request& request, Transfer& transfer) const {
  std::vector<std::string> lines = request.Lines();
  // Asks the server to close the connection after its answer; one that
  // does not never answers another request over it (see PoolGate).
  lines.emplace_back("Connection: close");
  if (identity_) {
    const std::string cookies = identity_->Cookies().For(request.url);
    if (!cookies.empty()) lines.push_back("Cookie: " + cookies);
  }
  for (const std::string& line : lines) {
    HttpAddRequestHeadersA(transfer.request, line.c_str(), static_cast<DWORD>(line.size()),
                           HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
  }
}

void HttpClient::SetRoute(const Request&, void* handle) const {
  const ProxyUrl* proxy = identity_ && identity_->Proxy() ? &*identity_->Proxy() : nullptr;
  if (!proxy || !proxy->HasCredentials()) return;
  // On the request: WinINet answers the proxy's challenge with them.
  InternetSetOptionA(handle, INTERNET_OPTION_PROXY_USERNAME, const_cast<char*>(proxy->user.c_str()),
                     static_cast<DWORD>(proxy->user.size()));
  InternetSetOptionA(handle, INTERNET_OPTION_PROXY_PASSWORD, const_cast<char*>(proxy->password.c_str()),
                     static_cast<DWORD>(proxy->password.size()));
}

void HttpClient::RunTransfer(const Request& request, Transfer& transfer,
                             std::optional<std::chrono::steady_clock::time_point> deadline) const {
  Shared& shared = *transfer.shared;
  HINTERNET root = rootHandle_->native.get();
  HINTERNET connection = InternetConnectA(root, request.where.host.c_str(), request.where.port, nullptr, nullptr,
                                          INTERNET_SERVICE_HTTP, 0, 0);
  if (!connection) return;
  // However RunTransfer ends, an operation in flight included: the close
  // ends it.
  struct Handles {
    ~Handles() {
      poolGate.EndChoice(*transfer.shared);  // a choice still open was abandoned: the close may not wait for it
      CloseRequest(root, connection, transfer.request, transfer.progress.finished);
    }
    const std::shared_ptr<void>& root;
    HINTERNET connection;
    Transfer& transfer;
  } handles{rootHandle_->native, connection, transfer};
  // Redirects are Send's to follow: WinINet would keep the body and its
  // lines for a POST turned into a GET, and write the port into the Host
  // line. Nothing is cached or read from a cache.
  DWORD flags =
      INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_UI;
  if (request.where.scheme == kSchemeHttps) flags |= INTERNET_FLAG_SECURE;
  if (identity_) flags |= INTERNET_FLAG_NO_COOKIES;  // the identity's store, not the process's
  std::string target = request.requestTarget;
  if (target.empty()) {
    const std::string full = http::RequestTarget(request.url);  // after a redirect: the URL's, without the fragment
    target = full.substr(0, full.find('#'));
  }
  shared.references.fetch_add(1);  // WinINet's, given back at INTERNET_STATUS_HANDLE_CLOSING
  transfer.request = HttpOpenRequestA(connection, request.verb.c_str(), target.c_str(), "HTTP/1.1", nullptr, nullptr,
                                      flags, reinterpret_cast<DWORD_PTR>(&shared));
  // A failed open may or may not have called back: the reference is kept
  // rather than risk giving it back twice.
  if (!transfer.request) {
    transfer.error = GetLastError();
    return;
  }
  SetRoute(request, transfer.request);
  SetTransferOptions(request, transfer);
  if (!transfer.SendRequest(request.payload, deadline)) return;
  transfer.ReadHead(request.verb);
  if (identity_) {
    for (const HeaderEntry& header : http::ParseHeaderBlock(transfer.progress.rawHeaders)) {
      if (header.name && header.value && http::EqualsIgnoringCase(*header.name, "Set-Cookie")) {
        identity_->Cookies().Take(request.url, *header.value);
      }
    }
  }
  // A redirect's body is of no use: the request ends at its headers.
  if (transfer.progress.FindRedirect(transfer.progress.status, request.url)) return;
  // Nothing to read: whole at its headers, where the read loop would take
  // the missing bytes for a connection closed midway.
  if (transfer.NothingToRead()) {
    transfer.progress.finished = true;
    return;
  }
  transfer.ReadBody(deadline);
}

HttpClient::Transfer::Waited HttpClient::Transfer::Wait(Deadline deadline) {
  const RootHandle& root = *client_.rootHandle_;
  for (;;) {
    {
      MutexLock lock(shared->mutex);
      shared->woken = false;  // a wake from here on is seen by the hook or ends the wait below
    }
    if (AbortAsked()) return Waited::kAborted;
    MutexLock lock(shared->mutex);
    if (shared->completed) return Waited::kCompleted;
    const Clock::time_point now = Clock::now();
    Clock::time_point due = now + std::chrono::seconds(1);
    if (deadline) {
      if (now >= *deadline) return Waited::kTimedOut;
      due = std::min(due, *deadline);
    }
    std::int32_t limit = 0;
    Clock::time_point since = shared->lastMoved;
    if (!shared->connected) {
      limit = root.connectTimeout, since = start_;
    } else if (!shared->sent) {
      limit = root.sendTimeout;
    } else {
      limit = root.receiveTimeout;
      // Once the body has begun, a window in which it came too slowly
      // ends it as a stall does.
      if (progress.received > 0) since = std::min(since, progress.slowSince);
    }
    if (limit > 0) {
      const Clock::time_point stall = since + std::chrono::milliseconds(limit);
      if (now >= stall) return Waited::kTimedOut;
      due = std::min(due, stall);
    }
    shared->mutex.WaitFor(shared->changed, due - now,
                          [&]() REQUIRES(shared->mutex) { return shared->completed || shared->woken; });
  }
}

template <typename Begin>
bool HttpClient::Transfer::Complete(Begin begin, Deadline deadline) {
  {
    MutexLock lock(shared->mutex);
    shared->completed = false;
  }
  if (begin()) return true;
  if (const DWORD failed = GetLastError(); failed != ERROR_IO_PENDING) {
    error = failed;
    return false;
  }
  switch (Wait(deadline)) {
    case Waited::kCompleted: {
      MutexLock lock(shared->mutex);
      if (!shared->succeeded) error = shared->error;
      return shared->succeeded;
    }
    case Waited::kAborted:
      progress.gaveUp = true;
      break;
    case Waited::kTimedOut:
      break;
  }
  return false;  // the operation is still in flight: nothing more is asked of the request
}

bool HttpClient::Transfer::SendRequest(std::string_view payload, Deadline deadline) {
  shared->payload.assign(payload);
  start_ = Clock::now();
  const DWORD payloadSize = static_cast<DWORD>(shared->payload.size());
  void* optional = payloadSize > 0 ? shared->payload.data() : nullptr;
  poolGate.BeginChoice(*shared);
  if (!Complete([&] { return HttpSendRequestA(request, nullptr, 0, optional, payloadSize) != FALSE; }, deadline)) {
    return false;
  }
  poolGate.EndChoice(*shared);
  // A pooled connection, which the gate should have kept from this request:
  // its bytes may have been sent for another request, and are never taken
  // for this one's answer.
  MutexLock lock(shared->mutex);
  return shared->ownConnection;
}

void HttpClient::Transfer::ReadHead(std::string_view verb) {
  progress.Responded(Clock::now());
  DWORD status = 0, size = sizeof status;
  if (HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
    progress.status = status;
  }
  progress.rawHeaders = QueryText(request, HTTP_QUERY_RAW_HEADERS_CRLF).value_or("");
  const std::vector<HeaderEntry> headers = http::ParseHeaderBlock(progress.rawHeaders);
  const std::string length(http::HeaderValue(headers, "Content-Length"));
  if (!length.empty() && length.find_first_not_of("0123456789") == std::string::npos &&
      http::HeaderValue(headers, "Transfer-Encoding").empty()) {
    bodyLeft_ = std::strtoull(length.c_str(), nullptr, 10);
  }
  // A response to HEAD, a 204 and a 304 have no body, whatever their
  // Content-Length says.
  if (http::EqualsIgnoringCase(verb, "HEAD") || status == 204 || status == 304) bodyLeft_ = 0;
}

void HttpClient::Transfer::ReadBody(Deadline deadline) {
  for (;;) {
    // A fast body never waits: the hook and the deadline are looked at
    // between reads too.
    if (AbortAsked()) {
      progress.gaveUp = true;
      break;
    }
    if (deadline && Clock::now() >= *deadline) break;
    // InternetReadFile waits until its buffer is full: a body that stalls
    // or drips would keep what it brought in WinINet's hands. Waiting for
    // data first and then reading only what is there keeps every byte read.
    DWORD& available = shared->available;
    const bool ready =
        Complete([&] { return InternetQueryDataAvailable(request, &available, 0, 0) != FALSE; }, deadline);
    if (!ready) break;  // a failure or a time-out keeps what was read
    if (!InternetQueryDataAvailable(request, &available, 0, 0)) break;
    if (available == 0) {
      // The end of the data. Short of the Content-Length, the server closed
      // the connection midway: WinINet (Wine's, at least) reports no error.
      progress.finished = !bodyLeft_;
      break;
    }
    const bool read = Complete(
        [&] {
          shared->read = 0;
          return InternetReadFile(request, shared->buffer.data(), std::min(available, kReadChunk), &shared->read) !=
                 FALSE;
        },
        deadline);
    if (!read) break;
    if (shared->read == 0) {
      progress.finished = !bodyLeft_;  // as above
      break;
    }
    // WinINet (Wine's, at least) hands over whatever arrived with the
    // headers, bytes past the Content-Length included, and then waits for
    // more: the body ends at its length here.
    DWORD n = shared->read;
    if (bodyLeft_) n = static_cast<DWORD>(std::min<std::uint64_t>(n, *bodyLeft_));
    if (!Keep(shared->buffer.data(), n)) break;
    if (bodyLeft_ && (*bodyLeft_ -= n) == 0) {
      progress.finished = true;
      break;
    }
  }
}

void HttpClient::WakeTransfers() {
  MutexLock lock(transfersMutex);
  for (Shared* shared : transfers) {
    MutexLock wake(shared->mutex);
    shared->woken = true;
    shared->changed.notify_all();
  }
}

}  // namespace kelvarn
