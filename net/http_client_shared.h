// What the HttpClient backends share besides the text handling of
// net/http_text.h: the process-wide count of body bytes held, what a body
// puts on the wire and when a whole request must end.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "text/value.h"

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
