#include "net/http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "base/thread_safety.h"
#include "net/http_client_shared.h"
#include "net/http_text.h"

namespace kelvarn {
namespace {

using Clock = std::chrono::steady_clock;

// Per thread, kept for the thread's life: one multi handle (making one per
// request costs a socket pair and several system calls each time) and one
// spare easy handle, reset between requests instead of rebuilt (its buffers
// and state cost a dozen allocations). A client belongs to its thread.
//
// Every thread's multi handle is listed, so that WakeTransfers can reach the
// waits of all of them. The list is never destroyed: a thread may end after
// the process's static objects have gone.
Mutex& multisMutex = *new Mutex;
std::vector<CURLM*>& multis GUARDED_BY(multisMutex) = *new std::vector<CURLM*>;

struct ThreadCurl {
  CURLM* multi = curl_multi_init();
  CURL* spare = nullptr;
  ThreadCurl() {
    if (!multi) return;
    try {
      MutexLock lock(multisMutex);
      multis.push_back(multi);
    } catch (const std::bad_alloc&) {
      curl_multi_cleanup(std::exchange(multi, nullptr));  // one no wake could reach: none, and Send fails
    }
  }
  ~ThreadCurl() {
    if (spare) curl_easy_cleanup(spare);
    if (!multi) return;
    {
      MutexLock lock(multisMutex);
      multis.erase(std::find(multis.begin(), multis.end(), multi));
    }
    curl_multi_cleanup(multi);
  }
};

ThreadCurl& ThisThreadCurl() {
  thread_local ThreadCurl handles;
  return handles;
}

CURLM* ThreadMulti() { return ThisThreadCurl().multi; }

// An easy handle with no options set: the thread's spare, reset, or a new one.
CURL* TakeEasy() {
  ThreadCurl& handles = ThisThreadCurl();
  if (CURL* easy = std::exchange(handles.spare, nullptr)) {
    curl_easy_reset(easy);
    return easy;
  }
  return curl_easy_init();
}

// Ends a request's easy handle. It leaves the client's cookie share first:
// the share goes with the client, the handle may live on as the spare. Its
// list of cookie files goes too, which a reset would drop without freeing.
void GiveBackEasy(CURL* easy) {
  if (!easy) return;
  curl_easy_setopt(easy, CURLOPT_COOKIEFILE, static_cast<char*>(nullptr));
  curl_easy_setopt(easy, CURLOPT_SHARE, nullptr);
  ThreadCurl& handles = ThisThreadCurl();
  if (handles.spare) {
    curl_easy_cleanup(easy);
  } else {
    handles.spare = easy;
  }
}

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// A cookie store: a share of cookie data with a lock for each kind of data
// curl shares, `locks` (CURL_LOCK_DATA_LAST of them). Plain std::mutex: curl
// takes and releases them in separate callbacks, which the thread-safety
// analysis cannot pair, and they guard curl's data, none of ours.
CURLSH* MakeCookieShare(std::mutex* locks) {
  InitCurlOnce();
  CURLSH* made = curl_share_init();
  if (!made) return made;
  curl_share_setopt(made, CURLSHOPT_USERDATA, locks);
  curl_share_setopt(
      made, CURLSHOPT_LOCKFUNC,
      +[](CURL*, curl_lock_data data, curl_lock_access, void* locks) { static_cast<std::mutex*>(locks)[data].lock(); });
  curl_share_setopt(
      made, CURLSHOPT_UNLOCKFUNC,
      +[](CURL*, curl_lock_data data, void* locks) { static_cast<std::mutex*>(locks)[data].unlock(); });
  curl_share_setopt(made, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
  return made;
}

// The process's cookie store, shared by every request on every thread
// without an identity. Never destroyed: a thread may end after the process's
// static objects have gone.
CURLSH* Cookies() {
  static CURLSH* const share = MakeCookieShare(new std::mutex[CURL_LOCK_DATA_LAST]);
  return share;
}

// The cookies in the store `easy` shares.
std::size_t StoreSize(CURL* easy) {
  curl_slist* list = nullptr;
  if (curl_easy_getinfo(easy, CURLINFO_COOKIELIST, &list) != CURLE_OK) return 0;
  std::size_t n = 0;
  for (const curl_slist* item = list; item; item = item->next) ++n;
  curl_slist_free_all(list);
  return n;
}

CookieFileLoad LoadCookiesInto(CURLSH* cookies, const std::string& path) {
  CURL* easy = cookies ? curl_easy_init() : nullptr;
  CookieFileLoad load;
  if (!easy) {
    load.error = "no cookie store could be made";
    return load;
  }
  curl_easy_setopt(easy, CURLOPT_SHARE, cookies);
  // Read here, not by libcurl, which would open a FIFO or a device named
  // cookies.txt and wait on it for ever; each line goes to libcurl's own
  // parser, as its file loader hands them over. What the store gained is
  // counted, since libcurl passes over some lines without a word (a domain
  // that is a public suffix).
  const std::size_t before = StoreSize(easy);
  load = http::ReadCookieFile(path, [easy](const http::FileCookie& cookie) {
    return curl_easy_setopt(easy, CURLOPT_COOKIELIST, std::string(cookie.line).c_str()) == CURLE_OK;
  });
  if (load) load.loaded = std::max(before, StoreSize(easy)) - before;
  curl_easy_cleanup(easy);
  return load;
}

// What a failed transfer through a proxy says, never quoting its
// credentials; curl's own words otherwise, which hold none either.
std::string Failure(CURL* easy, CURLcode code, bool proxied) {
  long connectCode = 0;
  curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &connectCode);
  long proxyError = CURLPX_OK;  // a handle keeps its last one: only CURLE_PROXY says it is this transfer's
  if (code == CURLE_PROXY) curl_easy_getinfo(easy, CURLINFO_PROXY_ERROR, &proxyError);
  if (proxied) {
    if (connectCode == 407 || proxyError == CURLPX_USER_REJECTED || proxyError == CURLPX_NO_AUTH) {
      return "refused the user name or password" + (connectCode == 407 ? std::string(" (407)") : "");
    }
    if (code == CURLE_PROXY) return "the SOCKS5 handshake failed (" + std::to_string(proxyError) + ")";
    if (code == CURLE_COULDNT_CONNECT && connectCode == 0) return "no connection";
    if (code == CURLE_OPERATION_TIMEDOUT) return "no answer within the time-out";
    if (code == CURLE_WEIRD_SERVER_REPLY || code == CURLE_GOT_NOTHING || code == CURLE_RECV_ERROR ||
        code == CURLE_UNSUPPORTED_PROTOCOL) {  // the last: garbage read as HTTP/0.9
      return "no HTTP answer";
    }
    if (connectCode >= 400) return "refused the tunnel (" + std::to_string(connectCode) + ")";
  }
  return curl_easy_strerror(code);
}

}  // namespace

// As libcurl follows a redirect itself: relative forms resolved, spaces and
// bytes above 0x7F percent-encoded.
std::optional<std::string> http::ResolveLocation(const std::string& base, std::string_view location) {
  CURLU* url = curl_url();
  if (!url) return std::nullopt;
  const std::string relative(location);
  std::optional<std::string> resolved;
  char* text = nullptr;
  if (curl_url_set(url, CURLUPART_URL, base.c_str(), CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS) == CURLUE_OK &&
      curl_url_set(url, CURLUPART_URL, relative.c_str(),
                   CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS | CURLU_URLENCODE | CURLU_ALLOW_SPACE) == CURLUE_OK &&
      curl_url_get(url, CURLUPART_URL, &text, 0) == CURLUE_OK) {
    resolved = text;
  }
  curl_free(text);
  curl_url_cleanup(url);
  return resolved;
}

// One request's easy handle and header lines, given back however it ends,
// and what curl's callbacks see of it.
class HttpClient::Transfer {
 public:
  explicit Transfer(Progress& progress) : progress(progress) {}
  ~Transfer() {
    curl_slist_free_all(lines);
    GiveBackEasy(easy);
  }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // The request's header lines: the client's, then curl's own. False when
  // they could not be made.
  bool BuildLines(const Request& request) {
    std::vector<std::string> made = request.Lines();
    if (!request.contentLines) made.emplace_back("Content-Type:");  // empty: curl adds none
    made.emplace_back("Expect:");                                   // no 100-continue round trip
    for (const std::string& line : made) {
      curl_slist* grown = curl_slist_append(lines, line.c_str());
      if (!grown) return false;
      lines = grown;
    }
    return true;
  }

  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    auto& t = *static_cast<Transfer*>(self);
    const std::string_view line(data, size * count);
    std::string& rawHeaders = t.progress.rawHeaders;
    if (line.substr(0, 5) == "HTTP/") rawHeaders.clear();  // a new response: keep only the final one's headers
    rawHeaders.append(line);
    const Clock::time_point now = Clock::now();
    t.progress.Responded(now);
    t.progress.Received(line.size(), now);
    t.lastMoved = now;
    // At the end of a redirect's headers the transfer ends: its body is of no
    // use, and the connection is not kept.
    if (line == "\r\n" || line == "\n") {
      long status = 0;
      curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &status);
      if (t.progress.FindRedirect(status, *t.url)) return 0;
    }
    return size * count;
  }

  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) {
    auto& t = *static_cast<Transfer*>(self);
    const std::size_t n = size * count;
    const bool more = t.progress.Keep(data, n);
    t.Moved();
    return more ? n : 0;  // 0 ends the transfer: at the cap, or at the process-wide bound
  }

  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
    auto& t = *static_cast<Transfer*>(self);
    if (uploaded != t.uploaded) {
      t.uploaded = uploaded;
      t.Moved();
    }
    return 0;
  }

  void Moved() { lastMoved = Clock::now(); }

  Progress& progress;
  CURL* easy = TakeEasy();
  curl_slist* lines = nullptr;
  const std::string* url = nullptr;  // the URL asked, which a relative Location builds on
  curl_off_t uploaded = 0;
  std::optional<CURLcode> result;  // how curl ended it, when curl did
  Clock::time_point lastMoved = Clock::now();
};

