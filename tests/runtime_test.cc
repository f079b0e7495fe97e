#include "frame/runtime.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <sched.h>
#include <unistd.h>
#endif

#include <cmath>
#include <thread>

#include "frame/outside.h"
#include "frame/process.h"
#include "text/files.h"
#include "text/text.h"

namespace kelvarn {
namespace {

using ::testing::ExitedWithCode;
using ::testing::HasSubstr;
using Decls = std::vector<OutsideFunctionDecl>;

#ifdef _WIN32
// What a run-time error writes to a file, the ANSI code page's bytes, as a
// death test reads it back: in text mode, CR LF as LF.
std::string Shown(const char* utf8) {
  std::string shown;
  for (const char c : Utf8ToGbk(utf8)) {
    if (c == '\n' && !shown.empty() && shown.back() == '\r') shown.pop_back();
    shown += c;
  }
  return shown;
}
void Say(std::string_view text) {
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text.data(), text.size(), nullptr, nullptr);
}
// Libraries of the system: one named, one that an empty name finds.
const std::string kMath = "msvcrt.dll";
const char* const kEverywhere = "lstrlenA";
using Length = int(const char*);
const std::string kFixture = "kelvarn_outside_fixture.dll";
bool Loaded(const std::string& path) { return ::GetModuleHandleA(path.c_str()) != nullptr; }
// A Windows process sees the whole code; a POSIX shell, Wine's included, 255.
const int kMinusOne = -1;
#else
// What a run-time error prints on a terminal.
std::string Shown(const char* utf8) { return utf8; }
void Say(std::string_view text) { static_cast<void>(::write(2, text.data(), text.size())); }
const std::string kMath = "libm.so.6";
const char* const kEverywhere = "strlen";
using Length = std::size_t(const char*);
const std::string kFixture = "libkelvarn_outside_fixture.so";
bool Loaded(const std::string& path) { return ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD) != nullptr; }
const int kMinusOne = 255;
#endif

TEST(RuntimeErrorTextTest, ComposedFromHeadingCodeAndMessage) {
  EXPECT_EQ(Utf8ToGbk("运行时出错!\r\n\r\n"), ComposeRuntimeErrorText("", 0));
  EXPECT_EQ(Utf8ToGbk("运行时出错!\r\n\r\n错误代码：6\r\n\r\n错误信息：调用DLL命令后发现堆栈错误\r\n"),
            ComposeRuntimeErrorText(CodedMessage(6), 6));
  EXPECT_EQ(Utf8ToGbk("运行时出错!\r\n\r\n错误代码：-3\r\n\r\n"), ComposeRuntimeErrorText("", -3));
  EXPECT_EQ(Utf8ToGbk("运行时出错!\r\n\r\n错误信息：x\r\n"), ComposeRuntimeErrorText("x", 0));
}

TEST(RuntimeErrorTextTest, CodedMessages) {
  const char* expected[] = {
      "数组成员引用下标超出定义范围",
      "未得到所需要的数值型数据",
      "引用数组成员时维数不为1且不等于该数组目前所具有的维数",
      "数组成员引用下标必须大于等于1",
      "数据或数组类型不匹配",
      "调用DLL命令后发现堆栈错误",
      "子语句参数未返回数据或者返回了非系统基本类型或数组型数据",
      "被比较数据只能使用等于或不等于命令比较",
      "“多项选择”命令的索引值参数小于零或超出了所提供参数表范围",
      "“重定义数组”命令的数组维定义参数值必须大于零或单维时大于等于零",
      "所提供参数的数据类型不符合要求",
  };
  for (int code = 1; code <= 11; ++code) EXPECT_EQ(Utf8ToGbk(expected[code - 1]), CodedMessage(code)) << code;
  EXPECT_EQ("", CodedMessage(0));
  EXPECT_EQ("", CodedMessage(12));
}

using RuntimeErrorDeathTest = ::testing::Test;

