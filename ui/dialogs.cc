#include "ui/dialogs.h"

#include <cstdlib>
#include <string>

namespace kelvarn {

Text MessageText(const Value& content) {
  return std::visit(
      [&](const auto& v) -> Text {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_arithmetic_v<T> || std::is_same_v<T, Text> || std::is_same_v<T, DateTime>) {
          return ToText(content);
        } else {
          return {};  // byte arrays, no value and arrays
        }
      },
      content);
}

void StoreInput(std::string_view typed, Value& variable) {
  std::visit(
      [&](auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Text> || std::is_same_v<T, std::monostate>) {
          variable = Text(typed);
        } else if constexpr (std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::int16_t> ||
                             std::is_same_v<T, std::int32_t> || std::is_same_v<T, std::int64_t>) {
          v = static_cast<T>(ParseDecimal(typed));
        } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
          v = static_cast<T>(std::strtod(std::string(typed).c_str(), nullptr));
        }
        // Other kinds keep their value.
      },
      variable);
}

}  // namespace kelvarn
