#include "app/search_base.h"

#include <algorithm>
#include <cstdlib>

namespace kelvarn {
namespace {

// Longer host names do not fit the request's URL parts.
constexpr std::size_t kMaxHostBytes = 255;

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  const auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return fold(x) == fold(y); });
}

bool IsNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Four decimal numbers from 0 to 255 without leading zeros, between dots.
bool IsIpv4Address(std::string_view a) {
  for (int part = 0; part < 4; ++part) {
    std::size_t digits = 0;
    int value = 0;
    while (digits < a.size() && digits < 4 && a[digits] >= '0' && a[digits] <= '9')
      value = value * 10 + (a[digits++] - '0');
    if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && a.front() == '0')) return false;
    a.remove_prefix(digits);
    if (part < 3) {
      if (a.empty() || a.front() != '.') return false;
      a.remove_prefix(1);
    }
  }
  return a.empty();
}

// Eight groups of one to four hexadecimal digits between colons; one "::"
// stands for one or more zero groups, and an IPv4 address may take the last
// two. Zone indices ("%eth0") are not part of a URL's host.
bool IsIpv6Address(std::string_view a) {
  int groups = 0;
  bool gap = false;
  if (a.substr(0, 2) == "::") {
    gap = true;
    a.remove_prefix(2);
  }
  while (!a.empty()) {
    std::size_t digits = 0;
    while (digits < a.size() && digits < 5 && IsHexDigit(a[digits])) ++digits;
    if (digits < a.size() && a[digits] == '.') {
      if (!IsIpv4Address(a)) return false;
      groups += 2;
      break;
    }
    if (digits == 0 || digits > 4) return false;
    ++groups;
    a.remove_prefix(digits);
    if (a.empty()) break;
    if (a.front() != ':' || a.size() == 1) return false;
    a.remove_prefix(1);
    if (a.front() == ':') {
      if (gap) return false;
      gap = true;
      a.remove_prefix(1);
    }
  }
  return gap ? groups <= 7 : groups == 8;
}

std::string_view WithoutTrailingSlashes(std::string_view base) {
  while (!base.empty() && base.back() == '/') base.remove_suffix(1);
  return base;
}

}  // namespace

std::string SearchBase(std::optional<std::string_view> given) {
  const char* env = std::getenv("KELVARN_SEARCH_URL");
  return std::string(WithoutTrailingSlashes(given ? *given : env && *env ? env : kDefaultSearchBase));
}

std::optional<std::string> SearchBaseProblem(std::string_view base) {
  base = WithoutTrailingSlashes(base);
  const std::size_t sep = base.find("://");
  if (sep == std::string_view::npos) return "no \"://\" after the scheme";
  const std::string_view scheme = base.substr(0, sep);
  if (!SameIgnoringCase(scheme, "http") && !SameIgnoringCase(scheme, "https")) return "the scheme is not http or https";
  std::string_view rest = base.substr(sep + 3);
  std::string_view host;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return "no \"]\" after the IPv6 address";
    host = rest.substr(0, close + 1);
    const std::string_view address = rest.substr(1, close - 1);
    if (!IsIpv6Address(address)) return "\"" + std::string(address) + "\" is not an IPv6 address";
  } else {
    host = rest.substr(0, std::min(rest.find_first_of(":/"), rest.size()));
    if (host.empty()) return "no host";
    if (!std::all_of(host.begin(), host.end(), IsNameByte)) return "\"" + std::string(host) + "\" is not a host name";
  }
  if (host.size() > kMaxHostBytes) return "the host is longer than 255 bytes";
  rest.remove_prefix(host.size());
  if (!rest.empty() && rest.front() == ':') {
    const std::string port(rest.substr(1, rest.find('/') - 1));
    const bool digits = !port.empty() && port.size() <= 5 &&
                        std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits || std::stoi(port) < 1 || std::stoi(port) > 65535) {
      return "the port \"" + port + "\" is not a number from 1 to 65535";
    }
    rest.remove_prefix(1 + port.size());
  }
  if (!rest.empty()) return "\"" + std::string(rest) + "\" after the host and port: a search base has no path";
  return std::nullopt;
}

std::optional<std::string> GivenSearchBaseError(std::optional<std::string_view> given) {
  const char* env = std::getenv("KELVARN_SEARCH_URL");
  if (!given && (!env || !*env)) return std::nullopt;
  const std::string base(given ? *given : env);
  const std::optional<std::string> problem = SearchBaseProblem(base);
  if (!problem) return std::nullopt;
  return "bad search URL \"" + base + "\" (from " + (given ? "--search-url" : "KELVARN_SEARCH_URL") + "): " + *problem;
}

}  // namespace kelvarn
