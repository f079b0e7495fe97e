#include "cli/system.h"

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "text/files.h"

namespace kelvarn::cli {
namespace {

std::function<void(const Interruption&)>* onStop = nullptr;  // set once, before the handler is installed

// Called on a thread the system starts; a second event finds the run
// stopping already. The process gets logging off and shutting down only
// while it has not loaded user32.
BOOL WINAPI ConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      (*onStop)({130, "Ctrl-C"});
      return TRUE;
    case CTRL_CLOSE_EVENT:
      (*onStop)({129, "the console was closed"});
      break;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      (*onStop)({143, event == CTRL_LOGOFF_EVENT ? "logging off" : "shutting down"});
      break;
    default:
      return FALSE;
  }
  // The system ends the process as soon as this returns (and a few seconds
  // after the event at the latest): held here, the command ends it itself,
  // once what was written is flushed.
  ::Sleep(INFINITE);
  return TRUE;
}

// One argument as the C library of the started program splits its command
// line: quoted when it holds a space, a tab or a quote (or is empty), quotes
// escaped, and the backslashes before a quote or the closing quote doubled.
// _spawnv joins the arguments with spaces and quotes nothing itself.
std::string Quoted(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string_view::npos) return std::string(argument);
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    quoted += c;
    backslashes = 0;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

}  // namespace

void UseBinaryStreams() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}

// A write to a pipe whose reader has gone fails by itself here (ReaderGone).
void OnInterrupt(std::function<void(const Interruption&)> stop) {
  onStop =
      new std::function<void(const Interruption&)>(std::move(stop));  // never freed: the handler may run to the end
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
  std::vector<std::string> quoted{Quoted(window)};
  for (char** arg = argv + 1; *arg; ++arg) quoted.push_back(Quoted(*arg));
  std::vector<const char*> arguments;
  for (const std::string& a : quoted) arguments.push_back(a.c_str());
  arguments.push_back(nullptr);
  if (_spawnv(_P_NOWAIT, window.c_str(), arguments.data()) == -1) {
    std::fprintf(stderr, "kelvarn: cannot start %s: %s\n", window.c_str(), std::strerror(errno));
    return 1;
  }
  return 0;
}

}  // namespace kelvarn::cli