HttpClient::HttpClient() {
  InitCurlOnce();
  body_.reserve(128);
}

bool HttpClient::EnsureRootHandle() {
  if (!Cookies()) return false;
  if (!rootHandle_) rootHandle_ = RootHandle{};
  return true;
}

CookieFileLoad HttpClient::LoadCookieFile(const std::string& path) { return LoadCookiesInto(Cookies(), path); }

struct HttpIdentity::Store {
  std::mutex locks[CURL_LOCK_DATA_LAST];
  CURLSH* const share = MakeCookieShare(locks);
  Store() = default;
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  // Every client of the identity holds it, and its easy handles leave the
  // share when they end (GiveBackEasy): nothing uses the share any more.
  ~Store() {
    if (share) curl_share_cleanup(share);
  }
};

HttpIdentity::HttpIdentity(std::optional<ProxyUrl> proxy, std::unique_ptr<Store> store)
    : proxy_(std::move(proxy)), store_(std::move(store)) {}
HttpIdentity::~HttpIdentity() = default;

HttpIdentity::Made HttpIdentity::Create(std::optional<ProxyUrl> proxy) {
  auto store = std::make_unique<Store>();
  if (!store->share) return {nullptr, "no cookie store could be made"};
  return {std::shared_ptr<HttpIdentity>(new HttpIdentity(std::move(proxy), std::move(store))), ""};
}

