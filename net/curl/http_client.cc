#include "net/http_client.h"

#include <curl/curl.h>
#include <unistd.h>

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

using http::CrackedUrl;
using http::CrackUrl;
using http::EqualsIgnoringCase;
using http::TakeResponseMemory;

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

// The process's cookie store, shared by every request on every thread, with
// a lock for each kind of data curl shares. Never destroyed: a thread may end
// after the process's static objects have gone. Plain std::mutex: curl takes
// and releases them in separate callbacks, which the thread-safety analysis
// cannot pair, and they guard curl's data, none of ours.
std::mutex* const shareLocks = new std::mutex[CURL_LOCK_DATA_LAST];

CURLSH* Cookies() {
  static CURLSH* const share = [] {
    InitCurlOnce();
    CURLSH* made = curl_share_init();
    if (!made) return made;
    curl_share_setopt(
        made, CURLSHOPT_LOCKFUNC,
        +[](CURL*, curl_lock_data data, curl_lock_access, void*) { shareLocks[data].lock(); });
    curl_share_setopt(
        made, CURLSHOPT_UNLOCKFUNC, +[](CURL*, curl_lock_data data, void*) { shareLocks[data].unlock(); });
    curl_share_setopt(made, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    return made;
  }();
  return share;
}

// `location` made absolute against `base`, as libcurl does when it follows a
// redirect itself: relative forms resolved, spaces and bytes above 0x7F
// percent-encoded.
std::optional<std::string> ResolveLocation(const std::string& base, std::string_view location) {
  while (!location.empty() && (location.back() == ' ' || location.back() == '\t')) location.remove_suffix(1);
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

}  // namespace

// One Send's easy handle and header lines, given back however it ends.
struct HttpClient::Request {
  Request() = default;
  ~Request() {
    curl_slist_free_all(lines);
    GiveBackEasy(easy);
  }
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  CURL* easy = TakeEasy();
  curl_slist* lines = nullptr;
  std::string verb, url;            // the method and the URL to ask
  std::string requestTarget;        // for the request line, as it is; empty: from the URL
  std::optional<std::string> host;  // for the Host line; none: libcurl writes its own
  std::string_view payload;         // the caller's body, alive for the whole Send
  bool postLines = false;           // Cache-Control, which a POST adds
  bool contentLines = false;        // Content-Type, and Content-Length with a payload
};

// One request's progress, seen from curl's callbacks.
class HttpClient::Transfer {
 public:
  explicit Transfer(HttpClient& client) : client_(client) {}

  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    auto& t = *static_cast<Transfer*>(self);
    const std::string_view line(data, size * count);
    if (line.substr(0, 5) == "HTTP/") t.rawHeaders.clear();  // a new response: keep only the final one's headers
    t.rawHeaders.append(line);
    t.Received(line.size());
    // At the end of a redirect's headers the transfer ends: its body is of no
    // use, and the connection is not kept.
    if ((line == "\r\n" || line == "\n") && t.mayFollow && t.FindRedirect()) return 0;
    return size * count;
  }

  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) {
    auto& t = *static_cast<Transfer*>(self);
    HttpClient& client = t.client_;
    const std::size_t n = size * count;
    const std::size_t room = kMaxBodyBytes - std::min(kMaxBodyBytes, client.body_.size());
    const std::size_t kept = std::min(n, room);
    if (!TakeResponseMemory(kept)) {
      t.outOfMemory = true;
      return 0;  // ends the transfer
    }
    client.body_.append(data, kept);
    t.Received(n);
    if (n <= room) return n;
    t.capped = true;
    return 0;  // ends the transfer at the cap
  }

  // Whether the response whose headers are held redirects to an http or
  // https URL; if so, notes its Location and the URL it resolves to.
  bool FindRedirect() {
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) return false;
    const std::vector<HeaderEntry> headers = http::ParseHeaderBlock(rawHeaders);
    const std::string_view location = http::HeaderValue(headers, "Location");
    if (location.empty()) return false;
    std::optional<std::string> resolved = ResolveLocation(*url, location);
    const std::optional<CrackedUrl> cracked = resolved ? CrackUrl(*resolved) : std::nullopt;
    if (!cracked || (cracked->scheme != kSchemeHttp && cracked->scheme != kSchemeHttps)) return false;
    redirectStatus = status;
    redirectLocation = std::string(location);
    redirectUrl = std::move(*resolved);
    redirectHost = *cracked;
    return true;
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

  // Counts response bytes. The slow-transfer window starts again whenever
  // the bytes since its start arrived at kMinBytesPerSecond or faster.
  void Received(std::size_t n) {
    const Clock::time_point now = Clock::now();
    if (!responded) slowSince = now;
    responded = true;
    received += n;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - slowSince).count();
    if ((received - slowBytes) * 1000 >= static_cast<std::uint64_t>(kMinBytesPerSecond * elapsed)) {
      slowSince = now;
      slowBytes = received;
    }
    lastMoved = now;
  }

  std::string rawHeaders;
  bool responded = false;
  std::uint64_t received = 0, slowBytes = 0;  // response bytes: all, and at slowSince
  Clock::time_point slowSince;
  bool outOfMemory = false;  // the process-wide bound on bodies was reached
  bool capped = false;       // the body reached kMaxBodyBytes
  curl_off_t uploaded = 0;
  Clock::time_point lastMoved = Clock::now();
  bool finished = false;  // curl saw the transfer through without an error
  bool gaveUp = false;    // the abort hook ended it

  CURL* easy = nullptr;
  const std::string* url = nullptr;  // the URL asked, which a relative Location builds on
  bool mayFollow = false;
  long redirectStatus = 0;  // set when the response was a redirect to follow
  std::string redirectLocation, redirectUrl;
  CrackedUrl redirectHost{};

 private:
  HttpClient& client_;
};

