// The web client's text handling on arbitrary bytes: header blocks split into
// clean entries and well-formed lines come back exactly; a cracked URL, put
// back together, cracks to the same scheme, host and port, and its target
// can be sent.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "net/http_text.h"

namespace {

using kelvarn::http::HeaderEntry;

void CheckHeaders(std::string_view raw) {
  const std::vector<HeaderEntry> entries = kelvarn::http::ParseHeaderBlock(raw);
  std::size_t colons = 0;
  for (const char c : raw) colons += c == ':';
  if (entries.size() > colons) abort();
  for (const HeaderEntry& e : entries) {
    if (!e.name || e.name->empty() || e.name->find_first_of(":\r\n") != std::string::npos) abort();
    if (e.value && (e.value->empty() || e.value->find_first_of("\r\n") != std::string::npos || (*e.value)[0] == ' ')) {
      abort();
    }
  }
  // The same bytes made into well-formed lines: name and value with the
  // separators taken out.
  std::string block = "HTTP/1.1 200 OK\r\n";
  std::vector<HeaderEntry> expected;
  for (std::size_t i = 0; i + 7 <= raw.size(); i += 7) {
    std::string name, value;
    for (const char c : raw.substr(i, 3)) {
      if (c != ':' && c != '\r' && c != '\n') name += c;
    }
    for (const char c : raw.substr(i + 3, 4)) {
      if (c != '\r' && c != '\n' && !(c == ' ' && value.empty())) value += c;
    }
    if (name.empty()) continue;
    block += name + ": " + value + "\r\n";
    expected.push_back({name, value.empty() ? std::nullopt : std::optional<std::string>(value)});
  }
  block += "\r\n";
  std::vector<HeaderEntry> parsed = kelvarn::http::ParseHeaderBlock(block);
  if (!parsed.empty() && parsed.front().name == "HTTP/1.1 200 OK") parsed.erase(parsed.begin());
  if (parsed != expected) abort();
}

void CheckUrl(std::string_view url) {
  const auto cracked = kelvarn::http::CrackUrl(url);
  if (!cracked) return;
  // Only a scheme without a default port may crack without one.
  if (cracked->schemeName.empty() || cracked->host.size() >= 256 || (cracked->port == 0 && cracked->scheme != -1)) {
    abort();
  }
  if (cracked->host.empty() || cracked->host.find_first_of("/?#@ \r\n") != std::string::npos) abort();
  const std::string target = kelvarn::http::RequestTarget(url);
  if (target.empty() || target[0] != '/') abort();
  // What Open takes can go on a request line: no space, no control byte.
  for (const char c : kelvarn::http::SendableTarget(target)) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) abort();
  }
  const std::string rebuilt =
      cracked->schemeName + "://" + cracked->host + (cracked->port ? ":" + std::to_string(cracked->port) : "") + "/";
  const auto again = kelvarn::http::CrackUrl(rebuilt);
  if (!again || again->scheme != cracked->scheme || again->host != cracked->host || again->port != cracked->port) {
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckHeaders(bytes);
  CheckUrl(bytes);
  return 0;
}
