#include "ui/headless.h"

namespace kelvarn {

void MemoryListStore::Clear() {
  items_.Clear();
  Highlight({});
}

}  // namespace kelvarn
