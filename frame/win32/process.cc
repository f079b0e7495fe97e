#include "frame/process.h"

#include <malloc.h>
#include <windows.h>

#include <vector>

#include "frame/outside.h"

namespace kelvarn {
namespace {

void BindTo(DWORD_PTR processors) { ::SetProcessAffinityMask(::GetCurrentProcess(), processors); }

DWORD_PTR Allowed() {
  DWORD_PTR process = 0, system = 0;
  return ::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) ? process : 0;
}

}  // namespace

void BindToFirstProcessor() {
  const DWORD_PTR allowed = Allowed();
  if (allowed != 0) BindTo(allowed & (~allowed + 1));  // the lowest bit set
}

void BindToCurrentProcessor() {
  const DWORD cpu = ::GetCurrentProcessorNumber();
  const DWORD_PTR one = cpu < sizeof(DWORD_PTR) * 8 ? DWORD_PTR{1} << cpu : 0;
  if ((Allowed() & one) == 0) return BindToFirstProcessor();
  BindTo(one);
}

void RequestDebugPrivilege() {
  using AdjustPrivilege = LONG NTAPI(ULONG privilege, BOOLEAN enable, BOOLEAN currentThread, PBOOLEAN wasEnabled);
  static OutsideFunctionTable ntdll(std::vector<OutsideFunctionDecl>{{"ntdll.dll", "RtlAdjustPrivilege"}});
  constexpr ULONG kDebugPrivilege = 20;  // SE_DEBUG_PRIVILEGE
  BOOLEAN wasEnabled = FALSE;
  ntdll.Function<AdjustPrivilege>(0)(kDebugPrivilege, TRUE, FALSE, &wasEnabled);
}

void TrimWorkingSet() {
  ::SetProcessWorkingSetSize(::GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
}

// The free blocks of the C library's heap.
std::size_t FreeHeapBytes() {
  const HANDLE heap = reinterpret_cast<HANDLE>(_get_heap_handle());
  std::size_t free = 0;
  if (!::HeapLock(heap)) return 0;
  PROCESS_HEAP_ENTRY entry{};
  while (::HeapWalk(heap, &entry)) {
    if ((entry.wFlags & (PROCESS_HEAP_REGION | PROCESS_HEAP_UNCOMMITTED_RANGE | PROCESS_HEAP_ENTRY_BUSY)) == 0) {
      free += entry.cbData;
    }
  }
  ::HeapUnlock(heap);
  return free;
}

}  // namespace kelvarn
