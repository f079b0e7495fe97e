// The pacing settings dialog (Dialogs::PacingDialog) as every window system
// draws it: its texts and its layout, in the input box's font and units, so
// that it looks the same on each.
#pragma once

#include <string_view>

#include "ui/input_box.h"

namespace kelvarn {

// "采集设置", the title; "每分钟请求数(0为不限,auto为自动):", the rate's label;
// "每个短语只采一次", the check box; "确定(&O)" and the input box's "取消(&C)".
inline constexpr std::string_view kPacingCaption = "\xB2\xC9\xBC\xAF\xC9\xE8\xD6\xC3";
inline constexpr std::string_view kPacingRateLabel =
    "\xC3\xBF\xB7\xD6\xD6\xD3\xC7\xEB\xC7\xF3\xCA\xFD(0\xCE\xAA\xB2\xBB\xCF\xDE,auto\xCE\xAA\xD7\xD4\xB6\xAF):";
inline constexpr std::string_view kPacingUnique = "\xC3\xBF\xB8\xF6\xB6\xCC\xD3\xEF\xD6\xBB\xB2\xC9\xD2\xBB\xB4\xCE";
inline constexpr std::string_view kPacingConfirm = "\xC8\xB7\xB6\xA8(&O)";
inline constexpr std::string_view kPacingCancel = kInputCancel;

struct PacingDialogLayout {
  int width, height;
  DialogRect label, rate, unique, confirm, cancel;
};

inline constexpr PacingDialogLayout kPacingLayout{
    200, 80, {7, 7, 186, 10}, {7, 19, 186, 12}, {7, 38, 186, 10}, {76, 55, 55, 19}, {138, 55, 55, 19}};

}  // namespace kelvarn
