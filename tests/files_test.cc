#include "text/files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace kelvarn {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int made = 0;
    const fs::path dir = fs::temp_directory_path() /
                         ("kelvarn-files-" + std::to_string(std::random_device{}()) + "-" + std::to_string(++made));
    fs::remove_all(dir);
    ASSERT_TRUE(fs::create_directory(dir));
    dir_ = dir.string();
    ini_ = dir_ + kSeparator + "config.ini";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir_, ignored);
  }
  // The names in the test directory: a write leaves no temporary behind.
  int Entries() const {
    return static_cast<int>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }

  void Write(const std::string& text) { ASSERT_TRUE(WriteFileBytes(ini_, {text})); }
  std::string Read() const { return Read(ini_); }
  static std::string Read(const std::string& path) {
    const ByteArray bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
  }
#ifndef _WIN32
  mode_t Mode(const std::string& path) const { struct stat st { };
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  }
#endif

  std::string dir_, ini_;
};

const Text kSection = Utf8ToGbk("配置");
const Text kWorkers = Utf8ToGbk("工作线程");
const Text kDepth = Utf8ToGbk("采集级别");

TEST_F(FilesTest, ProgramDirectoryIsTheTestProgramsDirectoryWithOneSeparator) {
  const std::string& dir = ProgramDirectory();
  ASSERT_GE(dir.size(), 2u);
  EXPECT_EQ(kSeparator, dir.back());
  EXPECT_NE(kSeparator, dir[dir.size() - 2]);
  EXPECT_EQ(&dir, &ProgramDirectory());
#ifdef _WIN32
  EXPECT_TRUE(fs::exists(dir + "files_test.exe"));
#else
  EXPECT_TRUE(fs::exists(dir + "files_test"));
#endif
}

// A program directory the process cannot write (here: one that is missing)
// sends the settings to the user's configuration directory, made on demand.
TEST_F(FilesTest, SettingsLiveBesideAWritableProgramElseInTheUsersConfigDirectory) {
  EXPECT_EQ(ProgramDirectory(), SettingsDirectory());  // a build tree keeps them beside the program
  const std::string sep(1, kSeparator), program = dir_ + sep;
  EXPECT_EQ(program, ChooseSettingsDirectory(program, (dir_ + sep + "nowhere").c_str(), dir_.c_str()));
  const std::string gone = dir_ + sep + "gone" + sep, home = dir_ + sep + "home";
  EXPECT_EQ(home + sep + "cfg" + sep + "kelvarn" + sep,
            ChooseSettingsDirectory(gone, (home + sep + "cfg" + sep + sep).c_str(), home.c_str()));
  EXPECT_TRUE(fs::is_directory(home + sep + "cfg" + sep + "kelvarn"));  // made, parents too
#ifdef _WIN32
  const std::string belowHome = home + "\\AppData\\Roaming\\kelvarn\\";
#else
  const std::string belowHome = home + "/.config/kelvarn/";
#endif
  EXPECT_EQ(belowHome, ChooseSettingsDirectory(gone, "", (home + sep).c_str()));  // empty or relative: below home
  EXPECT_EQ(belowHome, ChooseSettingsDirectory(gone, "cfg", home.c_str()));
  EXPECT_TRUE(fs::is_directory(belowHome));
  EXPECT_EQ(gone, ChooseSettingsDirectory(gone, nullptr, nullptr));  // nowhere better
}

TEST_F(FilesTest, NewFileIsWrittenAsOneSection) {
  EXPECT_TRUE(WriteSetting(ini_, kSection, kWorkers, "20"));
  EXPECT_EQ("[" + kSection + "]\r\n" + kWorkers + "=20\r\n", Read());
  EXPECT_TRUE(WriteSetting(ini_, kSection, kDepth, "1"));
  EXPECT_EQ("[" + kSection + "]\r\n" + kWorkers + "=20\r\n" + kDepth + "=1\r\n", Read());
  EXPECT_EQ("20", ReadSetting(ini_, kSection, kWorkers));
  EXPECT_EQ("1", ReadSetting(ini_, kSection, kDepth, "9"));
}

