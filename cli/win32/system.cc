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

std::function<void()>* onStop = nullptr;  // set once, before the handler is installed

BOOL WINAPI ConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;  // closing: the default ends the process
  // Called on a thread the system starts; the second Ctrl-C finds the run
  // stopping already.
  (*onStop)();
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
