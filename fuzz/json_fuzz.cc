// JSON::Parse with the date and byte literals, then reading everything back.
#include <cstdint>
#include <string>

#include "json/json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelvarn::JSON value;
  value.Parse(std::string(reinterpret_cast<const char*>(data), size));
  for (const auto& name : value.MemberNames()) {
    const kelvarn::Value member = value.GetMember(name);
    // A text never holds a zero byte, whatever escapes the string had.
    if (const auto* text = std::get_if<kelvarn::Text>(&member); text && text->find('\0') != kelvarn::Text::npos) {
      __builtin_trap();
    }
    kelvarn::ToText(member);
  }
  for (std::int32_t i = 0; i < value.GetLength() && i < 64; ++i) value.GetItem(i).MemberNames();
  value.Append(value);
  value.SetMember("k", value);
  return 0;
}