TEST_F(FilesTest, ReadingRules) {
  Write(
      "; comment\r\n[Other]\r\nkey=other\r\n[ Main ]\r\n  Key  =  spaced value  \r\nkey=second\r\n"
      "quoted=\"a b\"\r\nsingle='x'\r\nbare\r\nvt=\v x\t\v\r\n[main]\r\nkey=duplicate section\r\n");
  EXPECT_EQ("spaced value", ReadSetting(ini_, "main", "KEY"));          // case, trimming, first key wins
  EXPECT_EQ("spaced value", ReadSetting(ini_, " main  ", " \tkey  "));  // spaces around the names skipped
  EXPECT_EQ("d", ReadSetting(ini_, "main", "key\t", "d"));              // but not a trailing tab
  EXPECT_EQ("x", ReadSetting(ini_, "main", "vt"));
  EXPECT_EQ("a b", ReadSetting(ini_, "Main", "quoted"));
  EXPECT_EQ("x", ReadSetting(ini_, "Main", "single"));
  EXPECT_EQ("", ReadSetting(ini_, "Main", "bare", "d"));
  EXPECT_EQ("other", ReadSetting(ini_, "other", "key"));
  EXPECT_EQ(" 20", ReadSetting(ini_, "Main", "missing", " 20  "));  // only trailing spaces leave the default
  EXPECT_EQ("20\t", ReadSetting(ini_, "Main", "missing", "20\t"));
  EXPECT_EQ("20", ReadSetting(ini_, "Missing", "key", "20"));
  EXPECT_EQ("20", ReadSetting(dir_ + "/absent.ini", "Main", "key", "20"));
  EXPECT_EQ("", ReadSetting(ini_, "", "key", "20"));  // an empty name ignores the default
  EXPECT_EQ("", ReadSetting(ini_, "Main", " \t", "20"));
  EXPECT_EQ("", ReadSetting("", "Main", "key", "20"));
  EXPECT_EQ("", ReadSetting(ini_, "; comment", "key", "?") == "?" ? "" : "comment lines are not sections");
  Write("[cr]\rk=v\r");  // a lone CR ends a line too
  EXPECT_EQ("v", ReadSetting(ini_, "cr", "k"));
}

TEST_F(FilesTest, LongValuesAreCutAndOversizedFilesReadAsMissing) {
  Write("[s]\r\nk=" + std::string(20000, 'v') + "\r\n");
  EXPECT_EQ(10239u, ReadSetting(ini_, "s", "k").size());
  // A file of the size limit reads; one byte more, a link to a device that
  // never ends or a FIFO without a writer reads as missing (and the read ends).
  const std::string head = "[s]\r\nk=v\r\n;";
  Write(head + std::string(kMaxSettingsFileBytes - head.size(), 'x'));
  EXPECT_EQ("v", ReadSetting(ini_, "s", "k", "d"));
  Write(head + std::string(kMaxSettingsFileBytes - head.size() + 1, 'x'));
  EXPECT_EQ("d", ReadSetting(ini_, "s", "k", "d"));
  EXPECT_FALSE(WriteSetting(ini_, "s", "k", "v"));  // and is not written either
#ifndef _WIN32
  ASSERT_EQ(0, ::unlink(ini_.c_str()));
  ASSERT_EQ(0, ::symlink("/dev/zero", ini_.c_str()));
  EXPECT_EQ("d", ReadSetting(ini_, "s", "k", "d"));
  EXPECT_FALSE(WriteSetting(ini_, "s", "k", "v"));
  ASSERT_EQ(0, ::unlink(ini_.c_str()));
  ASSERT_EQ(0, ::mkfifo(ini_.c_str(), 0600));
  EXPECT_EQ("d", ReadSetting(ini_, "s", "k", "d"));
  EXPECT_FALSE(WriteSetting(ini_, "s", "k", "v"));
#endif
}

TEST_F(FilesTest, GbkNamesFoldOnlyAsciiLetters) {
  // 0x81 0x5D: a character whose trail byte is "]"; 0x81 0x41 / 0x81 0x61: trail bytes that are letters.
  const std::string section = "\x81]x",
                    upper =
                        "\x81"
                        "A",
                    lower =
                        "\x81"
                        "a";
  Write("[" + section + "]\r\n" + upper + "=upper\r\nz\x81=cut\r\n");
  EXPECT_EQ("upper", ReadSetting(ini_, section, upper));
  EXPECT_EQ("cut", ReadSetting(ini_, section, "z\x81"));  // a name cut after a lead byte still matches itself
  EXPECT_EQ("", ReadSetting(ini_, section, lower));       // trail bytes are never folded
  EXPECT_EQ("", ReadSetting(ini_, "\x81", upper));        // the "]" inside the character does not end the name
  EXPECT_EQ("upper", ReadSetting(ini_, "\x81]X", upper));
}