HttpClient::HttpClient() {
  InitCurlOnce();
  body_.reserve(128);
}

HttpClient::~HttpClient() { TrimBody(0); }

bool HttpClient::EnsureRootHandle() {
  if (!Cookies()) return false;
  if (!rootHandle_) rootHandle_ = RootHandle{};
  return true;
}

bool HttpClient::LoadCookieFile(const std::string& path) {
  if (::access(path.c_str(), R_OK) != 0) return false;
  CURLSH* cookies = Cookies();
  CURL* easy = cookies ? curl_easy_init() : nullptr;
  if (!easy) return false;
  curl_easy_setopt(easy, CURLOPT_SHARE, cookies);
  curl_easy_setopt(easy, CURLOPT_COOKIEFILE, path.c_str());
  const bool loaded = curl_easy_setopt(easy, CURLOPT_COOKIELIST, "RELOAD") == CURLE_OK;
  curl_easy_cleanup(easy);
  return loaded;
}

void HttpClient::ApplyTimeouts(std::int32_t connectTimeout, std::int32_t sendTimeout, std::int32_t receiveTimeout) {
  if (connectTimeout > 0) rootHandle_->connectTimeout = connectTimeout;
  if (receiveTimeout > 0) rootHandle_->receiveTimeout = receiveTimeout;
  if (sendTimeout > 0) rootHandle_->sendTimeout = sendTimeout;
}

bool HttpClient::Send(const Value& body, std::int32_t connectTimeout, std::int32_t sendTimeout,
                      std::int32_t receiveTimeout) {
  CheckThread();
  ending_ = Ending::kNotSent;
  finalUrl_.clear();
  redirects_.clear();
  if (!EnsureRootHandle()) return false;
  ApplyTimeouts(connectTimeout, sendTimeout, receiveTimeout);
  if ((scheme_ != kSchemeHttp && scheme_ != kSchemeHttps) || !host_ || !schemeName_) return false;

  std::string_view payload = http::BodyBytes(body);
  const std::optional<Clock::time_point> deadline =
      http::OverallDeadline(rootHandle_->connectTimeout, rootHandle_->sendTimeout, rootHandle_->receiveTimeout);

  std::string verb = verb_.value_or("GET");
  // libcurl leaves a fragment off the request line, where the target Open
  // took keeps it: the line takes the whole target, the URL (the base of a
  // relative redirect, the path of cookies) all but the fragment.
  std::string requestTarget = http::SendableTarget(path_.value_or("/"));
  std::string url =
      *schemeName_ + "://" + *host_ + ":" + std::to_string(port_) + requestTarget.substr(0, requestTarget.find('#'));
  std::optional<std::string> host = host_;
  const bool postLines = EqualsIgnoringCase(verb, "POST");
  bool contentLines = postLines;
  for (int followed = 0;; ++followed) {
    Transfer transfer(*this);  // declared first: it outlives the handle whose callbacks point at it
    Request request;
    if (!request.easy) return false;
    request.verb = verb, request.url = url, request.requestTarget = requestTarget;
    request.host = host, request.payload = payload;
    request.postLines = postLines, request.contentLines = contentLines;
    if (!BuildRequest(request)) {
      rootHandle_.reset();
      EnsureRootHandle();
      return false;
    }
    transfer.mayFollow = followed < kMaxRedirects;
    SetTransferOptions(request, transfer);
    const std::size_t bodyBefore = body_.size();
    RunTransfer(request, transfer, deadline);
    if (transfer.redirectStatus == 0 || transfer.gaveUp) {
      return Finish(request, transfer, bodyBefore);
    }
    // The next request, as the platform's stack makes it: 301 and 302 turn a
    // POST, 303 anything but GET and HEAD, into a GET without the body or its
    // content lines; 307 and 308 ask again as before. The Host line stays
    // ours while the host and port do.
    redirects_.push_back(transfer.redirectLocation);
    const long status = transfer.redirectStatus;
    if (((status == 301 || status == 302) && EqualsIgnoringCase(verb, "POST")) ||
        (status == 303 && !EqualsIgnoringCase(verb, "GET") && !EqualsIgnoringCase(verb, "HEAD"))) {
      verb = "GET";
      payload = {};
      contentLines = false;
    }
    url = transfer.redirectUrl;
    requestTarget.clear();
    const bool sameHost = EqualsIgnoringCase(*host_, transfer.redirectHost.host) && port_ == transfer.redirectHost.port;
    host = sameHost ? host_ : std::nullopt;
  }
}

