#include "frame/system.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "frame/runtime.h"
#include "text/text.h"

namespace kelvarn::system {

void EndProcess(int exitCode) {
  std::fflush(nullptr);
  ::_exit(exitCode);
}

void WaitForTheEnd() {
  for (;;) ::pause();
}

void WriteStandardError(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(STDERR_FILENO, bytes.data(), bytes.size());
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void WriteGbkToStandardError(std::string_view gbkText) { WriteStandardError(GbkToUtf8(gbkText)); }

bool ChangeDirectory(const std::string& directory) { return ::chdir(directory.c_str()) == 0; }

void* OpenLibrary(const std::string& path) { return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }

void CloseLibrary(void* library) { ::dlclose(library); }

void* FindExport(void* library, const std::string& name) {
  if (name.empty() || name[0] == '#') return nullptr;
  return ::dlsym(library, name.c_str());
}

bool NamesALocation(std::string_view library) { return library.find('/') != std::string_view::npos; }

const char* const kSystemLibraries[] = {"libc.so.6", "libm.so.6", nullptr};

}  // namespace kelvarn::system
