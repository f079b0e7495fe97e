#include "net/http_text.h"

#include <algorithm>

namespace kelvarn::http {
namespace {

// The buffers the classic URL cracker fills: a part that does not fit fails.
constexpr std::size_t kSchemeBuffer = 32, kHostBuffer = 256, kPathBuffer = 2048;

}  // namespace

std::optional<std::string> OwnedText(std::string_view text) {
  if (text.empty()) return std::nullopt;
  return std::string(text);
}

std::string_view HeaderValue(const std::vector<HeaderEntry>& headers, std::string_view name) {
  for (const HeaderEntry& header : headers) {
    if (header.name && header.value && EqualsIgnoringCase(*header.name, name)) return *header.value;
  }
  return {};
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  const auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

std::optional<CrackedUrl> CrackUrl(std::string_view url) {
  const std::size_t sep = url.find("://");
  if (sep == std::string_view::npos || sep == 0 || sep >= kSchemeBuffer) return std::nullopt;
  CrackedUrl out;
  out.schemeName = std::string(url.substr(0, sep));
  for (const char c : out.schemeName) {
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    if (!ok) return std::nullopt;
  }
  std::uint16_t defaultPort = 0;
  if (EqualsIgnoringCase(out.schemeName, "http")) {
    out.scheme = kSchemeHttp, defaultPort = 80;
  } else if (EqualsIgnoringCase(out.schemeName, "https")) {
    out.scheme = kSchemeHttps, defaultPort = 443;
  } else if (EqualsIgnoringCase(out.schemeName, "ftp")) {
    out.scheme = 1, defaultPort = 21;
  } else {
    out.scheme = -1;  // unknown: cracks, but cannot be sent
  }
  // A control byte can go nowhere in a request: CR LF would end its line.
  if (std::any_of(url.begin(), url.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
    return std::nullopt;
  }
  const std::string_view rest = url.substr(sep + 3);
  const std::size_t authorityEnd = std::min(rest.find_first_of("/?#"), rest.size());
  std::string_view authority = rest.substr(0, authorityEnd);
  if (rest.size() - authorityEnd >= kPathBuffer) return std::nullopt;
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
  std::size_t hostEnd = authority.size();
  if (!authority.empty() && authority[0] == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos || close == 1) return std::nullopt;
    hostEnd = close + 1;
    if (authority.substr(1, close - 1).find_first_not_of("0123456789abcdefABCDEF:.") != std::string_view::npos) {
      return std::nullopt;
    }
  } else if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
    hostEnd = colon;
  }
  if (hostEnd == 0 || hostEnd >= kHostBuffer) return std::nullopt;
  out.host = std::string(authority.substr(0, hostEnd));
  // No host name holds these; a host with one could never be connected to.
  if (out.host[0] != '[' &&
      (out.host.find_first_of(" !\"#$%&'()*+,/:;<=>?@[\\]^`{}") != std::string::npos ||
       std::any_of(out.host.begin(), out.host.end(), [](char c) { return static_cast<unsigned char>(c) > 0x7F; }))) {
    return std::nullopt;
  }
  out.port = defaultPort;
  const std::string_view portText = authority.substr(hostEnd);
  if (!portText.empty()) {
    if (portText[0] != ':' || portText.size() < 2 || portText.size() > 6) return std::nullopt;
    unsigned long port = 0;
    for (const char c : portText.substr(1)) {
      if (c < '0' || c > '9') return std::nullopt;
      port = port * 10 + static_cast<unsigned long>(c - '0');
    }
    if (port == 0 || port > 65535) return std::nullopt;
    out.port = static_cast<std::uint16_t>(port);
  }
  return out;
}

// The request target is read off the URL text: at the first "/" the host
// part begins one character further on (past the second slash of "//"), and
// the next "/" in it starts the target, which runs to the end.
std::string RequestTarget(std::string_view url) {
  const std::size_t slash = url.find('/');
  if (slash == std::string_view::npos || slash + 2 > url.size()) return "/";
  const std::size_t target = url.find('/', slash + 2);
  return target == std::string_view::npos ? "/" : std::string(url.substr(target));
}

std::string SendableTarget(std::string_view target) {
  std::string out;
  out.reserve(target.size());
  for (const char c : target) {
    if (c == ' ') {
      out += "%20";
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<HeaderEntry> ParseHeaderBlock(std::string_view raw) {
  std::vector<HeaderEntry> entries;
  std::string scratch;
  std::optional<std::string> pendingName;
  bool inValue = false;
  for (const char c : raw) {
    if (!inValue) {
      if (c == '\r' || c == '\n') {
        scratch.clear();
      } else if (c == ':') {
        pendingName = OwnedText(scratch);
        scratch.clear();
        inValue = true;
      } else {
        scratch += c;
      }
    } else if (c == '\r' || c == '\n') {
      if (pendingName) entries.push_back({std::move(pendingName), OwnedText(scratch)});
      pendingName.reset();  // NOLINT(bugprone-use-after-move): reset() gives it a value again
      scratch.clear();
      inValue = false;
    } else if (!(c == ' ' && scratch.empty())) {
      scratch += c;
    }
  }
  if (inValue && pendingName) entries.push_back({std::move(pendingName), OwnedText(scratch)});
  return entries;
}

}  // namespace kelvarn::http