TEST_F(RuntimeErrorDeathTest, ReportEndsWithExitCodeMinusOne) {
#ifdef _WIN32
  ASSERT_EQ(936u, ::GetACP()) << "run under a Chinese locale (LC_ALL=zh_CN.UTF-8 for Wine)";
#endif
  EXPECT_EXIT(ReportRuntimeError("", 0), ExitedWithCode(kMinusOne), Shown("运行时出错!\r\n\r\n"));
  EXPECT_EXIT(RaiseRuntimeError(6), ExitedWithCode(kMinusOne),
              HasSubstr(Shown("错误代码：6\r\n\r\n错误信息：调用DLL命令后发现堆栈错误\r\n")));
}

TEST_F(RuntimeErrorDeathTest, ReportFromAWorkerThreadEndsTheProcess) {
  EXPECT_EXIT(
      {
        std::thread([] { RaiseRuntimeError(2); }).join();
        std::_Exit(0);
      },
      ExitedWithCode(kMinusOne), HasSubstr(Shown("未得到所需要的数值型数据")));
}

TEST_F(RuntimeErrorDeathTest, ReplaceableReporterAndEnder) {
  EXPECT_EXIT(
      {
        SetRuntimeErrorReporter([](std::string_view text) { Say("box:"), Say(text.substr(0, 5)); });
        SetProgramEnder([](int code) {
          Say(EndingCount() > 0 ? " ending" : " not ending");
          std::_Exit(code == -1 ? 3 : 4);
        });
        ReportRuntimeError("x", 0);
      },
      ExitedWithCode(3), HasSubstr("box:\xD4\xCB\xD0\xD0\xCA ending"));
}

TEST_F(RuntimeErrorDeathTest, FailedOperatorNewEndsTheProgram) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizer allocators do not call the new handler";
#else
  volatile std::size_t huge = std::size_t{1} << 62;
  EXPECT_EXIT(
      {
        InstallRuntimeSupport();
        static_cast<void>(::operator new(huge));
      },
      ExitedWithCode(kMinusOne), HasSubstr(Shown("错误信息：分配内存失败!")));
#endif
}

// An entry that is never called is never looked up: the missing function of
// entry 2 ends nothing.
TEST(OutsideFunctionTest, BindsOnFirstUseAndKeepsTheAddress) {
  OutsideFunctionTable table(Decls{{kMath, "cos"}, {"", kEverywhere}, {kMath, "no_such_function"}});
  using Unary = double(double);
  EXPECT_DOUBLE_EQ(1.0, table.Function<Unary>(0)(0.0));
  EXPECT_EQ(table.BindOutsideFunction(0), table.BindOutsideFunction(0));
  EXPECT_EQ(3u, table.Function<Length>(1)("abc"));  // empty library: the system libraries
}

TEST(OutsideFunctionTest, ALibraryIsFirstLookedForInTheProgramDirectory) {
  ASSERT_FALSE(Loaded(kFixture));
  {
    OutsideFunctionTable table(Decls{{kFixture, "kelvarn_fixture_answer"}});
    EXPECT_FALSE(Loaded(ProgramDirectory() + kFixture));  // not loaded before the first call
    EXPECT_EQ(42, table.Function<int()>(0)());
  }
  EXPECT_FALSE(Loaded(ProgramDirectory() + kFixture));  // released with the table
#ifdef _WIN32
  OutsideFunctionTable byOrdinal(Decls{{kFixture, "#1"}});  // its only export
  EXPECT_EQ(42, byOrdinal.Function<int()>(0)());
#endif
}

TEST(OutsideFunctionTest, ConcurrentFirstCallsAgree) {
  OutsideFunctionTable table(Decls{{kMath, "tan"}});
  void* seen[8] = {};
  std::vector<std::thread> threads;
  for (auto& slot : seen) threads.emplace_back([&table, &slot] { slot = table.BindOutsideFunction(0); });
  for (auto& t : threads) t.join();
  for (void* address : seen) EXPECT_EQ(seen[0], address);
}

using OutsideFunctionDeathTest = ::testing::Test;

