// Binding the process to one processor: the workers, the monitor and the
// window thread interleave on it, and a wake-up that stays on one processor
// is cheaper than one sent to another.
#pragma once

namespace kelvarn {

// Binds the process to the lowest processor it may use, as the classic
// program pinned itself to the first one.
void BindToFirstProcessor();
// Binds the process to the processor it is running on now, so that several
// harvests started on one server spread over its processors.
void BindToCurrentProcessor();

}  // namespace kelvarn
