#include "net/proxy.h"

#include <charconv>

namespace kelvarn {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> PercentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

// A host name's bytes: letters, digits, '-', '.', '_'.
bool IsHostName(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  for (const char c : host) {
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
    if (!ok) return false;
  }
  return true;
}

bool IsIpv6Literal(std::string_view host) {
  if (host.size() < 2 || host.find(':') == std::string_view::npos) return false;
  for (const char c : host) {
    if (HexDigit(c) < 0 && c != ':' && c != '.') return false;
  }
  return true;
}

ProxyParse Refused(std::string reason) { return ProxyParse{std::nullopt, "proxy URL: " + std::move(reason)}; }

}  // namespace

std::string ProxyUrl::Display() const {
  const std::string shown = host.find(':') == std::string::npos ? host : "[" + host + "]";
  return shown + ":" + std::to_string(port);
}

ProxyParse ParseProxyUrl(std::string_view text) {
  ProxyUrl proxy;
  const std::size_t colon = text.find("://");
  if (colon == std::string_view::npos) return Refused("needs http:// or socks5:// before the host");
  const std::string_view scheme = text.substr(0, colon);
  if (scheme == "http") {
    proxy.kind = ProxyUrl::Kind::kHttp;
  } else if (scheme == "socks5") {
    proxy.kind = ProxyUrl::Kind::kSocks5;
  } else {
    return Refused("the scheme must be http or socks5");
  }
  std::string_view rest = text.substr(colon + 3);
  // A trailing "/" is harmless; a path, query or fragment says the text is
  // not a proxy.
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  const std::size_t at = rest.rfind('@');
  if (at != std::string_view::npos) {
    const std::string_view credentials = rest.substr(0, at);
    rest = rest.substr(at + 1);
    const std::size_t split = credentials.find(':');
    const std::optional<std::string> user = PercentDecoded(credentials.substr(0, split));
    const std::optional<std::string> password =
        split == std::string_view::npos ? std::string() : PercentDecoded(credentials.substr(split + 1));
    if (!user || !password) return Refused("a bad %-escape in the user or password");
    if (user->empty()) return Refused("the user name is empty");
    proxy.user = *user, proxy.password = *password;
  }
  if (rest.find_first_of("/?#") != std::string_view::npos) return Refused("a proxy takes no path after host:port");
  std::string_view host, port;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return Refused("an IPv6 address without its closing ]");
    host = rest.substr(1, close - 1);
    if (!IsIpv6Literal(host)) return Refused("not an IPv6 address in the brackets");
    if (rest.substr(close + 1, 1) != ":") return Refused("needs a port after the host");
    port = rest.substr(close + 2);
  } else {
    const std::size_t split = rest.rfind(':');
    if (split == std::string_view::npos) return Refused("needs a port after the host");
    host = rest.substr(0, split);
    if (!IsHostName(host)) return Refused(host.empty() ? "the host is empty" : "not a host name");
    port = rest.substr(split + 1);
  }
  unsigned number = 0;
  const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
  if (port.empty() || error != std::errc() || end != port.data() + port.size() || number < 1 || number > 65535) {
    return Refused("the port must be a number from 1 to 65535");
  }
  proxy.host = std::string(host);
  proxy.port = static_cast<std::uint16_t>(number);
  return ProxyParse{std::move(proxy), ""};
}

}  // namespace kelvarn
