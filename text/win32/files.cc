// Paths are ANSI (the process's code page, 936 for this program) and go to
// the A functions unchanged: the window, the settings and the file dialogs
// all speak that code page.
#include "text/files.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "text/files_os.h"

namespace kelvarn {

char detail::PathSeparator() { return '\\'; }

std::string_view detail::ConfigBelowHome() { return "AppData\\Roaming\\"; }

bool detail::IsAbsolutePath(std::string_view path) {
  const auto separator = [](char c) { return c == '\\' || c == '/'; };
  if (path.size() >= 2 && separator(path[0]) && separator(path[1])) return true;  // \\server\share
  return path.size() >= 3 && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' &&
         separator(path[2]);
}

bool detail::DirectoryIsWritable(const std::string& dir) {
  // Permissions live in ACLs and the read-only attribute means nothing on a
  // directory: only making a file there tells.
  const std::string probe = dir + "kelvarn-" + std::to_string(::GetCurrentProcessId()) + ".tmp";
  const HANDLE h = ::CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(h);
  return true;
}

void detail::MakeDirectories(const std::string& dir) {
  // From the first separator after the root ("C:\" or "\\server\share\").
  std::size_t from = 3;
  if (dir.size() >= 2 && (dir[0] == '\\' || dir[0] == '/') && (dir[1] == '\\' || dir[1] == '/')) {
    from = dir.find_first_of("\\/", dir.find_first_of("\\/", 2) + 1);
  }
  for (std::size_t at = dir.find_first_of("\\/", from); at != std::string::npos;
       at = dir.find_first_of("\\/", at + 1)) {
    ::CreateDirectoryA(dir.substr(0, at).c_str(), nullptr);
  }
}

const std::string& ProgramDirectory() {
  static const std::string directory = [] {
    char path[MAX_PATH + 1];
    const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::string(".\\");
    // The last separator, stepping over double-byte characters: a GBK trail
    // byte may be 0x5C, the backslash.
    std::size_t end = 0;
    for (DWORD i = 0; i < n; ++i) {
      if (::IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < n) {
        ++i;
      } else if (path[i] == '\\' || path[i] == '/') {
        end = i + 1;
      }
    }
    std::string dir(path, end);
    if (dir.empty()) return std::string(".\\");
    dir.back() = '\\';  // exactly one separator, the system's own
    return dir;
  }();
  return directory;
}

const std::string& SettingsDirectory() {
  static const std::string directory = [] {
    return ChooseSettingsDirectory(ProgramDirectory(), std::getenv("APPDATA"), std::getenv("USERPROFILE"));
  }();
  return directory;
}

namespace {

// errno for WriteSetting, which tells a missing file (a new one) from one it
// may not read.
void SetErrno(DWORD error) { errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES; }

bool WriteAll(HANDLE h, std::initializer_list<std::string_view> parts) {
  for (std::string_view part : parts) {
    while (!part.empty()) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(part.size(), 1u << 30));
      if (!::WriteFile(h, part.data(), chunk, &written, nullptr) || written == 0) return false;
      part.remove_prefix(written);
    }
  }
  return true;
}

// Overwrites the open file where it stands, for when a replacement would lose
// something; the room is taken first so that a full disk fails before a byte
// changes.
bool WriteInPlace(HANDLE h, std::initializer_list<std::string_view> parts) {
  std::size_t total = 0;
  for (std::string_view part : parts) total += part.size();
  FILE_ALLOCATION_INFO room{};
  room.AllocationSize.QuadPart = static_cast<LONGLONG>(total);
  bool ok = ::SetFileInformationByHandle(h, FileAllocationInfo, &room, sizeof room) ||
            ::GetLastError() != ERROR_DISK_FULL;  // no promise to be had otherwise: write all the same
  ok = ok && WriteAll(h, parts) && ::SetEndOfFile(h) && ::FlushFileBuffers(h);
  return ::CloseHandle(h) && ok;
}

// A new file beside `target` to be moved over it; INVALID_HANDLE_VALUE (and
// the error) when none can be made.
HANDLE MakeTemporary(const std::string& target, std::string& name) {
  static std::atomic<unsigned> counter{0};
  for (int tries = 0; tries < 100; ++tries) {
    name = target + "." + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++) + ".tmp";
    const HANDLE h = ::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) return h;
  }
  return INVALID_HANDLE_VALUE;
}

}  // namespace