CookieFileLoad HttpIdentity::LoadCookieFile(const std::string& path) { return LoadCookiesInto(store_->share, path); }

void HttpClient::ApplyTimeouts(std::int32_t connectTimeout, std::int32_t sendTimeout, std::int32_t receiveTimeout) {
  if (connectTimeout > 0) rootHandle_->connectTimeout = connectTimeout;
  if (receiveTimeout > 0) rootHandle_->receiveTimeout = receiveTimeout;
  if (sendTimeout > 0) rootHandle_->sendTimeout = sendTimeout;
}

void HttpClient::Perform(const Request& request, Progress& progress,
                         std::optional<std::chrono::steady_clock::time_point> deadline) {
  Transfer transfer(progress);  // its handle's callbacks point at it; given back when it ends
  if (!transfer.easy) return;
  if (!transfer.BuildLines(request)) {
    rootHandle_.reset();
    EnsureRootHandle();
    return;
  }
  SetTransferOptions(request, transfer);
  RunTransfer(request, transfer, deadline);
  if (!progress.responded && !progress.gaveUp) {
    const bool proxied = identity_ && identity_->Proxy();
    lastError_ = ProxyError(transfer.result ? Failure(transfer.easy, *transfer.result, proxied)
                                            : std::string("no answer within the time-outs"));
  }
  long status = 0;
  if (curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status > 0) {
    progress.status = static_cast<std::uint32_t>(status);
  }
  const char* effective = nullptr;
  if (curl_easy_getinfo(transfer.easy, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) {
    progress.url = effective;
  }
}

void HttpClient::SetTransferOptions(const Request& request, Transfer& transfer) const {
  CURL* easy = transfer.easy;
  transfer.url = &request.url;
  curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
  if (!request.requestTarget.empty()) curl_easy_setopt(easy, CURLOPT_REQUEST_TARGET, request.requestTarget.c_str());
  curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  // Redirects are followed by Send, which changes the method and drops the
  // body and its lines where the status says so; libcurl would keep them.
  SetRoute(request, easy);
  // A new connection for every request, closed after it. A server may leave
  // bytes on a kept connection (an unasked response, a body longer than it
  // said), and nothing tells them from the answer to the next request sent
  // there: that keyword would get another page's phrases.
  curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_USERAGENT, userAgent_.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.lines);
  curl_easy_setopt(easy, CURLOPT_SHARE, identity_ ? identity_->Cookies().share : Cookies());
  curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");  // the cookie engine, on the identity's or the process's store
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  if (rootHandle_->connectTimeout > 0) {
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(rootHandle_->connectTimeout));
  }
  if (!request.payload.empty()) {
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.payload.size()));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.payload.data());
  }
  if (request.verb != "GET" || !request.payload.empty()) {
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.verb.c_str());
  }
  // A response to HEAD has no body, whatever its Content-Length says: told
  // only the method, libcurl would wait for those bytes until the receive
  // time-out. Any letter case, as for POST.
  if (http::EqualsIgnoringCase(request.verb, "HEAD")) curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
}

