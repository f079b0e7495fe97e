#include "frame/process.h"

#include <malloc.h>
#include <sched.h>

namespace kelvarn {
namespace {

void BindTo(int cpu) {
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(cpu, &one);
  sched_setaffinity(0, sizeof one, &one);
}

}  // namespace

void BindToFirstProcessor() {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &allowed)) return BindTo(cpu);
  }
}

void BindToCurrentProcessor() {
  const int cpu = sched_getcpu();
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (cpu < 0 || cpu >= CPU_SETSIZE || sched_getaffinity(0, sizeof allowed, &allowed) != 0 ||
      !CPU_ISSET(cpu, &allowed)) {
    return BindToFirstProcessor();
  }
  BindTo(cpu);
}

void RequestDebugPrivilege() {}

void TrimWorkingSet() { malloc_trim(0); }

std::size_t FreeHeapBytes() { return mallinfo2().fordblks; }

}  // namespace kelvarn
