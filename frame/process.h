// The process as the operating system sees it: the processor it runs on and
// the memory it holds.
#pragma once

#include <cstddef>

namespace kelvarn {

// Binding the process to one processor: the workers, the monitor and the
// window thread interleave on it, and a wake-up that stays on one processor
// is cheaper than one sent to another.

// Binds the process to the lowest processor it may use, as the classic
// program pinned itself to the first one.
void BindToFirstProcessor();
// Binds the process to the processor it is running on now, so that several
// harvests started on one server spread over its processors.
void BindToCurrentProcessor();

// Asks for the debug privilege for the whole process: on Windows through
// ntdll's RtlAdjustPrivilege, bound by name; a user not entitled to it is
// refused, which is ignored, as nothing depends on it. POSIX has no such
// privilege: nothing to do.
void RequestDebugPrivilege();

// Hands the heap's free pages back to the system, as the classic program
// trimmed its working set. Pages handed back fault in again when used, so
// callers decide how often.
void TrimWorkingSet();
// The bytes the heap holds free, ready to be handed back.
std::size_t FreeHeapBytes();

}  // namespace kelvarn
