// Whether a search base that a user gave (the --search-url flag,
// KELVARN_SEARCH_URL) can start search URLs, checked once before a run: a bad
// one would otherwise fail every request of the run without a word.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kelvarn {

// "http://www.baidu.com": the search engine's web-search host.
inline constexpr std::string_view kDefaultSearchBase = "http://www.baidu.com";

// The scheme, host and port that a run's search URLs start with: `given` (a
// --search-url flag) when there is one, else the environment variable
// KELVARN_SEARCH_URL when set and not empty (tests and offline use, e.g.
// "http://127.0.0.1:8080"), else kDefaultSearchBase; trailing slashes
// dropped. Reads the environment on every call, so set it before the workers
// start.
std::string SearchBase(std::optional<std::string_view> given = std::nullopt);

// What is wrong with `base`, in a few words, or nothing when it is usable:
// "http://" or "https://" (either case), a host (a name or IPv4 address of
// letters, digits, ".", "-" and "_", or an IPv6 address in brackets), an
// optional ":port" from 1 to 65535, and nothing more but trailing slashes,
// which are dropped.
std::optional<std::string> SearchBaseProblem(std::string_view base);

// The usage error every program gives for a base the user gave that
// SearchBaseProblem finds fault with: `given` (a --search-url flag), else
// KELVARN_SEARCH_URL when set and not empty, as
// bad search URL "ftp://x" (from --search-url): the scheme is not http or https
// Nothing when neither is given or the one given is usable.
std::optional<std::string> GivenSearchBaseError(std::optional<std::string_view> given);

}  // namespace kelvarn
