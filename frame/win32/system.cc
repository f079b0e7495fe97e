#include "frame/system.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "frame/runtime.h"

namespace kelvarn::system {
namespace {

// GBK. (GB18030, 54936, would take its four-byte forms too, but Wine has no
// such code page, and the program's own texts are GBK.)
constexpr UINT kGbk = 936;

// A GBK text in UTF-16; empty when the conversion fails.
std::wstring Wide(std::string_view gbk) {
  const int n = MultiByteToWideChar(kGbk, 0, gbk.data(), static_cast<int>(gbk.size()), nullptr, 0);
  std::wstring wide(n > 0 ? n : 0, L'\0');
  if (n > 0) MultiByteToWideChar(kGbk, 0, gbk.data(), static_cast<int>(gbk.size()), wide.data(), n);
  return wide;
}

}  // namespace

void EndProcess(int exitCode) {
  std::fflush(nullptr);
  // Other threads are stopped before anything is torn down.
  ::ExitProcess(static_cast<UINT>(exitCode));
}

void WaitForTheEnd() {
  for (;;) ::Sleep(INFINITE);
}

// Straight to the handle: the C library's text mode would turn the report's
// CR LF into CR CR LF.
void WriteStandardError(std::string_view bytes) {
  const HANDLE out = ::GetStdHandle(STD_ERROR_HANDLE);
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!::WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written == 0) return;
    bytes.remove_prefix(written);
  }
}

void WriteGbkToStandardError(std::string_view gbkText) {
  const HANDLE out = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (::GetConsoleMode(out, &mode)) {
    const std::wstring wide = Wide(gbkText);
    DWORD written = 0;
    ::WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  const UINT ansi = ::GetACP();
  if (ansi == kGbk || ansi == 54936) return WriteStandardError(gbkText);
  const std::wstring wide = Wide(gbkText);
  const int n =
      WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(n > 0 ? n : 0, '\0');
  if (n > 0)
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), n, nullptr, nullptr);
  WriteStandardError(bytes);
}

bool ChangeDirectory(const std::string& directory) { return ::SetCurrentDirectoryA(directory.c_str()) != 0; }

void* OpenLibrary(const std::string& path) { return reinterpret_cast<void*>(::LoadLibraryA(path.c_str())); }

void CloseLibrary(void* library) { ::FreeLibrary(static_cast<HMODULE>(library)); }

void* FindExport(void* library, const std::string& name) {
  if (name.empty()) return nullptr;
  const auto module = static_cast<HMODULE>(library);
  FARPROC address = nullptr;
  if (name[0] == '#') {
    const unsigned long ordinal = std::strtoul(name.c_str() + 1, nullptr, 10) & 0xFFFF;
    address = ::GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
  } else {
    address = ::GetProcAddress(module, name.c_str());
  }
  return reinterpret_cast<void*>(address);
}

bool NamesALocation(std::string_view library) { return library.find(':') != std::string_view::npos; }

const char* const kSystemLibraries[] = {"Kernel32.dll", "Gdi32.dll",   "User32.dll", "Advapi32.dll",
                                        "Mpr.dll",      "Shell32.dll", nullptr};

}  // namespace kelvarn::system
