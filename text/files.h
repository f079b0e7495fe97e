// The program's directory, private-profile settings files, and whole-file
// reads and writes. Paths are file-system paths in the platform's own
// encoding (the ANSI code page on Windows); section, key and value texts are
// GBK bytes. The settings rules are shared; file access is the system's
// (posix/, win32/).
//
// None of these shows or raises an error: failures come back as false, the
// empty text or the empty byte array. Safe to call from any thread; two
// writers of one file race as the file system allows (the last write wins).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "text/text.h"

namespace kelvarn {

// The directory of the running executable, ending in exactly one separator
// ("/"; on Windows "\\", the system's own, although it takes "/" as well):
// the window program lives there. Computed once; the same text on every call.
const std::string& ProgramDirectory();

// Where config.ini and cookies.txt live, ending in the separator. Beside the
// program when the process may write there (on Windows: may make a file
// there), so that a build tree or an unpacked copy keeps its settings with
// it; otherwise, as for a program installed in /usr/bin or Program Files, a
// "kelvarn" directory in the user's configuration directory:
// $XDG_CONFIG_HOME/kelvarn/, or ~/.config/kelvarn/ when that variable is
// unset, empty or not absolute (~ is $HOME, else the user's home directory in
// the password database); on Windows %APPDATA%\kelvarn\, else
// %USERPROFILE%\AppData\Roaming\kelvarn\. That directory is made, with every
// missing parent (mode 0700 on POSIX: cookies.txt may hold a browser
// session). Decided on the first call from the environment of that moment;
// the same text on every call.
const std::string& SettingsDirectory();

// The choice SettingsDirectory makes, for a program in `programDir` (ending
// in a separator), the configuration directory `configHome` ($XDG_CONFIG_HOME;
// %APPDATA% on Windows) and the home `home` ($HOME; %USERPROFILE%), null when
// unset; makes the directory when it is not `programDir`. Without an absolute
// one of them, there is nowhere better: `programDir`.
std::string ChooseSettingsDirectory(const std::string& programDir, const char* configHome, const char* home);

// The value of `key` in `section` of the settings file at `path`, or
// `defaultValue` (empty when absent; trailing spaces dropped) when the file,
// section or key is missing. Leading bytes of 0x20 or less are skipped from
// the path, section and key, and trailing spaces from the section and key; if
// any is then empty the result is empty and the default is not applied.
// Sections and keys match without regard to ASCII letter case; blanks (space,
// tab, vertical tab) around names and values in the file are ignored and a
// quoted value is unquoted; the first of duplicate sections or keys wins; ";"
// lines are comments; lines end at LF, CR LF or a lone CR. A file in UTF-8
// (any valid UTF-8, with or without a byte-order mark) or in UTF-16 with its
// mark is read converted to GBK; anything else as GBK. Values longer than
// 10239 bytes come back cut to 10239 bytes. A file larger than
// kMaxSettingsFileBytes reads as missing (the read stops there), and so does
// one that is no ordinary file (a FIFO, a device), which is never waited on.
inline constexpr std::size_t kMaxSettingsFileBytes = std::size_t{1} << 20;
Text ReadSetting(std::string_view path, std::string_view section, std::string_view key,
                 std::optional<std::string_view> defaultValue = std::nullopt);

// Sets `key` = `value` in `section`, creating the file and the section when
// missing (a new section goes to the end as "[section]\r\nkey=value\r\n", a
// new key to the end of its section). Spaces around the section and key are
// dropped; the value is written as given. An existing key keeps its spelling,
// the spacing around "=" and its line end: only the value after them is
// replaced. An absent value deletes the key, an absent key the whole section.
// Lines not changed are kept byte for byte; in a UTF-8 or UTF-16 file they
// are converted, and the whole file is written in GBK. The file is written by
// WriteFileBytes. False when the file cannot be read or written, is larger
// than kMaxSettingsFileBytes or no ordinary file (then it is not touched), or
// the section or key is nothing but spaces.
bool WriteSetting(std::string_view path, std::string_view section, std::optional<std::string_view> key,
                  std::optional<std::string_view> value);

// The file's bytes, or at most its first `maxBytes` (reading no further, for
// files that may be endless: a device, a link to one); nothing for an empty
// path or a file that cannot be read, the empty text for an empty file.
std::optional<std::string> ReadFile(std::string_view path, std::size_t maxBytes = SIZE_MAX);
// ReadFile for a file that must be an ordinary one, as settings and cookie
// files are: nothing, with errno EINVAL, for a FIFO, a device, a directory or
// a socket, none of which it waits on (a FIFO would hold the read until some
// writer came).
std::optional<std::string> ReadRegularFile(std::string_view path, std::size_t maxBytes = SIZE_MAX);
// The whole file as bytes, or the empty array when ReadFile gives nothing.
ByteArray ReadFileBytes(std::string_view path);

// `path` as seen from the directory of `file`: unchanged when absolute or
// when `file` names no directory, else that directory's path followed by it.
// Lets a list file name other files beside itself.
std::string PathBeside(std::string_view file, std::string_view path);

// Whether users other than the owner may read the file at `path`: its mode
// gives group or others read permission. False when it cannot be looked at,
// and always on Windows (see win32/files.cc).
bool OthersMayRead(std::string_view path);

// Replaces the file with the parts, in order, as an ordinary write would:
// through symbolic links (making the file a dangling one names), refused for a
// read-only file, keeping the file's mode, its user attributes (user.*) and,
// where the process may, its owner and group (on Windows its ACL, attributes
// and creation time); a new file gets 0666 less the umask (on Windows the
// directory's inherited ACL). The bytes go to a temporary file beside it,
// synced and renamed into place (on Windows ReplaceFileA, or MoveFileExA for a
// new file) only when every byte was written, so a failure leaves the old file
// (or none) and returns false. Where a rename would lose something the file is
// overwritten in place instead: when it has other hard links, is mounted over
// another file, lies in a directory the process may not write, or has a user
// attribute that could not be copied; the room is taken first where the file
// system allows, so a full disk still fails before a byte changes. Devices,
// pipes and terminals (NUL, CON) are written straight. An empty path gives
// false and touches nothing.
// A file a long run appends whole records to, for a journal or an output
// that must survive the process's death: each Append is one write on a file
// opened for appending, so a killed process leaves every record whole or
// absent. Errors come back as false with errno set. Move-only; closes on
// destruction. Not thread-safe: one thread appends.
class AppendFile {
 public:
  // Opens `path` for appending, creating it (mode 0644 before the umask).
  static std::optional<AppendFile> Open(std::string_view path);
  AppendFile(AppendFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  AppendFile& operator=(AppendFile&& other) noexcept {
    std::swap(fd_, other.fd_);  // the file held before closes with `other`
    return *this;
  }
  AppendFile(const AppendFile&) = delete;
  ~AppendFile();

  // An exclusive lock held until the file is closed: false at once when
  // another process holds it (flock; LockFileEx on Windows).
  bool Lock();
  bool Append(std::string_view bytes);
  // What was appended so far reaches the disk (fdatasync; _commit on Windows).
  bool Sync();
  // Cuts the file to `size` bytes; later appends go at the new end.
  bool Truncate(std::int64_t size);
  // The file's size, or -1.
  std::int64_t Size() const;

 private:
  explicit AppendFile(int fd) : fd_(fd) {}
  int fd_ = -1;
};

bool WriteFileBytes(std::string_view path, std::initializer_list<std::string_view> parts);
bool WriteFileBytes(std::string_view path, const ByteArray& bytes);

}  // namespace kelvarn
