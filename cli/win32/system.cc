#include "cli/system.h"

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "text/files.h"

namespace kelvarn::cli {
namespace {

std::function<void()>* onStop = nullptr;  // set once, before the handler is installed

BOOL WINAPI ConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;  // closing: the default ends the process
  // Called on a thread the system starts; the second Ctrl-C finds the run
  // stopping already.
  (*onStop)();
  return TRUE;
}

}  // namespace

void UseBinaryStreams() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}

// A write to a pipe whose reader has gone fails by itself here (ReaderGone).
void OnInterrupt(std::function<void()> stop) {
  onStop = new std::function<void()>(std::move(stop));  // never freed: the handler may run to the end
  ::SetConsoleCtrlHandler(&ConsoleControl, TRUE);
}

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

bool ReaderGone() {
  if (errno == EPIPE) return true;
  const DWORD error = ::GetLastError();
  return error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
}

void EndAsBrokenPipe() {
  std::fflush(stderr);
  ::ExitProcess(141);
}

void UseFewHeapArenas() {}

Encoding UserEncoding() { return ::GetACP() == CP_UTF8 ? Encoding::kUtf8 : Encoding::kGb18030; }

std::string ForTheUser(std::string_view gbk) {
  return UserEncoding() == Encoding::kUtf8 ? GbkToUtf8(gbk) : std::string(gbk);
}

Text FromTheUser(std::string_view argument) {
  return UserEncoding() == Encoding::kUtf8 ? Utf8ToGbk(argument) : Text(argument);
}

int StartWindowProgram(char** argv) {
  const std::string window = ProgramDirectory() + "kelvarn.exe";
  argv[0] = const_cast<char*>(window.c_str());
  if (_spawnv(_P_NOWAIT, window.c_str(), argv) == -1) {
    std::fprintf(stderr, "kelvarn: cannot start %s: %s\n", window.c_str(), std::strerror(errno));
    return 1;
  }
  return 0;
}

}  // namespace kelvarn::cli