TEST_F(FilesTest, WritingKeepsOtherLinesByteForByte) {
  Write("; keep me \n[a]\r\n  x = \"1\" ; one\n\r\n[b]\r\ny=2\r\n");
  EXPECT_TRUE(WriteSetting(ini_, "A", "z", "3"));  // new key: end of its section, before the blank line
  EXPECT_EQ("; keep me \n[a]\r\n  x = \"1\" ; one\nz=3\r\n\r\n[b]\r\ny=2\r\n", Read());
  // A rewrite replaces the whole value (quotes and ";" are part of it) and
  // keeps the key as spelt, the spacing around "=" and the line end.
  EXPECT_TRUE(WriteSetting(ini_, "a", "X", " 9 "));
  EXPECT_EQ("; keep me \n[a]\r\n  x =  9 \nz=3\r\n\r\n[b]\r\ny=2\r\n", Read());
  EXPECT_TRUE(WriteSetting(ini_, "a", " z ", std::nullopt));  // no value: the key goes
  EXPECT_EQ("; keep me \n[a]\r\n  x =  9 \n\r\n[b]\r\ny=2\r\n", Read());
  EXPECT_TRUE(WriteSetting(ini_, "b", std::nullopt, std::nullopt));  // no key: the section goes
  EXPECT_EQ("; keep me \n[a]\r\n  x =  9 \n\r\n", Read());
  EXPECT_TRUE(WriteSetting(ini_, " c ", " k ", " v "));  // names lose their spaces, the value keeps them
  EXPECT_EQ("; keep me \n[a]\r\n  x =  9 \n\r\n[c]\r\nk= v \r\n", Read());
}

TEST_F(FilesTest, LineEndsOfTheFileAreKept) {
  Write("[a]\r\nx=1");
  EXPECT_TRUE(WriteSetting(ini_, "a", "y", "2"));
  EXPECT_EQ("[a]\r\nx=1\r\ny=2\r\n", Read());
  Write("[a]\rx=1\r");
  EXPECT_TRUE(WriteSetting(ini_, "a", "y", "2"));
  EXPECT_EQ("[a]\rx=1\ry=2\r\n", Read());
  EXPECT_TRUE(WriteSetting(ini_, "a", "x", "3"));
  EXPECT_EQ("[a]\rx=3\ry=2\r\n", Read());
}

// A config.ini saved by another editor in UTF-8 or UTF-16 is read as it
// says, and a save rewrites it whole in GBK: never a second, GBK section in
// a UTF-8 file.
TEST_F(FilesTest, Utf8AndUtf16SettingsAreReadAndRewrittenInGbk) {
  Write("[配置]\n工作线程=3\n");
  EXPECT_EQ("3", ReadSetting(ini_, kSection, kWorkers));
  EXPECT_TRUE(WriteSetting(ini_, kSection, kDepth, "2"));
  EXPECT_EQ(Utf8ToGbk("[配置]\n工作线程=3\n采集级别=2\r\n"), Read());
  Write("\xEF\xBB\xBF[配置]\r\n");  // short, and with a byte-order mark
  EXPECT_TRUE(WriteSetting(ini_, kSection, kWorkers, "4"));
  EXPECT_EQ(Utf8ToGbk("[配置]\r\n工作线程=4\r\n"), Read());
  std::string utf16 = "\xFF\xFE";  // little-endian, by its byte-order mark
  for (const char16_t unit : std::u16string_view(u"[配置]\r\n工作线程=5\r\n")) {
    utf16 += static_cast<char>(unit & 0xFF);
    utf16 += static_cast<char>(unit >> 8);
  }
  Write(utf16);
  EXPECT_EQ("5", ReadSetting(ini_, kSection, kWorkers));
  EXPECT_TRUE(WriteSetting(ini_, kSection, kWorkers, "6"));
  EXPECT_EQ(Utf8ToGbk("[配置]\r\n工作线程=6\r\n"), Read());
}

