#include "app/main_window.h"

namespace kelvarn {
namespace {

constexpr std::string_view kPacingItemCaption = "\xB2\xC9\xBC\xAF\xC9\xE8\xD6\xC3...";  // 采集设置...

EventHandler Call(AppHandles& app, void (Harvester::*handler)()) {
  return [&app, handler](const EventArgs&) -> std::optional<std::int64_t> {
    if (app.harvester) (app.harvester->*handler)();
    return std::nullopt;
  };
}

EventHandler Popup(AppHandles& app, Menu (*menu)()) {
  return [&app, menu](const EventArgs&) -> std::optional<std::int64_t> {
    if (app.dialogs) app.dialogs->PopupMenu(menu());
    return std::nullopt;
  };
}

// A key pressed in a list: taken (1) when the list has a command for it.
EventHandler ListKey(AppHandles& app, bool phrases) {
  return [&app, phrases](const EventArgs& args) -> std::optional<std::int64_t> {
    if (!app.harvester || args.size() < 2) return std::nullopt;
    if (!app.harvester->OnListKey(phrases, args[0], args[1])) return std::nullopt;
    return 1;
  };
}

EventHandler Sort(AppHandles& app, ItemOrder order) {
  return [&app, order](const EventArgs&) -> std::optional<std::int64_t> {
    if (app.harvester) app.harvester->SortPhrases(order);
    return std::nullopt;
  };
}

MenuItem Item(std::string_view caption, const char* component) {
  return {Text(caption), [component] { DeliverEvent(kMainWindow, component, kEventClicked); }, {}};
}

}  // namespace

WindowTemplate MainWindowTemplate() {
  using K = ComponentKind;
  WindowTemplate window{
      std::string(kMainWindow),
      {{kSeedGroup, K::kGroupBox},      {kSeedList, K::kListBox},           {kPhraseGroup, K::kGroupBox},
       {kPhraseList, K::kListBox},      {kSettingsGroup, K::kGroupBox},     {kWorkersLabel, K::kLabel},
       {kWorkersBox, K::kEditBox},      {kDepthLabel, K::kLabel},           {kDepthBox, K::kEditBox},
       {kStartButton, K::kButton},      {kStatusBar, K::kStatusBar},        {kFileDialog, K::kFileDialog},
       {kKeywordMenu, K::kMenu},        {kAddItem, K::kMenuItem},           {kImportItem, K::kMenuItem},
       {kClearSeedsItem, K::kMenuItem}, {kKeywordPacingItem, K::kMenuItem}, {kPhraseMenu, K::kMenu},
       {kExportItem, K::kMenuItem},     {kClearPhrasesItem, K::kMenuItem},  {kPhrasePacingItem, K::kMenuItem}}};
  // The phrase list's own commands, after the rest.
  window.components.insert(window.components.end(), {{kCopyAllItem, K::kMenuItem},
                                                     {kSortMenuItem, K::kMenuItem},
                                                     {kSortAlphabeticalItem, K::kMenuItem},
                                                     {kSortByLengthItem, K::kMenuItem}});
  return window;
}

std::vector<EventBinding> MainWindowBindings(AppHandles& app) {
  const std::string w(kMainWindow);
  return {
      {w, "", kEventCreated, Call(app, &Harvester::LoadSettings)},
      {w, "", kEventDestroying, Call(app, &Harvester::Close)},
      {w, kSeedList, kEventRightButtonDown, Popup(app, &KeywordMenu)},
      {w, kPhraseList, kEventRightButtonDown, Popup(app, &PhraseMenu)},
      {w, kSeedList, kEventKeyDown, ListKey(app, false)},
      {w, kPhraseList, kEventKeyDown, ListKey(app, true)},
      {w, kCopyAllItem, kEventClicked, Call(app, &Harvester::CopyAllPhrases)},
      {w, kSortAlphabeticalItem, kEventClicked, Sort(app, ItemOrder::kAlphabetical)},
      {w, kSortByLengthItem, kEventClicked, Sort(app, ItemOrder::kByLength)},
      {w, kAddItem, kEventClicked, Call(app, &Harvester::AddKeyword)},
      {w, kImportItem, kEventClicked, Call(app, &Harvester::ImportKeywords)},
      {w, kClearSeedsItem, kEventClicked, Call(app, &Harvester::ClearKeywords)},
      {w, kExportItem, kEventClicked, Call(app, &Harvester::ExportPhrases)},
      {w, kClearPhrasesItem, kEventClicked, Call(app, &Harvester::ClearPhrases)},
      {w, kKeywordPacingItem, kEventClicked, Call(app, &Harvester::EditPacing)},
      {w, kPhrasePacingItem, kEventClicked, Call(app, &Harvester::EditPacing)},
      {w, kStartButton, kEventClicked, Call(app, &Harvester::OnStartButton)},
      {w, kDepthBox, kEventContentChanged, Call(app, &Harvester::SaveDepth)},
      {w, kWorkersBox, kEventContentChanged, Call(app, &Harvester::SaveWorkerCount)},
  };
}

Menu KeywordMenu() {
  // 添加, 导入, -, 清空, -, 采集设置...
  return {kKeywordMenu,
          {Item("\xCC\xED\xBC\xD3", kAddItem),
           Item("\xB5\xBC\xC8\xEB", kImportItem),
           {"-", nullptr, {}},
           Item("\xC7\xE5\xBF\xD5", kClearSeedsItem),
           {"-", nullptr, {}},
           Item(kPacingItemCaption, kKeywordPacingItem)}};
}

Menu PhraseMenu() {
  // 导出, 复制全部, 排序 (按字母(A-Z), 按长度), -, 清空, -, 采集设置...
  return {kPhraseMenu,
          {Item("\xB5\xBC\xB3\xF6", kExportItem),
           Item("\xB8\xB4\xD6\xC6\xC8\xAB\xB2\xBF", kCopyAllItem),
           {"\xC5\xC5\xD0\xF2",
            nullptr,
            {Item("\xB0\xB4\xD7\xD6\xC4\xB8(A-Z)", kSortAlphabeticalItem),
             Item("\xB0\xB4\xB3\xA4\xB6\xC8", kSortByLengthItem)}},
           {"-", nullptr, {}},
           Item("\xC7\xE5\xBF\xD5", kClearPhrasesItem),
           {"-", nullptr, {}},
           Item(kPacingItemCaption, kPhrasePacingItem)}};
}

}  // namespace kelvarn
