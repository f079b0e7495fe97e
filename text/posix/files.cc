#include "text/files.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "text/files_os.h"

namespace kelvarn {

char detail::PathSeparator() { return '/'; }

std::string_view detail::ConfigBelowHome() { return ".config/"; }

bool detail::IsAbsolutePath(std::string_view path) { return !path.empty() && path.front() == '/'; }

bool detail::DirectoryIsWritable(const std::string& dir) {
  return ::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

void detail::MakeDirectories(const std::string& dir) {
  // mkdir -p: a parent that is missing is made private too: cookies.txt may
  // hold a browser session.
  for (std::size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1)) {
    ::mkdir(dir.substr(0, slash).c_str(), 0700);
  }
}

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

std::string PathBeside(std::string_view file, std::string_view path) {
  const std::size_t end = file.rfind('/');
  if (detail::IsAbsolutePath(path) || end == std::string_view::npos) return std::string(path);
  return std::string(file.substr(0, end + 1)).append(path);
}

bool OthersMayRead(std::string_view path) {
  struct stat st {};
  return ::stat(std::string(path).c_str(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

namespace {

// Reads the open file to its end or `maxBytes`, and closes it.
std::optional<std::string> ReadAndClose(int fd, std::size_t maxBytes) {
  std::string data;
  char buffer[65536];
  while (data.size() < maxBytes) {
    const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, maxBytes - data.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      errno = error;
      return std::nullopt;
    }
    if (n == 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return data;
}

}  // namespace

std::optional<std::string> ReadFile(std::string_view path, std::size_t maxBytes) {
  if (path.empty()) return std::nullopt;
  const int fd = ::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  return ReadAndClose(fd, maxBytes);
}

std::optional<std::string> ReadRegularFile(std::string_view path, std::size_t maxBytes) {
  if (path.empty()) return std::nullopt;
  // Without O_NONBLOCK the open of a FIFO waits for a writer; an ordinary
  // file reads as it would without it.
  const int fd = ::open(std::string(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return std::nullopt;
  }
  return ReadAndClose(fd, maxBytes);
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

// Copies the user attributes (user.*) of one open file to another, as a
// rename would otherwise drop them. False when one could not be copied; a
// file system without attributes has none to lose.
bool CopyUserAttributes(int from, int to) {
  std::vector<char> names(256), value(256);
  for (;;) {
    const ssize_t n = ::flistxattr(from, names.data(), names.size());
    if (n >= 0) {
      names.resize(static_cast<std::size_t>(n));
      break;
    }
    if (errno == ENOTSUP) return true;
    if (errno != ERANGE) return false;
    names.resize(names.size() * 2);
  }
  for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
    const char* name = names.data() + at;
    if (std::strncmp(name, "user.", 5) != 0) continue;
    ssize_t n;
    while ((n = ::fgetxattr(from, name, value.data(), value.size())) < 0 && errno == ERANGE) {
      value.resize(value.size() * 2);
    }
    if (n < 0 || ::fsetxattr(to, name, value.data(), static_cast<std::size_t>(n), 0) != 0) return false;
  }
  return true;
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
    // The attributes first, while the temporary is still the writer's own:
    // a file that would lose one to the rename is written in place. Then the
    // owner, as changing it clears the set-id bits, then the mode.
    if (!CopyUserAttributes(inPlace, fd)) {
      ::close(fd);
      ::unlink(temporary.c_str());
      return WriteInPlace(inPlace, parts);
    }
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

std::optional<AppendFile> AppendFile::Open(std::string_view path) {
  const int fd = ::open(std::string(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return std::nullopt;
  return AppendFile(fd);
}

AppendFile::~AppendFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool AppendFile::Lock() { return ::flock(fd_, LOCK_EX | LOCK_NB) == 0; }

bool AppendFile::Append(std::string_view bytes) {
  // One write for the whole record; a short one (a full disk) is finished
  // or failed, never left half-way without a word.
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool AppendFile::Sync() { return ::fdatasync(fd_) == 0 || errno == EINVAL; }  // EINVAL: a pipe or a device

bool AppendFile::Truncate(std::int64_t size) { return ::ftruncate(fd_, static_cast<off_t>(size)) == 0; }

std::int64_t AppendFile::Size() const {
  struct stat st {};
  return ::fstat(fd_, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

}  // namespace kelvarn