TEST_F(FilesTest, UnwritableSettingsFail) {
  EXPECT_FALSE(WriteSetting(dir_ + "/no/such/dir/config.ini", "a", "b", "c"));
  EXPECT_FALSE(WriteSetting("", "a", "b", "c"));
  EXPECT_FALSE(WriteSetting(ini_, "  ", "b", "c"));  // names of spaces only
  EXPECT_FALSE(WriteSetting(ini_, "a", " ", "c"));
  EXPECT_FALSE(fs::exists(ini_));  // nothing was created
  EXPECT_EQ(0, Entries());
}

TEST_F(FilesTest, WholeFileBytes) {
  EXPECT_EQ(ByteArray{}, ReadFileBytes(""));
  EXPECT_EQ(ByteArray{}, ReadFileBytes(dir_ + "/missing"));
  EXPECT_FALSE(WriteFileBytes("", {"x"}));

  const std::string path = dir_ + "/out.txt";
  EXPECT_TRUE(WriteFileBytes(path, ByteArray{}));  // an empty file
  EXPECT_EQ(ByteArray{}, ReadFileBytes(path));
  EXPECT_EQ(0u, fs::file_size(path));

  EXPECT_TRUE(WriteFileBytes(path, {"a longer first version", ""}));
  EXPECT_TRUE(WriteFileBytes(path, {"ab", "", std::string_view("c\0d", 3)}));
  EXPECT_EQ((ByteArray{'a', 'b', 'c', 0, 'd'}), ReadFileBytes(path));  // only the new bytes
  EXPECT_EQ(1, Entries());                                             // no temporary left
}

#ifdef _WIN32

// Windows has no modes, owners, symbolic links in ordinary use or bind
// mounts: what stands for them is the read-only attribute, hard links and
// devices. A read-only program directory cannot be had under Wine (it ignores
// the attribute on directories, and ACLs are not enforced): the missing
// program directory of the settings test above stands for it.
// Paths are ANSI: a GBK name is the Chinese name on disk. scripts/test-windows
// runs this first, as the check that Wine was started in code page 936.
TEST_F(FilesTest, PathsAreInCodePage936) {
  ASSERT_EQ(936u, ::GetACP())
      << "start Wine with LC_ALL=zh_CN.UTF-8";  // and that locale installed: see scripts/test-windows
  const std::string path = dir_ + "\\" + kSection + ".ini";
  ASSERT_TRUE(WriteSetting(path, kSection, kWorkers, "20"));
  EXPECT_TRUE(fs::exists(fs::path(dir_) / fs::path(u8"配置.ini")));
  EXPECT_EQ("20", ReadSetting(path, kSection, kWorkers));
}

TEST_F(FilesTest, WritesGoIntoDevicesAndNeverOverDirectories) {
  EXPECT_TRUE(WriteFileBytes("NUL", {"discarded"}));
  EXPECT_FALSE(WriteFileBytes(dir_, {"x"}));
  EXPECT_TRUE(fs::is_directory(dir_));
  EXPECT_EQ(0, Entries());
}

TEST_F(FilesTest, WritesGoThroughSymbolicLinks) {
  const std::string real = dir_ + "\\real.txt", link = dir_ + "\\link.txt";
  ASSERT_TRUE(WriteFileBytes(real, {"old"}));
  // Wine 8 reports success and makes no link; Windows wants a privilege.
  if (!::CreateSymbolicLinkA(link.c_str(), real.c_str(), 0) || !fs::is_symlink(link)) {
    GTEST_SKIP() << "no symbolic links to be made here";
  }
  EXPECT_TRUE(WriteFileBytes(link, {"new"}));
  EXPECT_TRUE(fs::is_symlink(link));  // still a link
  EXPECT_EQ("new", Read(real));
  EXPECT_EQ(2, Entries());
}

