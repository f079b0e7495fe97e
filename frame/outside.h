// Outside functions: entry points declared by library file and name, looked
// up on first use and kept until released.
//
// The platform calls the toolchain links are called directly; a call no
// import library offers (ntdll's RtlAdjustPrivilege, for the debug privilege
// at start-up on Windows) is bound by name through a table.
//
// Thread safety: BindOutsideFunction may be called from any thread; two first
// calls of one entry at once both get the same address and load the library
// once.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kelvarn {

struct OutsideFunctionDecl {
  std::string library;  // file name, a path, or empty for the system libraries
  std::string name;     // exported name
};

class OutsideFunctionTable {
 public:
  explicit OutsideFunctionTable(std::vector<OutsideFunctionDecl> declarations);
  ~OutsideFunctionTable();  // releases the libraries
  OutsideFunctionTable(const OutsideFunctionTable&) = delete;
  OutsideFunctionTable& operator=(const OutsideFunctionTable&) = delete;

  // The entry point of entry `index`, binding it on the first call. Never
  // null: a function that cannot be found ends the program with
  // "无法找到指定DLL库文件“<library>”中的输出命令“<name>”" (or, for an empty
  // library, "无法找到指定DLL库文件中的输出命令“<name>”"); an index outside the
  // table raises code 1.
  //
  // Search: an empty library tries the system libraries (on Windows
  // Kernel32, Gdi32, User32, Advapi32, Mpr and Shell32; on POSIX libc, then
  // libm), keeping the first that exports the name; a library name that says
  // where it is (a drive on Windows, a "/" on POSIX) is loaded from there
  // only; any other name is tried in the program's directory first, then
  // through the system's own search. The first library that loads is used
  // whether or not it exports the name. "#12" names ordinal 12 on Windows;
  // elsewhere ordinals mean nothing and are reported as missing.
  void* BindOutsideFunction(std::size_t index);

  template <class F>
  F* Function(std::size_t index) {
    return reinterpret_cast<F*>(BindOutsideFunction(index));
  }

 private:
  struct Entry {
    OutsideFunctionDecl decl;
    std::atomic<void*> address{nullptr};
    void* module = nullptr;  // guarded by bindMutex_
  };

  std::unique_ptr<Entry[]> entries_;
  std::size_t count_;
  std::mutex bindMutex_;  // serialises first bindings
};

}  // namespace kelvarn
