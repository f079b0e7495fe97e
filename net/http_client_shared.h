// What the HttpClient backends share besides the text handling of
// net/http_text.h: the requests a Send makes, what a transfer reports, what a
// body puts on the wire and when a whole request must end. For
// net/http_client.cc and the backends only.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/http_client.h"
#include "net/http_text.h"
#include "text/value.h"

namespace kelvarn {

// One request of a Send as it goes on the wire: the first made from Open's
// target, each later one from the redirect before it.
struct HttpClient::Request {
  // The header lines the client adds, in this order; the backend adds its
  // stack's own.
  std::vector<std::string> Lines() const;

  std::string verb, url;            // the method, and the URL asked (a relative Location's base)
  http::CrackedUrl where;           // host, port and scheme to connect to
  std::string requestTarget;        // for the request line, as it is; empty: from the URL
  std::optional<std::string> host;  // for the Host line; none: the stack writes its own
  std::string_view payload;         // the caller's body, alive for the whole Send
  bool postLines = false;           // Cache-Control, which a POST adds
  bool contentLines = false;        // Content-Type, and Content-Length with a payload
};

// A response's redirect to an http or https URL, to be followed.
struct HttpClient::Redirect {
  long status = 0;
  std::string location;  // as the response wrote it
  std::string url;       // made absolute
  http::CrackedUrl where;
};

// What one request of a Send brought and how it ended, as the backend's
// transfer reports it; what is kept of it, and when a response counts as a
// redirect, is decided here for every stack. Send's thread only.
class HttpClient::Progress {
 public:
  using Clock = std::chrono::steady_clock;

  Progress(HttpClient& client, bool mayFollow) : mayFollow(mayFollow), client_(client) {}

  // A response has begun at `now`: the slow-transfer window starts.
  void Responded(Clock::time_point now);
  // Counts response bytes that arrived at `now`. The slow-transfer window
  // starts again whenever the bytes since its start arrived at
  // kMinBytesPerSecond or faster.
  void Received(std::size_t n, Clock::time_point now);
  // Appends what a read brought to the client's body, within kMaxBodyBytes
  // and the process-wide bound, and counts it; false when reading must stop.
  bool Keep(const char* data, std::size_t n);
  // Whether the response of `status` whose headers are held is a redirect to
  // follow: a 301, 302, 303, 307 or 308 whose Location, made absolute against
  // `base`, is an http or https URL, while mayFollow. If so, notes it.
  bool FindRedirect(long status, const std::string& base);

  const bool mayFollow;                       // a redirect is followed: its response ends at its headers
  bool responded = false;                     // a response began
  bool finished = false;                      // the whole response was read
  bool capped = false;                        // the body reached kMaxBodyBytes
  bool outOfMemory = false;                   // the process-wide bound on bodies was reached
  bool gaveUp = false;                        // the abort hook ended it
  std::uint64_t received = 0, slowBytes = 0;  // response bytes: all, and at slowSince
  Clock::time_point slowSince;
  std::string rawHeaders;            // the header block of the response it ended at
  std::uint32_t status = 0;          // that response's status; 0: none known
  std::string url;                   // the URL it ended at
  std::optional<Redirect> redirect;  // set when the response was a redirect to follow

 private:
  HttpClient& client_;
};

}  // namespace kelvarn

namespace kelvarn::http {

// A usable cookie of a Netscape cookie file.
struct FileCookie {
  std::string_view line;    // the whole line, without its line end, as libcurl's parser takes it
  std::string_view domain;  // as written: a leading dot means subdomains too
  bool anySubdomain = false, secure = false;
  std::string_view path, name, value;
  std::optional<std::int64_t> expires;  // seconds since 1970; none: for the session
};

// The usable cookies of the file at `path`, in the file's order, handed to
// `take`, which says whether its store took it. The whole file is checked
// against CookieFileLoad's bounds before the first is handed over: a refused
// file adds nothing.
CookieFileLoad ReadCookieFile(const std::string& path, const std::function<bool(const FileCookie&)>& take);

// `location` made absolute against `base` as the backend's stack does when
// it follows a redirect itself; none when it cannot be.
std::optional<std::string> ResolveLocation(const std::string& base, std::string_view location);

// The bytes Send puts on the wire for `body`: a text up to its first zero
// byte, a byte array whole, anything else nothing. Views into `body`.
std::string_view BodyBytes(const Value& body);

// However fast a server drips its bytes, a request, redirects and all, ends
// once every time-out given has passed, one after the other; no end when none
// is set.
std::optional<std::chrono::steady_clock::time_point> OverallDeadline(std::int32_t connectMs, std::int32_t sendMs,
                                                                     std::int32_t receiveMs);

}  // namespace kelvarn::http