TEST_F(FilesTest, AWriteKeepsHardLinksAndRefusesReadOnlyFiles) {
  const std::string path = dir_ + "\\out.txt", other = dir_ + "\\other.txt";
  ASSERT_TRUE(WriteFileBytes(path, {"one"}));
  ASSERT_TRUE(::CreateHardLinkA(other.c_str(), path.c_str(), nullptr));
  EXPECT_TRUE(WriteFileBytes(path, {"two"}));
  EXPECT_EQ("two", Read(other));  // still one file under both names
  EXPECT_EQ(2, Entries());

  ASSERT_TRUE(::DeleteFileA(other.c_str()));
  ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_FALSE(WriteFileBytes(path, {"three"}));
  EXPECT_FALSE(WriteSetting(path, "a", "k", "x"));
  EXPECT_EQ("two", Read(path));
  EXPECT_EQ(1, Entries());
  // Wine keeps no hidden or system attribute where the file system has no
  // extended attributes, so that ReplaceFileA keeps them is not checked here.
  ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(WriteFileBytes(path, {"four"}));
  EXPECT_EQ("four", Read(path));
}

#else  // POSIX: modes, owners, links, mounts

// The exit status of `body` run in a child process.
int InChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs `check` in a child process as an ordinary user (nobody when the tests
// run as root, whom permission bits do not stop) under the file size limit
// given; true when it returned true.
bool AsOrdinaryUser(const std::function<bool()>& check, rlim_t fileSizeLimit = RLIM_INFINITY) {
  return InChild([&] {
           if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
             return 3;
           }
           ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
           const rlimit limit{fileSizeLimit, fileSizeLimit};
           ::setrlimit(RLIMIT_FSIZE, &limit);
           return check() ? 0 : 1;
         }) == 0;
}

TEST_F(FilesTest, AnInstalledProgramsSettingsArePrivateToTheUser) {
  // An installed program: its directory is read-only to the user.
  const std::string program = dir_ + "/bin/", home = dir_ + "/home";
  ASSERT_EQ(0, ::mkdir(program.c_str(), 0555));
  ASSERT_EQ(0, ::mkdir(home.c_str(), 0700));
  ASSERT_EQ(0, ::chmod(home.c_str(), 0777));  // the user's, whoever that is
  ASSERT_EQ(0, ::chmod(dir_.c_str(), 0755));
  const auto chosen = [&](const char* xdg, const char* homeVar, const std::string& expected) {
    return AsOrdinaryUser([&] { return ChooseSettingsDirectory(program, xdg, homeVar) == expected; });
  };
  EXPECT_TRUE(chosen((home + "/xdg//").c_str(), home.c_str(), home + "/xdg/kelvarn/"));
  EXPECT_EQ(0700u, Mode(home + "/xdg"));  // made, parents too, for the user alone
  EXPECT_EQ(0700u, Mode(home + "/xdg/kelvarn"));
  EXPECT_TRUE(chosen("", (home + "/").c_str(), home + "/.config/kelvarn/"));  // empty or relative: ~/.config
  EXPECT_TRUE(chosen("xdg", home.c_str(), home + "/.config/kelvarn/"));
  EXPECT_EQ(0700u, Mode(home + "/.config/kelvarn"));
  EXPECT_TRUE(chosen(nullptr, nullptr, program));  // nowhere better
}

