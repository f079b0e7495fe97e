// The input box (Dialogs::InputBox) as every window system draws it: its
// texts, its font, its two layouts and the characters each mode lets the user
// type. The backends build it from these alone, so that it looks and behaves
// the same on each.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kelvarn {

// "请输入：", the caption when none is given; "确认输入(&O)" and "取消(&C)",
// the buttons.
inline constexpr std::string_view kInputCaption = "\xC7\xEB\xCA\xE4\xC8\xEB\xA3\xBA";
inline constexpr std::string_view kInputConfirm = "\xC8\xB7\xC8\xCF\xCA\xE4\xC8\xEB(&O)";
inline constexpr std::string_view kInputCancel = "\xC8\xA1\xCF\xFB(&C)";
// "宋体", 9 points.
inline constexpr std::string_view kInputFont = "\xCB\xCE\xCC\xE5";
inline constexpr int kInputFontPoints = 9;

// A place in dialog units: a quarter of the font's average character width
// across, an eighth of its height down.
struct DialogRect {
  int x, y, width, height;
};

struct InputBoxLayout {
  int width, height;
  DialogRect frame, prompt;  // a sunken frame and the prompt inside it; unused without a prompt
  DialogRect entry, confirm, cancel;
};

inline constexpr InputBoxLayout kInputWithPrompt{
    252, 92, {7, 7, 238, 35}, {12, 11, 229, 27}, {7, 45, 238, 12}, {63, 66, 55, 19}, {134, 66, 55, 19}};
inline constexpr InputBoxLayout kInputWithoutPrompt{
    214, 56, {}, {}, {7, 7, 200, 12}, {82, 30, 55, 19}, {151, 30, 55, 19}};

// The mode InputBox works in: 1 when none is given, others clamped to 1..4.
inline std::int32_t InputMode(std::optional<std::int32_t> mode) { return std::clamp(mode.value_or(1), 1, 4); }

// Whether a typed character enters the entry: mode 2 takes digits and "-",
// mode 3 also "."; control characters (Backspace, Enter) always pass.
inline constexpr bool InputModeTakes(std::int32_t mode, std::uint32_t typed) {
  if ((mode != 2 && mode != 3) || typed < 0x20) return true;
  return (typed >= '0' && typed <= '9') || typed == '-' || (mode == 3 && typed == '.');
}

}  // namespace kelvarn