bool HttpClient::Finish(const Request& request, const Transfer& transfer, std::size_t bodyBefore) {
  if (transfer.outOfMemory) TrimBody(bodyBefore);
  const bool ok = transfer.responded && !transfer.gaveUp && !transfer.outOfMemory;
  if (transfer.gaveUp) {
    ending_ = Ending::kAborted;
  } else if (transfer.outOfMemory) {
    ending_ = Ending::kOutOfMemory;
  } else if (transfer.responded) {
    ending_ = transfer.finished && !transfer.capped ? Ending::kComplete : Ending::kCutOff;
  }
  if (ok) {
    long status = 0;
    if (curl_easy_getinfo(request.easy, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status > 0) {
      statusCode_ = static_cast<std::uint32_t>(status);
    }
    const char* effective = nullptr;
    if (curl_easy_getinfo(request.easy, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) {
      finalUrl_ = effective;
    }
    responseHeaders_ = http::ParseHeaderBlock(transfer.rawHeaders);
  }
  return ok;  // the request's handles close with it; the root stays open for the next Send
}

bool HttpClient::BuildRequest(Request& request) const {
  const std::string hostLine = request.host ? "Host: " + *request.host : std::string();
  const std::string lengthLine = "Content-Length: " + std::to_string(request.payload.size());
  const bool content = request.contentLines;
  const char* lines[] = {
      "Accept: */*",
      request.host ? hostLine.c_str() : nullptr,
      content ? "Content-Type: application/x-www-form-urlencoded" : "Content-Type:",  // empty: curl adds none
      content && !request.payload.empty() ? lengthLine.c_str() : nullptr,
      request.postLines ? "Cache-Control: no-cache" : nullptr,
      "Expect:",  // no 100-continue round trip
  };
  for (const char* line : lines) {
    if (!line) continue;
    curl_slist* grown = curl_slist_append(request.lines, line);
    if (!grown) return false;
    request.lines = grown;
  }
  return true;
}

void HttpClient::SetTransferOptions(const Request& request, Transfer& transfer) const {
  CURL* easy = request.easy;
  transfer.easy = easy;
  transfer.url = &request.url;
  curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
  if (!request.requestTarget.empty()) curl_easy_setopt(easy, CURLOPT_REQUEST_TARGET, request.requestTarget.c_str());
  curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  // Redirects are followed by Send, which changes the method and drops the
  // body and its lines where the status says so; libcurl would keep them.
  curl_easy_setopt(easy, CURLOPT_PROXY, "");  // no proxy from the environment
  // A new connection for every request, closed after it. A server may leave
  // bytes on a kept connection (an unasked response, a body longer than it
  // said), and nothing tells them from the answer to the next request sent
  // there: that keyword would get another page's phrases.
  curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_USERAGENT, userAgent_.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, request.lines);
  curl_easy_setopt(easy, CURLOPT_SHARE, Cookies());
  curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");  // the cookie engine, on the process's store
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
}

void HttpClient::RunTransfer(const Request& request, Transfer& transfer,
                             std::optional<std::chrono::steady_clock::time_point> deadline) const {
  // Driven through a multi handle so that the abort hook and the stall
  // time-outs are looked at whatever the network does: at activity, at a
  // wake, when a stall time-out or the deadline falls due, and at least once
  // a second. A shorter fixed tick woke every request of a slow server for
  // nothing.
  CURL* easy = request.easy;
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
          transfer.finished = message->data.result == CURLE_OK;
        }
      }
      break;
    }
    if (abortHook_ && abortHook_()) {
      transfer.gaveUp = true;
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
      const bool sending = transfer.uploaded < static_cast<curl_off_t>(request.payload.size()) && !transfer.responded;
      const std::int32_t limit = sending ? rootHandle_->sendTimeout : rootHandle_->receiveTimeout;
      if (limit > 0) {
        // Once the response has begun, a window in which it came too slowly
        // ends it as a stall does; the window starts at the last byte or earlier.
        const auto since = !sending && transfer.responded ? transfer.slowSince : transfer.lastMoved;
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