TEST_F(OutsideFunctionDeathTest, MissingFunctionsEndTheProgram) {
  EXPECT_EXIT(
      OutsideFunctionTable(Decls{{kMath, "no_such_function"}}).BindOutsideFunction(0), ExitedWithCode(kMinusOne),
      HasSubstr(Shown(("错误信息：无法找到指定DLL库文件“" + kMath + "”中的输出命令“no_such_function”\r\n").c_str())));
  EXPECT_EXIT(OutsideFunctionTable(Decls{{"", "no_such_function"}}).BindOutsideFunction(0), ExitedWithCode(kMinusOne),
              HasSubstr(Shown("无法找到指定DLL库文件中的输出命令“no_such_function”")));
  EXPECT_EXIT(OutsideFunctionTable(Decls{{"libnot-there.so", "f"}}).BindOutsideFunction(0), ExitedWithCode(kMinusOne),
              HasSubstr(Shown("无法找到指定DLL库文件“libnot-there.so”中的输出命令“f”")));
  EXPECT_EXIT(OutsideFunctionTable(Decls{{kFixture, "#12"}}).BindOutsideFunction(0), ExitedWithCode(kMinusOne),
              HasSubstr(Shown("中的输出命令“#12”")));  // no such ordinal, or no ordinals at all
  EXPECT_EXIT(OutsideFunctionTable(Decls{}).BindOutsideFunction(0), ExitedWithCode(kMinusOne),
              HasSubstr(Shown("错误代码：1")));
}

// Each binding leaves the process on exactly one processor it was allowed,
// and the command line's keeps the one it runs on.
#ifdef _WIN32
DWORD_PTR Allowed() {
  DWORD_PTR process = 0, system = 0;
  return ::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) ? process : 0;
}

void BindAndCheck(void (*bind)(), DWORD_PTR expected) {
  bind();
  const DWORD_PTR now = Allowed();
  if (now == 0 || (now & (now - 1)) != 0) std::_Exit(1);
  if (expected != 0 && now != expected) std::_Exit(2);
  std::_Exit(0);
}

// ntdll's RtlAdjustPrivilege is found by name, and a refusal goes unnoticed.
TEST(DebugPrivilegeTest, RequestingItEndsNothing) {
  EXPECT_EXIT(
      {
        RequestDebugPrivilege();
        std::_Exit(0);
      },
      ExitedWithCode(0), "");
}

TEST(ProcessorBindingTest, OneAllowedProcessor) {
  const DWORD_PTR allowed = Allowed();
  ASSERT_NE(0u, allowed);
  const DWORD_PTR first = allowed & (~allowed + 1);
  EXPECT_EXIT(BindAndCheck(&BindToFirstProcessor, first), ExitedWithCode(0), "");
  EXPECT_EXIT(BindAndCheck(&BindToCurrentProcessor, 0), ExitedWithCode(0), "");
}
#else
void BindAndCheck(void (*bind)(), int expected) {
  bind();
  cpu_set_t now;
  CPU_ZERO(&now);
  if (sched_getaffinity(0, sizeof now, &now) != 0 || CPU_COUNT(&now) != 1) _exit(1);
  if (expected >= 0 && !CPU_ISSET(expected, &now)) _exit(2);
  if (!CPU_ISSET(sched_getcpu(), &now)) _exit(3);
  _exit(0);
}
TEST(ProcessorBindingTest, OneAllowedProcessor) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
  int first = -1, last = -1;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &allowed)) last = cpu, first = first < 0 ? cpu : first;
  }
  EXPECT_EXIT(BindAndCheck(&BindToFirstProcessor, first), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(BindAndCheck(&BindToCurrentProcessor, -1), ::testing::ExitedWithCode(0), "");
  // Started on the last processor only (as `taskset` would), it stays there.
  EXPECT_EXIT(
      {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(last, &one);
        sched_setaffinity(0, sizeof one, &one);
        BindAndCheck(&BindToCurrentProcessor, last);
      },
      ::testing::ExitedWithCode(0), "");
}

#endif

}  // namespace
}  // namespace kelvarn
