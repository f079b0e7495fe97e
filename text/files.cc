#include "text/files.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "text/encoding.h"

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

const std::string& ProgramDirectory() {
  static const std::string directory = [] {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return std::string("./");
    std::string dir(path, static_cast<std::size_t>(n));
    dir.erase(dir.find_last_of('/') + 1);
    return dir;
  }();
  return directory;
}

std::string ChooseSettingsDirectory(const std::string& programDir, const char* xdgConfigHome, const char* home) {
  if (::faccessat(AT_FDCWD, programDir.c_str(), W_OK | X_OK, AT_EACCESS) == 0) return programDir;
  const auto withoutSlashes = [](std::string path) {
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path;
  };
  std::string dir;
  if (xdgConfigHome && xdgConfigHome[0] == '/') {
    dir = withoutSlashes(xdgConfigHome) + "/kelvarn/";
  } else if (home && home[0] == '/') {
    dir = withoutSlashes(home) + "/.config/kelvarn/";
  } else {
    return programDir;
  }
  // mkdir -p: a parent that is missing is made private too.
  for (std::size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1)) {
    ::mkdir(dir.substr(0, slash).c_str(), 0700);
  }
  return dir;
}

const std::string& SettingsDirectory() {
  static const std::string directory = [] {
    const char* home = std::getenv("HOME");
    std::string fromPasswd;
    if (!home || home[0] != '/') {
      passwd entry{}, *found = nullptr;
      char buffer[4096];
      if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found) fromPasswd = found->pw_dir;
      home = fromPasswd.c_str();
    }
    return ChooseSettingsDirectory(ProgramDirectory(), std::getenv("XDG_CONFIG_HOME"), home);
  }();
  return directory;
}

Text ReadSetting(std::string_view path, std::string_view section, std::string_view key,
                 std::optional<std::string_view> defaultValue) {
  path = SkipControlAndSpaces(path), section = SkipControlAndSpaces(section), key = SkipControlAndSpaces(key);
  if (path.empty() || section.empty() || key.empty()) return {};
  // The default loses its trailing spaces (only spaces), as the classic reader does.
  std::string_view fallbackText = defaultValue.value_or("");
  while (!fallbackText.empty() && fallbackText.back() == ' ') fallbackText.remove_suffix(1);
  Text fallback(fallbackText.substr(0, kSettingLimit));
  std::optional<std::string> text = ReadFile(path, kMaxSettingsFileBytes + 1);
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
  const std::optional<std::string> read = ReadFile(file, kMaxSettingsFileBytes + 1);
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

std::optional<std::string> ReadFile(std::string_view path, std::size_t maxBytes) {
  if (path.empty()) return std::nullopt;
  const int fd = ::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string data;
  char buffer[65536];
  while (data.size() < maxBytes) {
    const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, maxBytes - data.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return data;
}

ByteArray ReadFileBytes(std::string_view path) {
  const std::optional<std::string> data = ReadFile(path);
  return data ? ByteArray(data->begin(), data->end()) : ByteArray();
}

namespace {

bool WriteAll(int fd, std::initializer_list<std::string_view> parts) {
  for (std::string_view part : parts) {
    while (!part.empty()) {
      const ssize_t n = ::write(fd, part.data(), part.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      part.remove_prefix(static_cast<std::size_t>(n));
    }
  }
  return true;
}

// The file `path` names once its symbolic links are followed. One link at a
// time, so that a link to a file not made yet still names where that file
// goes (realpath gives nothing then, and a rename would replace the link).
// Nothing for a loop.
std::optional<std::string> FollowLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char to[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), to, sizeof to);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof to) return std::nullopt;
    std::string next(to, static_cast<std::size_t>(n));
    if (next.front() != '/') next.insert(0, path.substr(0, path.rfind('/') + 1));
    path = std::move(next);
  }
  return std::nullopt;
}

