// The lists' own commands: find, copy and sort (window thread). Each goes
// through one bulk operation of the list, so that a million items cost one
// call through the window thread, not a million.
#include "app/harvester.h"
#include "app/main_window.h"

namespace kelvarn {
namespace {

constexpr std::string_view kFindCaption = "\xB2\xE9\xD5\xD2";                  // 查找
constexpr std::string_view kFindPrompt = "\xB2\xE9\xD5\xD2\xC4\xDA\xC8\xDD:";  // 查找内容:
constexpr std::string_view kNotFound = "\xD5\xD2\xB2\xBB\xB5\xBD\"";           // 找不到"

}  // namespace

bool Harvester::OnListKey(bool phrases, std::int64_t key, std::int64_t modifiers) {
  ListBox& list = phrases ? ui_.列表框_相关关键字 : ui_.列表框_关键字;
  const bool control = (modifiers & kKeyControl) != 0, shift = (modifiers & kKeyShift) != 0;
  if (control && key == kKeyF) {
    FindInList(list, true, false);
  } else if (!control && key == kKeyF3) {
    FindInList(list, findText_.empty(), shift);
  } else if (control && key == kKeyC) {
    list.CopyItems();
  } else {
    return false;
  }
  return true;
}

void Harvester::FindInList(ListBox& list, bool ask, bool backward) {
  if (ask) {
    Value typed = findText_;
    if (!dialogs_.InputBox(kFindPrompt, kFindCaption, findText_, typed)) return;
    findText_ = ToText(typed);
  }
  if (findText_.empty()) return;
  if (list.FindItem(findText_, backward) < 0) {
    dialogs_.ShowMessage(Text(kNotFound) + findText_ + "\"", kMbOk | kMbIconInformation, kFindCaption);
  }
}

void Harvester::CopyAllPhrases() { ui_.列表框_相关关键字.CopyItems(true); }

void Harvester::SortPhrases(ItemOrder order) { ui_.列表框_相关关键字.SortItems(order); }

}  // namespace kelvarn
