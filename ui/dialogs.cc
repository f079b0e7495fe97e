#include "ui/dialogs.h"

#include <cstdlib>
#include <string>

namespace kelvarn {
namespace {

// Leading white space, an optional sign, then digits; no digits give 0. The
// value wraps like the classic reader's accumulation.
std::int64_t ReadDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  return static_cast<std::int64_t>(negative ? 0 - value : value);
}

}  // namespace

void StoreInput(std::string_view typed, Value& variable) {
  std::visit(
      [&](auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Text> || std::is_same_v<T, std::monostate>) {
          variable = Text(typed);
        } else if constexpr (std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::int16_t> ||
                             std::is_same_v<T, std::int32_t> || std::is_same_v<T, std::int64_t>) {
          v = static_cast<T>(ReadDecimal(typed));
        } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
          v = static_cast<T>(std::strtod(std::string(typed).c_str(), nullptr));
        }
        // Other kinds keep their value.
      },
      variable);
}

}  // namespace kelvarn
