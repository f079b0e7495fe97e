#include "frame/outside.h"

#include <string_view>

#include "frame/runtime.h"
#include "frame/system.h"
#include "text/files.h"

namespace kelvarn {
namespace {

// "无法找到指定DLL库文件“", "”中的输出命令“", "”", "无法找到指定DLL库文件中的输出命令“".
constexpr std::string_view kMissingIn =
    "\xCE\xDE\xB7\xA8\xD5\xD2\xB5\xBD\xD6\xB8\xB6\xA8"
    "DLL\xBF\xE2\xCE\xC4\xBC\xFE\xA1\xB0";
constexpr std::string_view kMissingMiddle = "\xA1\xB1\xD6\xD0\xB5\xC4\xCA\xE4\xB3\xF6\xC3\xFC\xC1\xEE\xA1\xB0";
constexpr std::string_view kMissingClose = "\xA1\xB1";
constexpr std::string_view kMissingAnywhere =
    "\xCE\xDE\xB7\xA8\xD5\xD2\xB5\xBD\xD6\xB8\xB6\xA8"
    "DLL\xBF\xE2\xCE\xC4\xBC\xFE\xD6\xD0\xB5\xC4\xCA\xE4\xB3\xF6\xC3\xFC"
    "\xC1\xEE\xA1\xB0";

std::string MissingMessage(const OutsideFunctionDecl& decl) {
  if (decl.library.empty()) return std::string(kMissingAnywhere) + decl.name + std::string(kMissingClose);
  return std::string(kMissingIn) + decl.library + std::string(kMissingMiddle) + decl.name + std::string(kMissingClose);
}

// Looks the declaration up; on success sets `module` to the library to keep.
void* Lookup(const OutsideFunctionDecl& decl, void*& module) {
  if (decl.library.empty()) {
    for (const char* const* library = system::kSystemLibraries; *library; ++library) {
      void* handle = system::OpenLibrary(*library);
      if (!handle) continue;
      if (void* address = system::FindExport(handle, decl.name)) {
        module = handle;
        return address;
      }
      system::CloseLibrary(handle);
    }
    return nullptr;
  }
  void* handle = nullptr;
  if (system::NamesALocation(decl.library)) {
    handle = system::OpenLibrary(decl.library);
  } else {
    handle = system::OpenLibrary(ProgramDirectory() + decl.library);
    if (!handle) handle = system::OpenLibrary(decl.library);
  }
  if (!handle) return nullptr;
  void* address = system::FindExport(handle, decl.name);
  if (!address) {
    system::CloseLibrary(handle);
    return nullptr;
  }
  module = handle;
  return address;
}

}  // namespace

OutsideFunctionTable::OutsideFunctionTable(std::vector<OutsideFunctionDecl> declarations)
    : entries_(new Entry[declarations.size()]), count_(declarations.size()) {
  for (std::size_t i = 0; i < count_; ++i) entries_[i].decl = std::move(declarations[i]);
}

OutsideFunctionTable::~OutsideFunctionTable() {
  for (std::size_t i = 0; i < count_; ++i) {
    if (entries_[i].module) system::CloseLibrary(entries_[i].module);
  }
}

void* OutsideFunctionTable::BindOutsideFunction(std::size_t index) {
  if (index >= count_) RaiseRuntimeError(1);
  Entry& entry = entries_[index];
  if (void* address = entry.address.load(std::memory_order_acquire)) return address;
  {
    std::lock_guard lock(bindMutex_);
    if (void* address = entry.address.load(std::memory_order_acquire)) return address;
    void* module = nullptr;
    if (void* address = Lookup(entry.decl, module)) {
      entry.module = module;
      entry.address.store(address, std::memory_order_release);
      return address;
    }
  }
  ReportRuntimeError(MissingMessage(entry.decl), 0);
}

}  // namespace kelvarn
