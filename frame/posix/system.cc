#include "frame/system.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#if __has_include(<link.h>)
#include <link.h>
#endif

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

void RegisterExecutableConstants() {
#if __has_include(<link.h>)
  // The first object listed is the executable; its segments that are never
  // writable hold the literal data.
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void*) {
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const auto& segment = info->dlpi_phdr[i];
          if (segment.p_type != PT_LOAD || (segment.p_flags & PF_W)) continue;
          // NOLINTNEXTLINE(performance-no-int-to-ptr): the loader gives segment addresses as integers
          const auto* start = reinterpret_cast<const char*>(info->dlpi_addr + segment.p_vaddr);
          RegisterConstantRange(start, start + segment.p_memsz);
        }
        return 1;
      },
      nullptr);
#endif
}

void* OpenLibrary(const std::string& path) { return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }

void CloseLibrary(void* library) { ::dlclose(library); }

void* FindExport(void* library, const std::string& name) {
  if (name.empty() || name[0] == '#') return nullptr;
  return ::dlsym(library, name.c_str());
}

bool NamesALocation(std::string_view library) { return library.find('/') != std::string_view::npos; }

const char* const kSystemLibraries[] = {"libc.so.6", "libm.so.6", nullptr};

}  // namespace kelvarn::system
