// Run-time support: the run-time error report that ends the program, and
// operator new made to end it the same way when memory runs out.
//
// A run-time error is what the program cannot continue from (an allocation,
// binding an outside function, a client used from a foreign thread). It is
// reported once, as one text, and the program ends with exit code -1 without
// running the application's exit clean-up. Thread-safe: any thread may report;
// the first report wins, and later ones wait for the end it brings, or bring
// it themselves once its box is closed (an error inside the end sequence).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvarn {

// Makes this run-time support the program's. Idempotent. A failed operator
// new ends the program the same way ("分配内存失败!": the standard allocator
// does not tell the handler the size), with a small reserve kept so that the
// report itself can allocate; and a run-time error raised below the frame
// (base/runtime_error.h) is reported by ReportRuntimeError.
void InstallRuntimeSupport();

// How many times the end sequence or a run-time error report has begun: the
// one flag that says the program is ending (0 while it runs normally). Once
// it is above 0 no event reaches a handler.
int EndingCount();
void BeginEnding();

// The coded message of codes 1 to 11; empty for any other code.
std::string_view CodedMessage(std::int32_t code);

// "运行时出错!\r\n\r\n", then "错误代码：" code "\r\n\r\n" when code is not 0,
// then "错误信息：" message "\r\n" when the message is not empty (GBK).
std::string ComposeRuntimeErrorText(std::string_view message, std::int32_t code);

// Shows the composed text and returns when the user has read it. The frame
// sets a message-box reporter; the default writes the text to standard error.
using RuntimeErrorReporter = void (*)(std::string_view gbkText);
void SetRuntimeErrorReporter(RuntimeErrorReporter reporter);  // nullptr: the default

// Writes the text to standard error (the default reporter; frames without a
// display fall back to it): converted to UTF-8 on POSIX; on Windows to the
// console's characters, or as the ANSI code page's bytes into a file or pipe.
void WriteRuntimeErrorToStandardError(std::string_view gbkText);

// Ends the program with the exit code. It may return only on a thread other
// than the main thread while the main thread is already ending the program;
// the reporting thread then waits for the end. The frame sets its
// end sequence; the default flushes standard streams and ends the process
// at once (_exit, ExitProcess).
using ProgramEnder = void (*)(int exitCode);
void SetProgramEnder(ProgramEnder ender);  // nullptr: the default

// Begins the end, shows the text through the reporter and ends the program
// with exit code -1.
[[noreturn]] void ReportRuntimeError(std::string_view message, std::int32_t code);

// ReportRuntimeError with the coded message of `code` and the code.
[[noreturn]] void RaiseRuntimeError(std::int32_t code);

}  // namespace kelvarn
