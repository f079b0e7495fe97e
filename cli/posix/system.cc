#include "cli/system.h"

#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "text/files.h"

namespace kelvarn::cli {

void UseBinaryStreams() {}

void OnInterrupt(std::function<void(const Interruption&)> stop) {
  // Blocked here, before any thread starts, so that every thread inherits the
  // mask and only the watcher's sigwait takes them. A signal the command was
  // started ignoring is left alone: blocked, it would be kept for sigwait.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  bool any = false;
  for (const int signal : {SIGINT, SIGHUP, SIGTERM}) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaddset(&stopSignals, signal);
    any = true;
  }
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  if (!any) return;
  // Detached: it waits for a signal that may never come, to the process end.
  std::thread([stopSignals, stop = std::move(stop)] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    stop({128 + signal, signal == SIGHUP ? "SIGHUP" : signal == SIGTERM ? "SIGTERM" : "SIGINT"});
  }).detach();
}

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)); }

bool ReaderGone() { return errno == EPIPE; }

void EndAsBrokenPipe() {
  std::fflush(stderr);
  ::signal(SIGPIPE, SIG_DFL);
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_UNBLOCK, &pipeSignal, nullptr);
  ::raise(SIGPIPE);
  ::_exit(128 + SIGPIPE);
}

void UseFewHeapArenas() {
#ifdef M_ARENA_MAX
  mallopt(M_ARENA_MAX, 2);
#endif
}

Encoding UserEncoding() {
  return LocaleIsUtf8(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG")) ? Encoding::kUtf8
                                                                                           : Encoding::kGb18030;
}

std::string ForTheUser(std::string_view gbk) { return GbkToUtf8(gbk); }

Text FromTheUser(std::string_view argument) { return Utf8ToGbk(argument); }

// The window lives in a program of its own, so that the command line does not
// load Qt.
int StartWindowProgram(char** argv) {
  const std::string window = ProgramDirectory() + "kelvarn-window";
  argv[0] = const_cast<char*>(window.c_str());
  ::execv(window.c_str(), argv);
  std::fprintf(stderr, "kelvarn: cannot start %s: %s\n", window.c_str(), std::strerror(errno));
  return 1;
}

}  // namespace kelvarn::cli
