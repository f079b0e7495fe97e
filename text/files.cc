#include "text/files.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "text/encoding.h"
#include "text/files_os.h"

namespace kelvarn {
namespace {

constexpr std::size_t kSettingLimit = 10240 - 1;  // the classic reader's buffer, less its zero byte

// Blanks around names and values in the file: space, tab and vertical tab.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Names passed in lose only their spaces: a tab is part of the name asked for.
std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

std::string_view SkipControlAndSpaces(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20) s.remove_prefix(1);
  return s;
}

// Names compare without ASCII case, stepping over double-byte characters so
// that a trail byte is never folded.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 0x80) {  // a lead byte and its trail byte, or a lead byte that ends the name
      if (x != y || (i + 1 < a.size() && a[i + 1] != b[i + 1])) return false;
      ++i;
      continue;
    }
    const auto fold = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; };
    if (fold(x) != fold(y)) return false;
  }
  return true;
}

// One line of a settings file, as it stands and as it reads.
struct Line {
  std::string_view raw;  // with its line end
  enum Kind { kOther, kSection, kKey } kind = kOther;
  std::string_view name, value;
  std::size_t valueAt = 0;  // key lines: where the value's text begins in raw (after "=" and blanks)
  bool equals = false;      // key lines: whether there is an "=" at all
  std::size_t end = 0;      // where the line end begins in raw
};

Line ReadLine(std::string_view raw) {
  Line line;
  line.raw = raw;
  std::string_view body = raw;
  while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.remove_suffix(1);
  line.end = body.size();
  const std::string_view trimmed = Trim(body);
  if (trimmed.empty() || trimmed.front() == ';') return line;
  if (trimmed.front() == '[') {
    // A "]" that is the trail byte of a double-byte character does not close the name.
    std::size_t i = 1;
    while (i < trimmed.size() && trimmed[i] != ']') i += static_cast<unsigned char>(trimmed[i]) >= 0x80 ? 2 : 1;
    line.kind = Line::kSection;
    line.name = Trim(trimmed.substr(1, std::min(i, trimmed.size()) - 1));
    return line;
  }
  line.kind = Line::kKey;
  const std::size_t eq = body.find('=');
  line.equals = eq != std::string_view::npos;
  line.name = Trim(body.substr(0, eq));
  if (!line.equals) {
    line.valueAt = line.end;
    return line;
  }
  line.valueAt = eq + 1;
  while (line.valueAt < body.size() && IsBlank(body[line.valueAt])) ++line.valueAt;
  line.value = Trim(body.substr(line.valueAt));
  if (line.value.size() >= 2 && (line.value.front() == '"' || line.value.front() == '\'') &&
      line.value.back() == line.value.front()) {
    line.value = line.value.substr(1, line.value.size() - 2);
  }
  return line;
}

// Lines end at LF, CR LF or a lone CR.
std::vector<Line> ReadLines(std::string_view text) {
  std::vector<Line> lines;
  for (std::size_t p = 0; p < text.size();) {
    std::size_t end = text.find_first_of("\r\n", p);
    if (end == std::string_view::npos) {
      end = text.size();
    } else {
      end += text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1;
    }
    lines.push_back(ReadLine(text.substr(p, end - p)));
    p = end;
  }
  return lines;
}

// [first, last) lines of the first section of that name; first is its header.
std::optional<std::pair<std::size_t, std::size_t>> FindSection(const std::vector<Line>& lines,
                                                               std::string_view section) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind != Line::kSection || !SameName(lines[i].name, section)) continue;
    std::size_t end = i + 1;
    while (end < lines.size() && lines[end].kind != Line::kSection) ++end;
    return std::make_pair(i, end);
  }
  return std::nullopt;
}

std::optional<std::size_t> FindKey(const std::vector<Line>& lines, std::pair<std::size_t, std::size_t> range,
                                   std::string_view key) {
  for (std::size_t i = range.first + 1; i < range.second; ++i) {
    if (lines[i].kind == Line::kKey && SameName(lines[i].name, key)) return i;
  }
  return std::nullopt;
}

// A settings file's text in GBK. One saved in UTF-8 by another editor (with
// or without a byte-order mark), or in UTF-16 with its mark, is converted:
// read as GBK its sections would go unfound, and a save would append a GBK
// section to the UTF-8 file. Any valid UTF-8 counts, short or not: a GBK
// settings file that holds the window's section, 配置, never is.
std::string SettingsText(std::string bytes) {
  const Encoding encoding = DetectEncoding(bytes).encoding;
  if (encoding == Encoding::kAscii || encoding == Encoding::kGb18030) return bytes;
  return ToGbk(bytes, encoding);
}

}  // namespace

