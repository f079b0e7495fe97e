// HttpClient (WEB客户): one synchronous HTTP or HTTPS request at a time over
// the platform's HTTP stack (libcurl in net/curl/, WinINet in net/wininet/),
// the whole response kept in memory.
//
// Use: construct, then any number of Open / Send / GetResponseText cycles.
// Open takes the request target from the URL text (everything from the first
// "/" after the host, query and fragment included; "/" when there is none, so
// "h?x=1" loses its query) and starts over with a new root handle; Send makes
// one easy handle for the request, sends exactly these header lines besides
// the User-Agent: "Accept: */*", "Host: " + host (never the port), and for
// POST (any letter case) "Content-Type: application/x-www-form-urlencoded",
// "Content-Length: N" (with a body) and "Cache-Control: no-cache". No proxy is
// taken from the environment.
//
// Redirects are followed as the platform's stack follows them: a 301, 302,
// 303, 307 or 308 whose Location leads to an http or https URL, up to
// kMaxRedirects of them; any other answer, and the one after the last
// redirect allowed, is the response. 301 and 302 turn a POST (any letter
// case), and 303 any method but GET and HEAD, into a GET without the body and
// without the Content-Type and Content-Length lines (Cache-Control stays); 307
// and 308 send the same method and body again. A redirect's own body is not
// read. The Host line is the host alone while the host and port stay those
// of Open; elsewhere libcurl writes it.
//
// Cookies live in one store for the whole process, as the platform's stack
// keeps them: a cookie set on one client's response goes with every later
// request of every client. A client given an identity (SetIdentity) uses the
// identity's store instead, and its route (see HttpIdentity below). Every request goes over a new connection, closed
// after it: bytes a server leaves on a kept connection could pass for the
// answer to the next request. WinINet also sends "Connection: close"; over a
// connection its server keeps open anyway, no other request is answered.
// Over WinINet a body without any other Content-Length gets
// "Content-Length: 0" from the stack, and the response headers come rebuilt,
// without spaces around the colon or at the end of a value. A body ends at
// its Content-Length however many bytes follow; a response to HEAD (any
// letter case), a 204 and a 304 have none. Send appends the body to what the client
// holds; only Open empties it. A 404 or 500 page is collected like any other.
//
// Time-outs are milliseconds, kept to the millisecond, and apply only when
// greater than 0: connectTimeout bounds making the connection; sendTimeout and
// receiveTimeout end a transfer on which no byte has moved for that long while
// sending the request body and while waiting for or reading the response.
//
// Limits beyond the classic client, so that a broken or hostile server can
// neither hold a thread for ever nor exhaust memory:
// - an abort hook, looked at on every wake of a transfer (at least once a
//   second, and at once after WakeTransfers), ends it when it returns true;
// - a response that trickles in at under kMinBytesPerSecond for the whole
//   receive time-out ends there, like a stall;
// - a request ends once the sum of the time-outs given (those above 0) has
//   passed since Send began, however fast its bytes drip in;
// - a body stops growing at kMaxBodyBytes (16 MiB, fifty times a large
//   results page): reading stops there;
// - the bodies held by all clients of the process together stay within
//   ResponseMemoryLimit() (256 MiB by default; a client holds its body until
//   the next Open or its end).
// A response cut short by a time limit or by kMaxBodyBytes keeps what was
// read, and Send still returns true. One ended by the abort hook returns
// false; one that would pass the process-wide bound returns false and keeps
// nothing of that response.
//
// Identities. An HttpIdentity is one way to the engine: a route (direct, or
// one proxy) and a cookie store of its own, made once and shared by every
// client that sends through it, on any thread. A client without one behaves
// as above: the process's store, direct, no proxy from the environment.
// - A cookie set on a response through an identity goes only with later
//   requests through that identity; the process's store neither gives it
//   cookies nor takes its cookies.
// - An http:// proxy carries http targets as absolute-form requests and https
//   ones through a CONNECT tunnel; a socks5:// proxy resolves the target's
//   host name itself (the engine's name is looked up where the proxy is, as
//   a browser behind it would, and the local resolver sees nothing of it).
//   The proxy's user and password go as Basic proxy authorisation or SOCKS5
//   user/password authentication.
// - The connect time-out bounds reaching the proxy and, for SOCKS5 and
//   CONNECT, its handshake; a proxy that accepts and then says nothing ends
//   at the stall time-outs and the deadline as a server does.
// - A proxy that refuses its credentials (a 407, or a 401 from an http://
//   proxy: the engine never asks for authentication, and some proxies answer
//   wrong credentials so) fails Send: its page is not the engine's. The
//   status stays readable; LastError says what happened.
// - Over WinINet: the route is the root handle's (INTERNET_OPEN_TYPE_PROXY),
//   the credentials are set on each request handle, and cookies never reach
//   the system's store (INTERNET_FLAG_NO_COOKIES): the client sends the
//   identity's Cookie line itself and keeps every Set-Cookie of every
//   response, redirects included, as Send follows them itself. That store
//   keeps name, value, domain (host-only or with subdomains), path, Secure
//   and the expiry (Max-Age or Expires); it sends cookies longest path first
//   and ignores SameSite and HttpOnly, which a non-browser client has no use
//   for. SOCKS5 proxies are refused when the identity is made.
// No text this layer makes (LastError, Display, the reasons a proxy or an
// identity is refused) holds the proxy's user or password.
//
// Thread safety: a client belongs to the thread that constructed it. Open and
// Send on any other thread are a run-time error ("WEB客户不能跨线程使用。")
// that ends the program. Separate clients on separate threads are
// independent.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "net/http_text.h"
#include "net/proxy.h"
#include "text/value.h"