namespace {

// ReadFile, or with `diskFileOnly` ReadRegularFile: a pipe or a device (CON)
// is refused before any read waits on it.
std::optional<std::string> Read(std::string_view path, std::size_t maxBytes, bool diskFileOnly) {
  if (path.empty()) return std::nullopt;
  const HANDLE h =
      ::CreateFileA(std::string(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    SetErrno(::GetLastError());
    return std::nullopt;
  }
  if (diskFileOnly && ::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    errno = EINVAL;
    return std::nullopt;
  }
  std::string data;
  char buffer[65536];
  while (data.size() < maxBytes) {
    DWORD n = 0;
    if (!::ReadFile(h, buffer, static_cast<DWORD>(std::min(sizeof buffer, maxBytes - data.size())), &n, nullptr)) {
      const DWORD error = ::GetLastError();
      ::CloseHandle(h);
      if (error == ERROR_BROKEN_PIPE) return data;  // a pipe's end
      SetErrno(error);
      return std::nullopt;
    }
    if (n == 0) break;
    data.append(buffer, n);
  }
  ::CloseHandle(h);
  return data;
}

}  // namespace

std::string PathBeside(std::string_view file, std::string_view path) {
  // The last separator, stepping over double-byte characters as
  // ProgramDirectory does: a GBK trail byte may be 0x5C.
  std::size_t end = 0;
  for (std::size_t i = 0; i < file.size(); ++i) {
    if (::IsDBCSLeadByte(static_cast<BYTE>(file[i])) && i + 1 < file.size()) {
      ++i;
    } else if (file[i] == '\\' || file[i] == '/') {
      end = i + 1;
    }
  }
  if (detail::IsAbsolutePath(path) || end == 0) return std::string(path);
  return std::string(file.substr(0, end)).append(path);
}

// Who may read a file is its ACL's matter, usually inherited from a profile
// directory that is private already; the mode bits that would tell here
// carry only the read-only attribute, so no warning can be founded on them.
bool OthersMayRead(std::string_view) { return false; }

std::optional<std::string> ReadFile(std::string_view path, std::size_t maxBytes) { return Read(path, maxBytes, false); }

std::optional<std::string> ReadRegularFile(std::string_view path, std::size_t maxBytes) {
  return Read(path, maxBytes, true);
}

bool WriteFileBytes(std::string_view path, std::initializer_list<std::string_view> parts) {
  if (path.empty()) return false;
  std::string target(path);
  // Opening for writing refuses what an ordinary write would: a read-only
  // file, a directory, one the ACL closes. A missing file is made below.
  HANDLE existing = ::CreateFileA(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (existing == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  if (existing != INVALID_HANDLE_VALUE) {
    if (::GetFileType(existing) != FILE_TYPE_DISK) {  // NUL, CON, a pipe: a rename would replace nothing
      const bool ok = WriteAll(existing, parts);
      return ::CloseHandle(existing) && ok;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(existing, &info)) {
      ::CloseHandle(existing);
      return false;
    }
    // Other names of the file would keep the old bytes after a replacement.
    if (info.nNumberOfLinks > 1) return WriteInPlace(existing, parts);
    // A symbolic link is written through: the file it names is replaced.
    if (const DWORD attributes = ::GetFileAttributesA(target.c_str());
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      char final[MAX_PATH * 4];
      const DWORD n = ::GetFinalPathNameByHandleA(existing, final, sizeof final, FILE_NAME_NORMALIZED);
      if (n == 0 || n >= sizeof final) {
        ::CloseHandle(existing);
        return false;
      }
      target.assign(final, n);
    }
  }
  std::string temporary;
  const HANDLE fd = MakeTemporary(target, temporary);
  if (fd == INVALID_HANDLE_VALUE) {
    // A writable file in a directory that is not is still written.
    if (existing != INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
      return WriteInPlace(existing, parts);
    }
    if (existing != INVALID_HANDLE_VALUE) ::CloseHandle(existing);
    return false;
  }
  bool written = WriteAll(fd, parts) && ::FlushFileBuffers(fd);  // on disk before the name moves to it
  written = ::CloseHandle(fd) && written;
  bool replaced = false;
  if (written && existing != INVALID_HANDLE_VALUE) {
    ::CloseHandle(existing);
    existing = INVALID_HANDLE_VALUE;
    // ReplaceFile keeps what the old file had and a move would lose: its
    // ACL, attributes, creation time and other streams, as the Linux build
    // keeps mode and owner.
    replaced =
        ::ReplaceFileA(target.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
  } else if (written) {
    replaced = ::MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  }
  if (existing != INVALID_HANDLE_VALUE) ::CloseHandle(existing);
  if (!replaced) ::DeleteFileA(temporary.c_str());
  return replaced;
}

std::optional<AppendFile> AppendFile::Open(std::string_view path) {
  const int fd = ::_open(std::string(path).c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                         _S_IREAD | _S_IWRITE);
  if (fd < 0) return std::nullopt;
  return AppendFile(fd);
}

AppendFile::~AppendFile() {
  if (fd_ >= 0) ::_close(fd_);
}

bool AppendFile::Lock() {
  const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd_));
  OVERLAPPED whole{};
  if (::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) return true;
  errno = EWOULDBLOCK;
  return false;
}

bool AppendFile::Append(std::string_view bytes) {
  while (!bytes.empty()) {
    const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(bytes.size(), 1u << 30));
    const int n = ::_write(fd_, bytes.data(), chunk);
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool AppendFile::Sync() { return ::_commit(fd_) == 0; }

bool AppendFile::Truncate(std::int64_t size) { return ::_chsize_s(fd_, size) == 0; }

std::int64_t AppendFile::Size() const { return ::_filelengthi64(fd_); }

}  // namespace kelvarn