std::string ChooseSettingsDirectory(const std::string& programDir, const char* configHome, const char* home) {
  if (detail::DirectoryIsWritable(programDir)) return programDir;
  const char separator = detail::PathSeparator();
  const auto withoutSeparators = [separator](std::string path) {
    while (!path.empty() && (path.back() == '/' || path.back() == separator)) path.pop_back();
    return path;
  };
  std::string dir;
  if (configHome && detail::IsAbsolutePath(configHome)) {
    dir = withoutSeparators(configHome) + separator + "kelvarn" + separator;
  } else if (home && detail::IsAbsolutePath(home)) {
    dir = withoutSeparators(home) + separator + std::string(detail::ConfigBelowHome()) + "kelvarn" + separator;
  } else {
    return programDir;
  }
  detail::MakeDirectories(dir);
  return dir;
}

Text ReadSetting(std::string_view path, std::string_view section, std::string_view key,
                 std::optional<std::string_view> defaultValue) {
  path = SkipControlAndSpaces(path), section = SkipControlAndSpaces(section), key = SkipControlAndSpaces(key);
  if (path.empty() || section.empty() || key.empty()) return {};
  // The default loses its trailing spaces (only spaces), as the classic reader does.
  std::string_view fallbackText = defaultValue.value_or("");
  while (!fallbackText.empty() && fallbackText.back() == ' ') fallbackText.remove_suffix(1);
  Text fallback(fallbackText.substr(0, kSettingLimit));
  std::optional<std::string> text = ReadRegularFile(path, kMaxSettingsFileBytes + 1);
  if (!text || text->size() > kMaxSettingsFileBytes) return fallback;
  const std::string gbk = SettingsText(std::move(*text));
  const std::vector<Line> lines = ReadLines(gbk);
  const auto range = FindSection(lines, TrimSpaces(section));
  if (!range) return fallback;
  const auto at = FindKey(lines, *range, TrimSpaces(key));
  if (!at) return fallback;
  return Text(lines[*at].value.substr(0, kSettingLimit));
}

bool WriteSetting(std::string_view path, std::string_view section, std::optional<std::string_view> key,
                  std::optional<std::string_view> value) {
  section = TrimSpaces(section);
  if (key) key = TrimSpaces(*key);
  if (path.empty() || section.empty() || (key && key->empty())) return false;
  const std::string file(path);
  const std::optional<std::string> read = ReadRegularFile(file, kMaxSettingsFileBytes + 1);
  if (!read && errno != ENOENT) return false;
  if (read && read->size() > kMaxSettingsFileBytes) return false;  // not a settings file: left alone
  // Written back whole in GBK: never two encodings in one file.
  const std::string text = SettingsText(read.value_or(std::string()));
  const std::vector<Line> lines = ReadLines(text);
  const auto range = FindSection(lines, section);

  std::string out;
  const auto copy = [&](std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) out += lines[i].raw;
  };
  const auto endLine = [&] {
    if (!out.empty() && out.back() != '\n' && out.back() != '\r') out += "\r\n";
  };
  const std::string entry = key && value ? std::string(*key) + "=" + std::string(*value) + "\r\n" : std::string();

  if (!key) {  // delete the section
    if (!range) return true;
    copy(0, range->first);
    copy(range->second, lines.size());
  } else if (!value) {  // delete the key
    const auto at = range ? FindKey(lines, *range, *key) : std::nullopt;
    if (!at) return true;
    copy(0, *at);
    copy(*at + 1, lines.size());
  } else if (!range) {
    copy(0, lines.size());
    endLine();
    out += "[" + std::string(section) + "]\r\n" + entry;
  } else if (const auto at = FindKey(lines, *range, *key)) {
    // Only the value is replaced (quotes and anything after it included):
    // the key as spelt, the spacing around "=" and the line end stay.
    const Line& line = lines[*at];
    copy(0, *at);
    out += line.raw.substr(0, line.valueAt);
    if (!line.equals) out += '=';
    out += *value;
    out += line.end < line.raw.size() ? line.raw.substr(line.end) : std::string_view("\r\n");
    copy(*at + 1, lines.size());
  } else {
    // After the section's last non-blank line, so blank lines stay between sections.
    std::size_t insert = range->second;
    const auto blank = [](std::string_view raw) {
      return raw.find_first_not_of(" \t\v\r\n") == std::string_view::npos;
    };
    while (insert > range->first + 1 && blank(lines[insert - 1].raw)) {
      --insert;
    }
    copy(0, insert);
    endLine();
    out += entry;
    copy(insert, lines.size());
  }
  return WriteFileBytes(file, {out});
}

ByteArray ReadFileBytes(std::string_view path) {
  const std::optional<std::string> data = ReadFile(path);
  return data ? ByteArray(data->begin(), data->end()) : ByteArray();
}

bool WriteFileBytes(std::string_view path, const ByteArray& bytes) {
  return WriteFileBytes(path, {std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())});
}

}  // namespace kelvarn
