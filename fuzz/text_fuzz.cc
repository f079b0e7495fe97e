// TextFind and TextSplit against the character-stepping reference.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tests/reference.h"
#include "text/text.h"
#include "text/value.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  // Layout: flags, a split point, then the text and the sought text.
  const std::uint8_t flags = data[0];
  const std::size_t cut = data[1] % (size - 2 + 1);
  const std::string bytes(reinterpret_cast<const char*>(data + 2), size - 2);
  const std::string sought = bytes.substr(0, std::min<std::size_t>(cut, 8)), text = bytes.substr(cut);
  const std::optional<std::int32_t> start =
      flags & 1 ? std::optional<std::int32_t>(static_cast<std::int8_t>(flags)) : std::nullopt;
  const bool fold = flags & 2;
  if (kelvarn::TextFind(text, sought, start, fold) != kelvarn::reference::TextFind(text, sought, start, fold)) abort();
  const std::optional<std::int32_t> max = flags & 4 ? std::optional<std::int32_t>(flags >> 4) : std::nullopt;
  if (kelvarn::TextSplit(text, sought, max) != kelvarn::reference::TextSplit(text, sought, max)) abort();
  kelvarn::TrimLeadingSpaces(text);
  kelvarn::ToInteger(kelvarn::Value(text));
  return 0;
}
