#include "frame/runtime.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <new>

#include "base/runtime_error.h"
#include "frame/system.h"

namespace kelvarn {
namespace {

// "运行时出错!\r\n\r\n", "错误代码：", "错误信息：".
constexpr std::string_view kHeading = "\xD4\xCB\xD0\xD0\xCA\xB1\xB3\xF6\xB4\xED!\r\n\r\n";
constexpr std::string_view kCodeLabel = "\xB4\xED\xCE\xF3\xB4\xFA\xC2\xEB\xA3\xBA";
constexpr std::string_view kMessageLabel = "\xB4\xED\xCE\xF3\xD0\xC5\xCF\xA2\xA3\xBA";
// "分配内存失败!": the standard allocator does not tell the new handler the size.
constexpr std::string_view kAllocFailed = "\xB7\xD6\xC5\xE4\xC4\xDA\xB4\xE6\xCA\xA7\xB0\xDC!";

// NOLINTBEGIN(bugprone-suspicious-missing-comma): literals are split where a hex escape would take in what follows
constexpr std::string_view kCodedMessages[] = {
    // 数组成员引用下标超出定义范围
    "\xCA\xFD\xD7\xE9\xB3\xC9\xD4\xB1\xD2\xFD\xD3\xC3\xCF\xC2\xB1\xEA\xB3\xAC\xB3\xF6\xB6\xA8\xD2\xE5\xB7\xB6\xCE\xA7",
    // 未得到所需要的数值型数据
    "\xCE\xB4\xB5\xC3\xB5\xBD\xCB\xF9\xD0\xE8\xD2\xAA\xB5\xC4\xCA\xFD\xD6\xB5\xD0\xCD\xCA\xFD\xBE\xDD",
    // 引用数组成员时维数不为1且不等于该数组目前所具有的维数
    "\xD2\xFD\xD3\xC3\xCA\xFD\xD7\xE9\xB3\xC9\xD4\xB1\xCA\xB1\xCE\xAC\xCA\xFD\xB2\xBB\xCE\xAA"
    "1\xC7\xD2\xB2\xBB\xB5\xC8\xD3\xDA\xB8\xC3\xCA\xFD\xD7\xE9\xC4\xBF\xC7\xB0\xCB\xF9\xBE\xDF\xD3\xD0\xB5\xC4\xCE\xAC"
    "\xCA\xFD",
    // 数组成员引用下标必须大于等于1
    "\xCA\xFD\xD7\xE9\xB3\xC9\xD4\xB1\xD2\xFD\xD3\xC3\xCF\xC2\xB1\xEA\xB1\xD8\xD0\xEB\xB4\xF3\xD3\xDA\xB5\xC8\xD3\xDA"
    "1",
    // 数据或数组类型不匹配
    "\xCA\xFD\xBE\xDD\xBB\xF2\xCA\xFD\xD7\xE9\xC0\xE0\xD0\xCD\xB2\xBB\xC6\xA5\xC5\xE4",
    // 调用DLL命令后发现堆栈错误
    "\xB5\xF7\xD3\xC3"
    "DLL\xC3\xFC\xC1\xEE\xBA\xF3\xB7\xA2\xCF\xD6\xB6\xD1\xD5\xBB\xB4\xED\xCE\xF3",
    // 子语句参数未返回数据或者返回了非系统基本类型或数组型数据
    "\xD7\xD3\xD3\xEF\xBE\xE4\xB2\xCE\xCA\xFD\xCE\xB4\xB7\xB5\xBB\xD8\xCA\xFD\xBE\xDD\xBB\xF2\xD5\xDF\xB7\xB5\xBB\xD8"
    "\xC1"
    "\xCB\xB7\xC7\xCF\xB5\xCD\xB3\xBB\xF9\xB1\xBE\xC0\xE0\xD0\xCD\xBB\xF2\xCA\xFD\xD7\xE9\xD0\xCD\xCA\xFD\xBE\xDD",
    // 被比较数据只能使用等于或不等于命令比较
    "\xB1\xBB\xB1\xC8\xBD\xCF\xCA\xFD\xBE\xDD\xD6\xBB\xC4\xDC\xCA\xB9\xD3\xC3\xB5\xC8\xD3\xDA\xBB\xF2\xB2\xBB\xB5\xC8"
    "\xD3"
    "\xDA\xC3\xFC\xC1\xEE\xB1\xC8\xBD\xCF",
    // “多项选择”命令的索引值参数小于零或超出了所提供参数表范围
    "\xA1\xB0\xB6\xE0\xCF\xEE\xD1\xA1\xD4\xF1\xA1\xB1\xC3\xFC\xC1\xEE\xB5\xC4\xCB\xF7\xD2\xFD\xD6\xB5\xB2\xCE\xCA\xFD"
    "\xD0"
    "\xA1\xD3\xDA\xC1\xE3\xBB\xF2\xB3\xAC\xB3\xF6\xC1\xCB\xCB\xF9\xCC\xE1\xB9\xA9\xB2\xCE\xCA\xFD\xB1\xED\xB7\xB6\xCE"
    "\xA7",
    // “重定义数组”命令的数组维定义参数值必须大于零或单维时大于等于零
    "\xA1\xB0\xD6\xD8\xB6\xA8\xD2\xE5\xCA\xFD\xD7\xE9\xA1\xB1\xC3\xFC\xC1\xEE\xB5\xC4\xCA\xFD\xD7\xE9\xCE\xAC\xB6\xA8"
    "\xD2"
    "\xE5\xB2\xCE\xCA\xFD\xD6\xB5\xB1\xD8\xD0\xEB\xB4\xF3\xD3\xDA\xC1\xE3\xBB\xF2\xB5\xA5\xCE\xAC\xCA\xB1\xB4\xF3\xD3"
    "\xDA"
    "\xB5\xC8\xD3\xDA\xC1\xE3",
    // 所提供参数的数据类型不符合要求
    "\xCB\xF9\xCC\xE1\xB9\xA9\xB2\xCE\xCA\xFD\xB5\xC4\xCA\xFD\xBE\xDD\xC0\xE0\xD0\xCD\xB2\xBB\xB7\xFB\xBA\xCF\xD2\xAA"
    "\xC7"
    "\xF3",
};
// NOLINTEND(bugprone-suspicious-missing-comma)

std::atomic<int> endingCount{0};
std::atomic<RuntimeErrorReporter> reporter{nullptr};
std::atomic<ProgramEnder> ender{nullptr};
std::atomic<bool> reportStarted{false};
std::atomic<bool> reportShown{false};  // the first report's box is closed: the end is under way
std::atomic<void*> newHandlerReserve{nullptr};

[[noreturn]] void EndWith(int exitCode) {
  if (const ProgramEnder end = ender.load()) {
    end(exitCode);
    system::WaitForTheEnd();  // another thread is ending the program already
  }
  system::EndProcess(exitCode);
}

void OnNewFailure() {
  // Give the reserve back so that composing and showing the report can
  // allocate; a second failure while reporting has nothing left to give.
  void* reserve = newHandlerReserve.exchange(nullptr);
  if (!reserve) {
    system::WriteStandardError("out of memory\n");
    system::EndProcess(-1);
  }
  std::free(reserve);
  ReportRuntimeError(kAllocFailed, 0);
}

}  // namespace

void WriteRuntimeErrorToStandardError(std::string_view gbkText) { system::WriteGbkToStandardError(gbkText); }

void InstallRuntimeSupport() {
  SetRuntimeErrorRoute(&ReportRuntimeError);
  if (std::get_new_handler() == OnNewFailure) return;
  void* expected = nullptr;
  void* reserve = std::malloc(256 * 1024);
  if (!newHandlerReserve.compare_exchange_strong(expected, reserve)) std::free(reserve);
  std::set_new_handler(OnNewFailure);
}

int EndingCount() { return endingCount.load(); }

void BeginEnding() { endingCount.fetch_add(1); }

std::string_view CodedMessage(std::int32_t code) {
  if (code < 1 || code > static_cast<std::int32_t>(std::size(kCodedMessages))) return {};
  return kCodedMessages[code - 1];
}

std::string ComposeRuntimeErrorText(std::string_view message, std::int32_t code) {
  std::string text(kHeading);
  if (code != 0) {
    text += kCodeLabel;
    text += std::to_string(code);
    text += "\r\n\r\n";
  }
  if (!message.empty()) {
    text += kMessageLabel;
    text += message;
    text += "\r\n";
  }
  return text;
}

void SetRuntimeErrorReporter(RuntimeErrorReporter r) { reporter.store(r); }

void SetProgramEnder(ProgramEnder e) { ender.store(e); }

void ReportRuntimeError(std::string_view message, std::int32_t code) {
  BeginEnding();
  // One report per process: a second thread failing while the first report
  // is on screen waits for the end instead of stacking boxes. Once that box
  // is closed the end is under way, and an error raised by the end itself
  // (a module told of it) may be on the thread running it: it ends at once.
  if (reportStarted.exchange(true)) {
    if (reportShown.load()) EndWith(-1);
    system::WaitForTheEnd();
  }
  const std::string text = ComposeRuntimeErrorText(message, code);
  const RuntimeErrorReporter show = reporter.load();
  (show ? show : WriteRuntimeErrorToStandardError)(text);
  reportShown.store(true);
  EndWith(-1);
}

void RaiseRuntimeError(std::int32_t code) { ReportRuntimeError(CodedMessage(code), code); }

}  // namespace kelvarn
