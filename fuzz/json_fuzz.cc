// JSON::Parse with the date and byte literals, then reading everything back.
#include <cstdint>
#include <string>

#include "json/json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelvarn::JSON value;
  value.Parse(std::string(reinterpret_cast<const char*>(data), size));
  for (const auto& name : value.MemberNames()) kelvarn::ToText(value.GetMember(name));
  for (std::int32_t i = 0; i < value.GetLength() && i < 64; ++i) value.GetItem(i).MemberNames();
  value.Append(value);
  value.SetMember("k", value);
  return 0;
}