TEST_F(FilesTest, WritesGoThroughLinksAndIntoNonRegularFiles) {
  const std::string real = dir_ + "/real.txt", link = dir_ + "/link.txt";
  ASSERT_TRUE(WriteFileBytes(real, {"old"}));
  ASSERT_EQ(0, ::symlink(real.c_str(), link.c_str()));
  EXPECT_TRUE(WriteFileBytes(link, {"new"}));
  struct stat st {};
  ASSERT_EQ(0, ::lstat(link.c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));  // still a link
  EXPECT_EQ((ByteArray{'n', 'e', 'w'}), ReadFileBytes(real));
  EXPECT_TRUE(WriteFileBytes("/dev/null", {"discarded"}));
  ASSERT_EQ(0, ::stat("/dev/null", &st));
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_FALSE(WriteFileBytes(dir_, {"x"}));  // a directory

  // A link to a file not made yet makes that file, relative to the link.
  const std::string dangling = dir_ + "/dangling.txt";
  ASSERT_EQ(0, ::symlink("made.txt", dangling.c_str()));
  EXPECT_TRUE(WriteFileBytes(dangling, {"made"}));
  ASSERT_EQ(0, ::lstat(dangling.c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ("made", Read(dir_ + "/made.txt"));
  const std::string loop = dir_ + "/loop";
  ASSERT_EQ(0, ::symlink("loop", loop.c_str()));
  EXPECT_FALSE(WriteFileBytes(loop, {"x"}));
  EXPECT_EQ(0, std::system(("test $(ls '" + dir_ + "' | wc -l) -eq 5").c_str()));  // no temporary left
}

TEST_F(FilesTest, AWriteKeepsModeAttributesOwnerAndHardLinks) {
  const std::string path = dir_ + "/out.txt", other = dir_ + "/other.txt";
  const mode_t mask = ::umask(027);
  const bool made = WriteFileBytes(path, {"one"});
  ::umask(mask);
  ASSERT_TRUE(made);
  EXPECT_EQ(0640u, Mode(path));  // a new file follows the umask

  ASSERT_EQ(0, ::chmod(path.c_str(), 0604));
  ASSERT_EQ(0, ::link(path.c_str(), other.c_str()));
  EXPECT_TRUE(WriteFileBytes(path, {"two"}));
  EXPECT_EQ("two", Read(other));  // still one file under both names
  EXPECT_EQ(0604u, Mode(path));

  // Renamed into place from here on: a user attribute goes with the file.
  ASSERT_EQ(0, ::unlink(other.c_str()));
  if (::setxattr(path.c_str(), "user.kelvarn", "kept", 4, 0) != 0) {
    ASSERT_EQ(ENOTSUP, errno);
    GTEST_SKIP() << "no user attributes in " << dir_;
  }
  EXPECT_TRUE(WriteFileBytes(path, {"three"}));
  char value[8] = {};
  EXPECT_EQ(4, ::getxattr(path.c_str(), "user.kelvarn", value, sizeof value));
  EXPECT_STREQ("kept", value);
  if (::chown(path.c_str(), 65534, 65534) != 0) GTEST_SKIP() << "only root may give a file away";
  EXPECT_TRUE(WriteFileBytes(path, {"four"}));
  struct stat st {};
  ASSERT_EQ(0, ::stat(path.c_str(), &st));
  EXPECT_EQ(65534u, st.st_uid);
  EXPECT_EQ(65534u, st.st_gid);
  EXPECT_EQ(0604u, st.st_mode & 07777);
}

TEST_F(FilesTest, WritableFilesInReadOnlyDirectoriesAreWrittenInPlace) {
  Write("[a]\r\nk=old\r\n");
  ASSERT_EQ(0, ::chmod(ini_.c_str(), 0666));
  ASSERT_EQ(0, ::chmod(dir_.c_str(), 0555));  // no file can be made beside it
  EXPECT_TRUE(AsOrdinaryUser([&] { return WriteSetting(ini_, "a", "k", "new"); }));
  EXPECT_EQ("[a]\r\nk=new\r\n", Read());
  // No room to grow, in place or beside it: false, and the file as it was.
  const auto tooBig = [&] { return !WriteFileBytes(ini_, {std::string(100, 'x')}); };
  EXPECT_TRUE(AsOrdinaryUser(tooBig, 32));
  ASSERT_EQ(0, ::chmod(dir_.c_str(), 0777));
  EXPECT_TRUE(AsOrdinaryUser(tooBig, 32));
  EXPECT_EQ("[a]\r\nk=new\r\n", Read());

  // A read-only file is refused, even where a new one could replace it.
  ASSERT_EQ(0, ::chmod(ini_.c_str(), 0444));
  EXPECT_TRUE(AsOrdinaryUser([&] { return !WriteSetting(ini_, "a", "k", "x") && !WriteFileBytes(ini_, {"x"}); }));
  EXPECT_EQ("[a]\r\nk=new\r\n", Read());
  EXPECT_EQ(0, std::system(("test $(ls '" + dir_ + "' | wc -l) -eq 1").c_str()));
}

TEST_F(FilesTest, AFileMountedOverAnotherIsWrittenInPlace) {
  const std::string source = dir_ + "/source.ini";
  ASSERT_TRUE(WriteFileBytes(source, {"[a]\r\nk=old\r\n"}));
  Write("");
  const int status = InChild([&] {
    // The mount lives in the child's own namespace and goes with it.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(source.c_str(), ini_.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      return 2;
    }
    return WriteSetting(ini_, "a", "k", "new") ? 0 : 1;
  });
  if (status == 2) GTEST_SKIP() << "no mount namespace of its own to be had";
  EXPECT_EQ(0, status);
  EXPECT_EQ("[a]\r\nk=new\r\n", Read(source));
}

#endif

}  // namespace
}  // namespace kelvarn
