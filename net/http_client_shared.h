// What the HttpClient backends share besides the text handling of
// net/http_text.h: the process-wide count of body bytes held, what a body
// puts on the wire and when a whole request must end.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
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

}  // namespace kelvarn

namespace kelvarn::http {

// Counts `bytes` more as held by some client's body, unless that passes
// HttpClient::ResponseMemoryLimit(); false then, and nothing is counted.
// HttpClient::TrimBody gives them back. Any thread.
bool TakeResponseMemory(std::size_t bytes);

// The bytes Send puts on the wire for `body`: a text up to its first zero
// byte, a byte array whole, anything else nothing. Views into `body`.
std::string_view BodyBytes(const Value& body);

// However fast a server drips its bytes, a request, redirects and all, ends
// once every time-out given has passed, one after the other; no end when none
// is set.
std::optional<std::chrono::steady_clock::time_point> OverallDeadline(std::int32_t connectMs, std::int32_t sendMs,
                                                                     std::int32_t receiveMs);

}  // namespace kelvarn::http