// Overwrites the open file where it stands, for when a replacement would lose
// something. A failure part-way would leave it damaged, so the room is taken
// first wherever the system can promise it; then the old bytes are untouched
// when the disk is full or the file may not grow.
bool WriteInPlace(int fd, std::initializer_list<std::string_view> parts) {
  std::size_t total = 0;
  for (std::string_view part : parts) total += part.size();
  rlimit limit{};
  bool ok = ::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || total <= limit.rlim_cur;
#ifdef FALLOC_FL_KEEP_SIZE
  if (ok && total > 0 && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(total)) != 0) {
    ok = errno == EOPNOTSUPP || errno == ENOSYS;  // no promise to be had: write all the same
  }
#endif
  // Over the old bytes, then cut to length: growing into the room taken above.
  ok = ok && WriteAll(fd, parts) && ::ftruncate(fd, static_cast<off_t>(total)) == 0 && ::fsync(fd) == 0;
  return ::close(fd) == 0 && ok;
}

// A new file beside `target` to be renamed over it, created the way any new
// file is (0666 less the umask, or the directory's default ACL); -1 with
// errno when none can be made.
int MakeTemporary(const std::string& target, std::string& name) {
  static std::atomic<unsigned> counter{0};
  for (int tries = 0; tries < 100; ++tries) {
    name = target + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

bool WriteFileBytes(std::string_view path, std::initializer_list<std::string_view> parts) {
  if (path.empty()) return false;
  const std::optional<std::string> target = FollowLinks(std::string(path));
  if (!target) return false;
  struct stat existing {};
  const bool exists = ::stat(target->c_str(), &existing) == 0;
  if (!exists && errno != ENOENT) return false;
  if (exists && S_ISDIR(existing.st_mode)) return false;
  if (exists && !S_ISREG(existing.st_mode)) {
    // A terminal, a pipe, a device: renaming over those would replace them.
    const int fd = ::open(target->c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = WriteAll(fd, parts);
    return ::close(fd) == 0 && ok;
  }
  // An existing file must be writable, as it is for an ordinary write: a
  // rename would otherwise replace a read-only file.
  const int inPlace = exists ? ::open(target->c_str(), O_WRONLY | O_CLOEXEC) : -1;
  if (exists && (inPlace < 0 || ::fstat(inPlace, &existing) != 0)) {
    if (inPlace >= 0) ::close(inPlace);
    return false;
  }
  // Other names of the file would keep the old bytes after a rename.
  if (exists && existing.st_nlink > 1) return WriteInPlace(inPlace, parts);
  std::string temporary;
  const int fd = MakeTemporary(*target, temporary);
  if (fd < 0) {
    // A writable file in a directory that is not (or whose name leaves no
    // room for a temporary name) is still written.
    if (inPlace >= 0 && (errno == EACCES || errno == EPERM || errno == ENAMETOOLONG)) {
      return WriteInPlace(inPlace, parts);
    }
    if (inPlace >= 0) ::close(inPlace);
    return false;
  }
  if (exists) {
    // The owner first, as changing it clears the set-id bits.
    if (::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
      // Not the process's to give away (EPERM): the file becomes the writer's.
    }
    ::fchmod(fd, existing.st_mode & 07777);
  }
  bool written = WriteAll(fd, parts) && ::fsync(fd) == 0;  // on disk before the name moves to it
  written = ::close(fd) == 0 && written;
  const bool renamed = written && ::rename(temporary.c_str(), target->c_str()) == 0;
  const int renameError = errno;
  if (!renamed) ::unlink(temporary.c_str());
  // A file mounted over another (a container's config.ini) cannot be renamed over.
  if (written && !renamed && inPlace >= 0 && (renameError == EBUSY || renameError == EXDEV)) {
    return WriteInPlace(inPlace, parts);
  }
  if (inPlace >= 0) ::close(inPlace);
  return renamed;
}

bool WriteFileBytes(std::string_view path, const ByteArray& bytes) {
  return WriteFileBytes(path, {std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())});
}

}  // namespace kelvarn