void HttpClient::SetRoute(const Request& request, CURL* easy) const {
  const ProxyUrl* proxy = identity_ && identity_->Proxy() ? &*identity_->Proxy() : nullptr;
  if (!proxy) {
    curl_easy_setopt(easy, CURLOPT_PROXY, "");  // no proxy from the environment
    return;
  }
  curl_easy_setopt(easy, CURLOPT_PROXY, proxy->Display().c_str());
  curl_easy_setopt(easy, CURLOPT_NOPROXY, "");  // no_proxy in the environment exempts no host
  // SOCKS5 with the name resolved by the proxy: the engine's address is the
  // one seen where the proxy is, and the local resolver never learns which
  // host the identity visits.
  curl_easy_setopt(
      easy, CURLOPT_PROXYTYPE,
      static_cast<long>(proxy->kind == ProxyUrl::Kind::kSocks5 ? CURLPROXY_SOCKS5_HOSTNAME : CURLPROXY_HTTP));
  if (proxy->HasCredentials()) {
    curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, proxy->user.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, proxy->password.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
  }
  // The tunnel's own response is the proxy's, not one to keep.
  curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  // An http target goes to an http:// proxy in absolute form; a target set
  // by hand must say so itself.
  if (proxy->kind == ProxyUrl::Kind::kHttp && request.where.scheme == kSchemeHttp && !request.requestTarget.empty()) {
    const std::string absolute = request.where.schemeName + "://" + request.where.host + ":" +
                                 std::to_string(request.where.port) + request.requestTarget;
    curl_easy_setopt(easy, CURLOPT_REQUEST_TARGET, absolute.c_str());
  }
}

void HttpClient::RunTransfer(const Request& request, Transfer& transfer,
                             std::optional<std::chrono::steady_clock::time_point> deadline) const {
  // Driven through a multi handle so that the abort hook and the stall
  // time-outs are looked at whatever the network does: at activity, at a
  // wake, when a stall time-out or the deadline falls due, and at least once
  // a second. A shorter fixed tick woke every request of a slow server for
  // nothing.
  CURL* easy = transfer.easy;
  CURLM* multi = ThreadMulti();
  if (!multi || curl_multi_add_handle(multi, easy) != CURLM_OK) return;
  bool connected = false;
  for (int running = 1;;) {
    if (curl_multi_perform(multi, &running) != CURLM_OK) break;
    // Done, whatever the outcome: whether the server answered decides the
    // result, and a failure while reading keeps what was read.
    if (!running) {
      int left = 0;
      while (const CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
          transfer.result = message->data.result;
          transfer.progress.finished = message->data.result == CURLE_OK;
        }
      }
      break;
    }
    if (abortHook_ && abortHook_()) {
      transfer.progress.gaveUp = true;
      break;
    }
    auto wait = std::chrono::milliseconds(1000);
    if (deadline) {
      const auto now = Clock::now();
      if (now >= *deadline) break;
      wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(*deadline - now));
    }
    if (!connected) {
      curl_off_t connectTime = 0;
      curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connectTime);
      if (connectTime > 0) connected = true, transfer.Moved();
    }
    if (connected) {
      const bool sending =
          transfer.uploaded < static_cast<curl_off_t>(request.payload.size()) && !transfer.progress.responded;
      const std::int32_t limit = sending ? rootHandle_->sendTimeout : rootHandle_->receiveTimeout;
      if (limit > 0) {
        // Once the response has begun, a window in which it came too slowly
        // ends it as a stall does; the window starts at the last byte or earlier.
        const auto since = !sending && transfer.progress.responded ? transfer.progress.slowSince : transfer.lastMoved;
        const auto due = since + std::chrono::milliseconds(limit);
        const auto now = Clock::now();
        if (now > due) break;
        wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(due - now) + std::chrono::milliseconds(1));
      }
    }
    curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait.count()), nullptr);
  }
  curl_multi_remove_handle(multi, easy);
}

void HttpClient::WakeTransfers() {
  MutexLock lock(multisMutex);
  for (CURLM* multi : multis) curl_multi_wakeup(multi);
}

}  // namespace kelvarn