namespace kelvarn {

// What loading a Netscape cookie file into a store did. Converts to false
// when the file was not read: it could not be, or it was refused.
struct CookieFileLoad {
  // Bounds that keep a load within a second: a file over kMaxCookieFileBytes,
  // or with more than kMaxCookies usable lines (no browser keeps more), is
  // refused whole, since the stores take each cookie in time that grows with
  // the cookies they hold.
  static constexpr std::size_t kMaxCookieFileBytes = std::size_t{16} << 20;
  static constexpr std::size_t kMaxCookies = 3000;

  std::optional<std::size_t> loaded;  // cookies the store gained; none when not read
  std::uint64_t bytes = 0;            // the file's size, when it was read
  std::string error;                  // why not: the system's reason, or the bound passed
  explicit operator bool() const { return loaded.has_value(); }
};

// A route and a cookie store, shared by the clients sending through it.
// Thread-safe: every member may be used from any thread at once.
class HttpIdentity {
 public:
  struct Made {
    std::shared_ptr<HttpIdentity> identity;  // none when refused
    std::string error;                       // why, without credentials
  };
  // An identity going direct (no proxy) or through `proxy`, with an empty
  // cookie store. Refused when this build's stack cannot use the proxy
  // (SOCKS5 over WinINet) or cannot make a store.
  static Made Create(std::optional<ProxyUrl> proxy = std::nullopt);
  ~HttpIdentity();
  HttpIdentity(const HttpIdentity&) = delete;
  HttpIdentity& operator=(const HttpIdentity&) = delete;

  const std::optional<ProxyUrl>& Proxy() const { return proxy_; }
  // "direct", or the proxy's host:port.
  std::string Display() const { return proxy_ ? proxy_->Display() : "direct"; }
  // Adds the cookies of a Netscape cookie file to this identity's store, as
  // HttpClient::LoadCookieFile does to the process's.
  CookieFileLoad LoadCookieFile(const std::string& path);

  struct Store;  // the backend's cookie store
  Store& Cookies() { return *store_; }

