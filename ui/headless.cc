#include "ui/headless.h"

#include <limits>

namespace kelvarn {

bool MemoryListStore::Append(std::string_view text, std::int32_t itemValue) {
  if (bytes_.size() + text.size() > std::numeric_limits<std::uint32_t>::max() ||
      offsets_.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return false;  // the list is full
  }
  bytes_.append(text);
  offsets_.push_back(static_cast<std::uint32_t>(bytes_.size()));
  values_.push_back(itemValue);
  return true;
}

Text MemoryListStore::At(std::int32_t index) const {
  const auto i = static_cast<std::size_t>(index);
  const std::uint32_t begin = i == 0 ? 0 : offsets_[i - 1];
  return bytes_.substr(begin, offsets_[i] - begin);
}

void MemoryListStore::Clear() {
  bytes_ = std::string();
  offsets_ = {};
  values_ = {};
}

}  // namespace kelvarn
