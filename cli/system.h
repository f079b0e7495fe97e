// What the command needs of the operating system at its edges: Ctrl-C, the
// terminal, a reader that goes away, the encoding a user types and reads,
// and the window program. cli/posix and cli/win32 implement it.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "text/encoding.h"
#include "text/text.h"

namespace kelvarn::cli {

// Readies the standard streams for bytes: on Windows they are switched to
// binary mode, so that redirected output holds exactly the bytes written
// (no LF made CR LF) and seeds read from a pipe keep theirs.
void UseBinaryStreams();

// How the user stopped the command. The exit status is 128 plus the number
// of the POSIX signal, as a shell reports a process that signal ended.
struct Interruption {
  int exitStatus;    // 130 Ctrl-C (SIGINT), 129 SIGHUP or a closed console, 143 SIGTERM, logging off or shutting down
  const char* what;  // "SIGHUP", "the console was closed", ...
};

// Calls `stop`, on a thread of its own, when the user stops the command, in
// place of ending it: Ctrl-C, and on POSIX SIGHUP (the terminal closed) and
// SIGTERM, unless the command was started ignoring them (nohup); on Windows
// the console's closing, logging off and shutting down, where the process
// ends a few seconds after `stop` is called, or when the command ends it.
// Makes a write to a pipe whose reader has gone fail with EPIPE rather than
// end the process. Call before any other thread starts.
void OnInterrupt(std::function<void(const Interruption&)> stop);

// Whether the stream is a terminal (a console), where a progress line may be
// drawn.
bool IsTerminal(std::FILE* stream);

// Whether the write that has just failed on this thread failed because the
// output is a pipe whose reader has gone (EPIPE; on Windows also the pipe
// errors that the C library reports as EINVAL).
bool ReaderGone();

// Ends the process quietly, as a write to a pipe without a reader ends it
// on POSIX (SIGPIPE, which the shell reports as 141); on Windows, which has
// no such signal, with exit code 141.
[[noreturn]] void EndAsBrokenPipe();

// Keeps few heap arenas where the allocator has them (glibc): the workers'
// allocations are small and short, and every extra arena keeps pages of its
// own. Nothing elsewhere.
void UseFewHeapArenas();

// The encoding of what the user types and reads when --encoding does not
// say: the locale's on POSIX (UTF-8 when it says so, else GBK); the ANSI code
// page on Windows (65001 is UTF-8; 936, and any other, GBK).
Encoding UserEncoding();

// A message's GBK text as the terminal shows it, and an argument as the
// program keeps it (GBK): UTF-8 on POSIX, whatever the locale, as before;
// the ANSI code page on Windows, where arguments arrive in it too.
std::string ForTheUser(std::string_view gbk);
Text FromTheUser(std::string_view argument);

// Starts the window program with the same arguments (argv[0] aside), for
// `kelvarn` without a command: kelvarn-window beside this program on POSIX,
// replacing this process; kelvarn.exe beside it on Windows, left running on
// its own. Returns an exit code only when that fails (after saying why) or
// when this process does not become the window program.
int StartWindowProgram(char** argv);

}  // namespace kelvarn::cli