 private:
  HttpIdentity(std::optional<ProxyUrl> proxy, std::unique_ptr<Store> store);
  const std::optional<ProxyUrl> proxy_;
  const std::unique_ptr<Store> store_;
};

class HttpClient {
 public:
  // 117 bytes, sent as the User-Agent of every request.
  static constexpr std::string_view kUserAgent =
      "Mozilla/5.0 (Windows; U; Windows NT 6.1; en-US) AppleWebKit/534.10 (KHTML, like Gecko) "
      "Chrome/7.0.536.2 Safari/534.10";
  static constexpr std::size_t kMaxBodyBytes = std::size_t{16} << 20;
  static constexpr std::size_t kDefaultResponseMemoryLimit = std::size_t{256} << 20;
  static constexpr long kMinBytesPerSecond = 64;
  static constexpr int kMaxRedirects = 30;
  static constexpr std::int32_t kSchemeHttp = http::kSchemeHttp, kSchemeHttps = http::kSchemeHttps;

  using HeaderEntry = http::HeaderEntry;

  HttpClient();  // bound to the calling thread; no network call
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Takes `url` as the target of the next Send. False when the URL does not
  // crack (no "scheme://", a scheme of 32 bytes or more, a host of 256 bytes
  // or more, a path part of 2048 bytes or more, a bad port), or when it could
  // not be sent: an empty host, a host with a byte no host name holds (a
  // space, a control byte, a byte above 0x7F, any of
  // !"#$%&'()*+,/:;<=>?@[\]^`{} outside an IPv6 literal's brackets), or a
  // control byte (0x00-0x1F, 0x7F) anywhere, which would break the request
  // line. Then every field, the body included, is left as it was. Otherwise
  // clears the previous target, status and (if not empty) the body, and opens
  // a new root handle.
  //
  // The target is sent as the platform's stack sends the object name it is
  // given: every space as "%20", everything else as written, the fragment
  // ("#..." after the path or query) included. Of http and https URLs, Open
  // takes none that Send could not put on the wire; other schemes crack, and
  // Send refuses them.
  bool Open(std::string_view verb, std::string_view url);

  // Sends the request opened last with `body` (a text up to its first zero
  // byte, a byte array, or anything else for no body) and reads the response
  // into the body. True when the request was sent and its response read (the
  // body may have stopped early at a failure or the cap); false when there was
  // nothing to send, the scheme is neither http nor https, the connection or
  // the sending failed, or the abort hook fired.
  bool Send(const Value& body = Value{}, std::int32_t connectTimeout = 0, std::int32_t sendTimeout = 0,
            std::int32_t receiveTimeout = 0);

  // A copy of the body up to its first zero byte.
  Text GetResponseText() const;
  // The same text without the copy; valid until the next Open or Send.
  std::string_view ResponseTextView() const;

  // The bound on the body bytes held by all clients together, and what they
  // hold now. Any thread.
  static std::size_t ResponseMemoryLimit();
  static void SetResponseMemoryLimit(std::size_t bytes);
  static std::size_t ResponseMemoryHeld();

  // Looked at whenever a transfer wakes: at network activity, at
  // WakeTransfers, and at least once a second. Returning true ends the
  // transfer. Empty: none.
  void SetAbortHook(std::function<bool()> hook) { abortHook_ = std::move(hook); }
  // Wakes every transfer in progress, on any thread, to look at its abort
  // hook now. For whoever makes a hook return true.
  static void WakeTransfers();

  // How the last Send ended.
  enum class Ending {
    kNotSent,      // no response: nothing to send, no connection, sending failed
    kComplete,     // the whole response was read
    kCutOff,       // a response came but ended early: a time-out, a reset, the deadline, the body cap
    kAborted,      // the abort hook ended it
    kOutOfMemory,  // the process-wide bound on bodies was reached; nothing of it kept
  };
  Ending LastEnding() const { return ending_; }
  // The URL the last Send ended at, after every redirect (empty when none),
  // and the Location of each redirect followed on the way, in order.
  const std::string& FinalUrl() const { return finalUrl_; }
  const std::vector<std::string>& Redirects() const { return redirects_; }

  // Loads the cookies of a Netscape cookie file (the cookies.txt that curl
  // reads and browsers' export add-ons write) into the process's store; the
  // file is never written. A usable line has six or seven tab-separated
  // fields: a host name, TRUE or FALSE (subdomains too), a path, TRUE or
  // FALSE (secure), an expiry in seconds not past (0: the session), a name
  // and a value (none with six), without control characters; "#HttpOnly_"
  // may come before the host name. Other lines are passed over.
  static CookieFileLoad LoadCookieFile(const std::string& path);

