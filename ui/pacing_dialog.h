// The harvest settings dialog (Dialogs::PacingDialog) as every window system
// draws it: its texts and its layout, in the input box's font and units, so
// that it looks the same on each.
#pragma once

#include <string_view>

#include "ui/input_box.h"

namespace kelvarn {

// "采集设置", the title; "每分钟请求数(0为不限,auto为自动):", the rate's label;
// "每个短语只采一次", the check box; "代理列表文件(每行一个代理):", the
// proxies file's label, and "..." its browse button; "不直连(只用代理)", the
// second check box; "确定(&O)" and the input box's "取消(&C)".
inline constexpr std::string_view kPacingCaption = "\xB2\xC9\xBC\xAF\xC9\xE8\xD6\xC3";
inline constexpr std::string_view kPacingRateLabel =
    "\xC3\xBF\xB7\xD6\xD6\xD3\xC7\xEB\xC7\xF3\xCA\xFD(0\xCE\xAA\xB2\xBB\xCF\xDE,auto\xCE\xAA\xD7\xD4\xB6\xAF):";
inline constexpr std::string_view kPacingUnique = "\xC3\xBF\xB8\xF6\xB6\xCC\xD3\xEF\xD6\xBB\xB2\xC9\xD2\xBB\xB4\xCE";
inline constexpr std::string_view kPacingProxiesLabel =
    "\xB4\xFA\xC0\xED\xC1\xD0\xB1\xED\xCE\xC4\xBC\xFE(\xC3\xBF\xD0\xD0\xD2\xBB\xB8\xF6\xB4\xFA\xC0\xED):";
inline constexpr std::string_view kPacingBrowse = "...";
inline constexpr std::string_view kPacingNoDirect = "\xB2\xBB\xD6\xB1\xC1\xAC(\xD6\xBB\xD3\xC3\xB4\xFA\xC0\xED)";
// The filters: "包含词(用逗号分隔):", "排除词(用逗号分隔):", "排除词文件(每行一个词):"
// (with its own "..."), "必须包含:" with its choices "不限", "种子" and
// "种子中的词" (kPacingMustContainValues, in order), "最短字数(0为不限):" and
// "最长字数:".
inline constexpr std::string_view kPacingIncludeLabel =
    "\xB0\xFC\xBA\xAC\xB4\xCA(\xD3\xC3\xB6\xBA\xBA\xC5\xB7\xD6\xB8\xF4):";
inline constexpr std::string_view kPacingExcludeLabel =
    "\xC5\xC5\xB3\xFD\xB4\xCA(\xD3\xC3\xB6\xBA\xBA\xC5\xB7\xD6\xB8\xF4):";
inline constexpr std::string_view kPacingStopWordsLabel =
    "\xC5\xC5\xB3\xFD\xB4\xCA\xCE\xC4\xBC\xFE(\xC3\xBF\xD0\xD0\xD2\xBB\xB8\xF6\xB4\xCA):";
inline constexpr std::string_view kPacingMustContainLabel = "\xB1\xD8\xD0\xEB\xB0\xFC\xBA\xAC:";
inline constexpr std::string_view kPacingMustContainChoices[] = {"\xB2\xBB\xCF\xDE", "\xD6\xD6\xD7\xD3",
                                                                 "\xD6\xD6\xD7\xD3\xD6\xD0\xB5\xC4\xB4\xCA"};
inline constexpr std::string_view kPacingMustContainValues[] = {"", "seed", "root-words"};
inline constexpr std::string_view kPacingMinCharsLabel = "\xD7\xEE\xB6\xCC\xD7\xD6\xCA\xFD(0\xCE\xAA\xB2\xBB\xCF\xDE):";
inline constexpr std::string_view kPacingMaxCharsLabel = "\xD7\xEE\xB3\xA4\xD7\xD6\xCA\xFD:";

// Which choice of 必须包含 a value is (an unknown one is the first, none).
inline int MustContainChoice(std::string_view value) {
  for (int i = 0; i < 3; ++i) {
    if (kPacingMustContainValues[i] == value) return i;
  }
  return 0;
}

inline constexpr std::string_view kPacingConfirm = "\xC8\xB7\xB6\xA8(&O)";
inline constexpr std::string_view kPacingCancel = kInputCancel;

struct PacingDialogLayout {
  int width, height;
  DialogRect label, rate, unique;
  DialogRect proxiesLabel, proxiesFile, browse, noDirect;
  DialogRect includeLabel, include, excludeLabel, exclude, stopWordsLabel, stopWordsFile, stopWordsBrowse;
  DialogRect mustContainLabel, mustContain, minCharsLabel, minChars, maxCharsLabel, maxChars;
  DialogRect confirm, cancel;
};

inline constexpr PacingDialogLayout kPacingLayout{.width = 200,
                                                  .height = 245,
                                                  .label = {7, 7, 186, 10},
                                                  .rate = {7, 19, 186, 12},
                                                  .unique = {7, 36, 186, 10},
                                                  .proxiesLabel = {7, 52, 186, 10},
                                                  .proxiesFile = {7, 64, 164, 12},
                                                  .browse = {174, 64, 19, 12},
                                                  .noDirect = {7, 81, 186, 10},
                                                  .includeLabel = {7, 97, 186, 10},
                                                  .include = {7, 109, 186, 12},
                                                  .excludeLabel = {7, 126, 186, 10},
                                                  .exclude = {7, 138, 186, 12},
                                                  .stopWordsLabel = {7, 155, 186, 10},
                                                  .stopWordsFile = {7, 167, 164, 12},
                                                  .stopWordsBrowse = {174, 167, 19, 12},
                                                  .mustContainLabel = {7, 186, 50, 10},
                                                  .mustContain = {60, 184, 133, 12},
                                                  .minCharsLabel = {7, 203, 80, 10},
                                                  .minChars = {88, 201, 24, 12},
                                                  .maxCharsLabel = {122, 203, 44, 10},
                                                  .maxChars = {169, 201, 24, 12},
                                                  .confirm = {76, 220, 55, 19},
                                                  .cancel = {138, 220, 55, 19}};

}  // namespace kelvarn
