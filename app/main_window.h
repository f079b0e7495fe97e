// The main window as the frame sees it: its template (component names and
// kinds), the binding of every event to its handler and the two pop-up menus.
// No Qt here: the window program (window/) raises these events by name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/harvester.h"
#include "frame/frame.h"
#include "ui/dialogs.h"

namespace kelvarn {

inline constexpr std::string_view kMainWindow = "主窗口";

// The components by the names the frame knows them under, in the template's
// order: the handlers, both window systems and the tests name them here.
inline constexpr char kSeedGroup[] = "分组框1";
inline constexpr char kSeedList[] = "列表框_关键字";
inline constexpr char kPhraseGroup[] = "分组框2";
inline constexpr char kPhraseList[] = "列表框_相关关键字";
inline constexpr char kSettingsGroup[] = "分组框3";
inline constexpr char kWorkersLabel[] = "标签1";
inline constexpr char kWorkersBox[] = "编辑框_工作线程";
inline constexpr char kDepthLabel[] = "标签2";
inline constexpr char kDepthBox[] = "编辑框_采集级别";
inline constexpr char kStartButton[] = "按钮_开始采集";
inline constexpr char kStatusBar[] = "状态条1";
inline constexpr char kFileDialog[] = "通用对话框1";
// The export's file types, in GBK: the text file first, as import reads it,
// then CSV and the Excel workbook, then any file (written as text).
// "TXT文件|*.txt|CSV文件(逗号分隔)|*.csv|Excel工作簿|*.xlsx|所有文件|*.*"
inline constexpr std::string_view kExportFileFilter =
    "TXT\xCE\xC4\xBC\xFE|*.txt|"
    "CSV\xCE\xC4\xBC\xFE(\xB6\xBA\xBA\xC5\xB7\xD6\xB8\xF4)|*.csv|"
    "Excel\xB9\xA4\xD7\xF7\xB2\xBE|*.xlsx|"
    "\xCB\xF9\xD3\xD0\xCE\xC4\xBC\xFE|*.*";
// The pop-up menus, and their items: the menu's name and the item's caption.
inline constexpr char kKeywordMenu[] = "关键字菜单";
inline constexpr char kAddItem[] = "关键字菜单_添加";
inline constexpr char kImportItem[] = "关键字菜单_导入";
inline constexpr char kClearSeedsItem[] = "关键字菜单_清空";
inline constexpr char kKeywordPacingItem[] = "关键字菜单_采集设置";
inline constexpr char kPhraseMenu[] = "相关关键字菜单";
inline constexpr char kExportItem[] = "相关关键字菜单_导出";
inline constexpr char kClearPhrasesItem[] = "相关关键字菜单_清空";
inline constexpr char kPhrasePacingItem[] = "相关关键字菜单_采集设置";
inline constexpr char kCopyAllItem[] = "相关关键字菜单_复制全部";
inline constexpr char kSortMenuItem[] = "相关关键字菜单_排序";
inline constexpr char kSortAlphabeticalItem[] = "相关关键字菜单_排序_字母";
inline constexpr char kSortByLengthItem[] = "相关关键字菜单_排序_长度";
// The keys the lists take (kEventKeyDown): Ctrl+F finds, F3 and Shift+F3
// find again, Ctrl+C copies.
inline constexpr std::int64_t kKeyC = 'C', kKeyF = 'F', kKeyF3 = 0x72;

WindowTemplate MainWindowTemplate();

// What the handlers reach; the harvester exists once the window does.
struct AppHandles {
  Harvester* harvester = nullptr;
  Dialogs* dialogs = nullptr;
};

std::vector<EventBinding> MainWindowBindings(AppHandles& app);

// "添加", "导入", separator, "清空" and "导出", "复制全部", "排序" (by
// letter, by length), separator, "清空"; each then a separator and
// "采集设置...", the pacing settings. Choosing an item raises its click
// event on the main window.
Menu KeywordMenu();
Menu PhraseMenu();

}  // namespace kelvarn
