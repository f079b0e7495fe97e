// A proxy as the user names it: "http://[user:pass@]host:port" or
// "socks5://[user:pass@]host:port". Pure functions, safe from any thread.
//
// The credentials stay inside ProxyUrl: no text made here (Display, the
// reasons a URL is refused) holds them, so that progress, messages and logs
// can name a proxy freely.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvarn {

struct ProxyUrl {
  enum class Kind { kHttp, kSocks5 };
  Kind kind = Kind::kHttp;
  std::string host;  // an IPv6 literal without its brackets
  std::uint16_t port = 0;
  std::string user, password;  // percent-decoded; empty when the URL has none

  // "host:port" ("[::1]:port" for IPv6): how the proxy is named to the user.
  std::string Display() const;
  bool HasCredentials() const { return !user.empty() || !password.empty(); }
  bool operator==(const ProxyUrl&) const = default;
};

// The proxy, or why the text names none (never quoting its credentials).
struct ProxyParse {
  std::optional<ProxyUrl> proxy;
  std::string error;
};
ProxyParse ParseProxyUrl(std::string_view text);

}  // namespace kelvarn