  // Every later request goes through `identity` (none: the process's store,
  // direct). Like Open, it starts over with a new root handle, so time-outs
  // given before are forgotten.
  void SetIdentity(std::shared_ptr<HttpIdentity> identity);
  const std::shared_ptr<HttpIdentity>& Identity() const { return identity_; }
  // Why the last Send failed, in English, naming a proxy by its Display
  // only; empty after a Send that succeeded, and when the stack said nothing.
  const std::string& LastError() const { return lastError_; }

  // The last response: numeric status (0 when none) and header lines of the
  // final response in order of arrival, status line dropped.
  std::uint32_t StatusCode() const { return statusCode_; }
  const std::vector<HeaderEntry>& ResponseHeaders() const { return responseHeaders_; }
  // The target taken by the last Open that cracked its URL.
  const std::optional<std::string>& Host() const { return host_; }
  const std::optional<std::string>& Path() const { return path_; }
  std::uint16_t Port() const { return port_; }

 private:
  // Settings made on the root handle; they last until the next Open.
  struct RootHandle {
    std::int32_t connectTimeout = 0, sendTimeout = 0, receiveTimeout = 0;
    std::shared_ptr<void> native;  // the stack's own root handle, closed with it; none for libcurl
  };
  // A Send is a chain of requests, one for each redirect followed. What goes
  // on the wire and what is kept of the answer are decided for every stack
  // (net/http_client_shared.h); a Transfer is the backend's own: one
  // request's handles in its stack.
  struct Request;
  struct Redirect;
  class Progress;  // what a transfer reports: the bytes kept, the flags of its ending
  class Transfer;

  // The same over every stack (net/http_client.cc).
  bool CheckThread() const;
  void ClearTarget();
  // The first request of a Send, from Open's target, and the one after a
  // redirect.
  Request FirstRequest(std::string_view payload) const;
  void Follow(const Redirect& redirect, Request& request) const;
  // Send's result, status, headers and ending from the response it ended at.
  bool Finish(const Progress& progress, std::size_t bodyBefore);
  // "proxy HOST:PORT: " + `what`, or `what` alone without a proxy.
  std::string ProxyError(std::string_view what) const;
  // Shrinks the body to `size` bytes, giving back what it held beyond them.
  void TrimBody(std::size_t size);

  // The backend's: the root handle and the time-outs kept on it; one request
  // carried out over the stack (Perform), reporting to `progress`: the
  // transfer's options, then the transfer itself, until it ends, stalls,
  // passes the deadline or is aborted.
  bool EnsureRootHandle();
  void ApplyTimeouts(std::int32_t connectTimeout, std::int32_t sendTimeout, std::int32_t receiveTimeout);
  void Perform(const Request& request, Progress& progress,
               std::optional<std::chrono::steady_clock::time_point> deadline);
  void SetTransferOptions(const Request& request, Transfer& transfer) const;
  // The identity's proxy (or none) on the backend's request handle.
  void SetRoute(const Request& request, void* handle) const;
  void RunTransfer(const Request& request, Transfer& transfer,
                   std::optional<std::chrono::steady_clock::time_point> deadline) const;

  std::optional<std::string> url_, host_, path_, schemeName_, verb_;
  const std::string userAgent_{kUserAgent};
  std::uint16_t port_ = 0;
  std::int32_t scheme_ = 0;
  std::uint32_t statusCode_ = 0;
  std::optional<RootHandle> rootHandle_;
  std::vector<HeaderEntry> responseHeaders_;
  Ending ending_ = Ending::kNotSent;
  std::string finalUrl_;
  std::vector<std::string> redirects_;
  std::string body_;  // every byte of it is counted in ResponseMemoryHeld()
  std::function<bool()> abortHook_;
  std::shared_ptr<HttpIdentity> identity_;
  std::string lastError_;
  const std::thread::id ownerThread_ = std::this_thread::get_id();
};

}  // namespace kelvarn
