// The web client's text handling, apart from the network: cracking a URL,
// reading the request target off it, and splitting a response's header block.
// Pure functions, safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvarn::http {

inline constexpr std::int32_t kSchemeHttp = 3, kSchemeHttps = 4;

struct CrackedUrl {
  std::string schemeName;
  std::int32_t scheme;  // kSchemeHttp, kSchemeHttps, 1 for ftp, -1 for others
  std::string host;     // brackets of an IPv6 literal kept
  std::uint16_t port;   // the scheme's default when the URL gives none
};

// "scheme://[user@]host[:port][/...]". Fails on a missing or malformed scheme,
// a bad port (not 1..65535 in decimal), an empty host, a host with a byte no
// host name holds (space, control bytes, bytes above 0x7F,
// !"#$%&'()*+,/:;<=>?@[\]^`{}), an IPv6 literal unclosed, empty or with more
// than hex digits, ":" and ".", a control byte (0x00-0x1F, 0x7F) anywhere, or a
// scheme, host or rest longer than the classic cracker's buffers (32, 256,
// 2048 bytes).
std::optional<CrackedUrl> CrackUrl(std::string_view url);

// From the second "/" after the first one to the end, "/" when there is none:
// the path, the query and the fragment, as written.
std::string RequestTarget(std::string_view url);

// The target as it goes on the request line: every space as "%20", as the
// platform's stack escapes the object name it is given; nothing else changes.
std::string SendableTarget(std::string_view target);

struct HeaderEntry {
  std::optional<std::string> name;   // as received
  std::optional<std::string> value;  // leading spaces removed
  bool operator==(const HeaderEntry&) const = default;
};

// "Name: value" lines split at CR or LF; a line without ":" is skipped, an
// empty name or value is absent.
std::vector<HeaderEntry> ParseHeaderBlock(std::string_view raw);

// ASCII letters compare without case; every other byte exactly.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// The value of the first header of that name (any letter case), or "".
std::string_view HeaderValue(const std::vector<HeaderEntry>& headers, std::string_view name);

// The text, or nothing when it is empty.
std::optional<std::string> OwnedText(std::string_view text);

}  // namespace kelvarn::http
