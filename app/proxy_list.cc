#include "app/proxy_list.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>

#include "text/files.h"

namespace kelvarn {
namespace {

// Far beyond any real list; a bigger file was named by mistake.
constexpr std::size_t kMaxBytes = std::size_t{1} << 20;

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

ProxyList ReadProxyList(const std::string& path) {
  ProxyList list;
  errno = ENOENT;  // what an empty path, which opens nothing, means
  const std::optional<std::string> text = ReadRegularFile(path, kMaxBytes + 1);
  if (!text) {
    list.errors.push_back(path + ": cannot be read: " + std::strerror(errno));
    return list;
  }
  if (text->size() > kMaxBytes) {
    list.errors.push_back(path + ": larger than 1 MiB, which no proxies file is");
    return list;
  }
  std::string_view rest = *text;
  if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);
  std::vector<std::size_t> lineOfEntry;
  bool holdsCredentials = false;
  for (std::size_t number = 1; !rest.empty(); ++number) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    line = Trimmed(line.ends_with('\r') ? line.substr(0, line.size() - 1) : line);
    if (line.empty() || line.front() == '#') continue;

    const std::string where = path + ":" + std::to_string(number) + ": ";
    const std::size_t tab = line.find('\t');
    const std::string_view url = Trimmed(line.substr(0, tab));
    const ProxyParse parsed = ParseProxyUrl(url);
    // A refused line still shows its password to whoever may read the file.
    holdsCredentials =
        holdsCredentials || (parsed.proxy ? parsed.proxy->HasCredentials() : url.find('@') != std::string_view::npos);
    if (!parsed.proxy) {
      list.errors.push_back(where + parsed.error);
      continue;
    }
    ProxyEntry entry{*parsed.proxy, ""};
    if (tab != std::string_view::npos && !Trimmed(line.substr(tab + 1)).empty()) {
      entry.cookieFile = PathBeside(path, Trimmed(line.substr(tab + 1)));
    }
    const auto same = std::find_if(list.entries.begin(), list.entries.end(),
                                   [&](const ProxyEntry& earlier) { return earlier.proxy == entry.proxy; });
    if (same != list.entries.end()) {
      list.errors.push_back(where + "the same proxy as line " +
                            std::to_string(lineOfEntry[static_cast<std::size_t>(same - list.entries.begin())]));
      continue;
    }
    if (!entry.cookieFile.empty() && !ReadRegularFile(entry.cookieFile, 0)) {
      list.errors.push_back(where + "cookie file " + entry.cookieFile + " cannot be read: " + std::strerror(errno));
      continue;
    }
    lineOfEntry.push_back(number);
    list.entries.push_back(std::move(entry));
  }
  if (list.entries.empty() && list.errors.empty()) list.errors.push_back(path + ": names no proxy");
  if (holdsCredentials && OthersMayRead(path)) {
    list.warnings.push_back(path + ": others can read this file and it holds proxy passwords; chmod 600 it");
  }
  return list;
}

MadeIdentities MakeIdentities(const std::vector<ProxyEntry>& entries, bool direct) {
  MadeIdentities identities;
  if (direct) identities.made.push_back(nullptr);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ProxyEntry& entry = entries[i];
    const std::string name = "proxy " + entry.proxy.Display();
    if (std::any_of(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(i),
                    [&](const ProxyEntry& earlier) { return earlier.proxy == entry.proxy; })) {
      identities.errors.push_back(name + " is given twice");
      continue;
    }
    HttpIdentity::Made made = HttpIdentity::Create(entry.proxy);
    CookieFileLoad cookies;
    cookies.loaded = 0;  // none to read: none refused
    if (made.identity && !entry.cookieFile.empty()) cookies = made.identity->LoadCookieFile(entry.cookieFile);
    if (!made.identity) {
      identities.errors.push_back(name + ": " + made.error);
    } else if (!cookies) {
      identities.errors.push_back(name + ": cannot read its cookies " + entry.cookieFile + ": " + cookies.error);
    } else {
      identities.made.push_back(std::move(made.identity));
    }
  }
  return identities;
}

}  // namespace kelvarn
