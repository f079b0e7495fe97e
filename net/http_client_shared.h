// What the HttpClient backends share besides the text handling of
// net/http_text.h: the process-wide count of body bytes held.
#pragma once

#include <cstddef>

namespace kelvarn::http {

// Counts `bytes` more as held by some client's body, unless that passes
// HttpClient::ResponseMemoryLimit(); false then, and nothing is counted.
// HttpClient::TrimBody gives them back. Any thread.
bool TakeResponseMemory(std::size_t bytes);

}  // namespace kelvarn::http
