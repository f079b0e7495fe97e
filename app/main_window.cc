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

MenuItem Item(std::string_view caption, const char* component) {
  return {Text(caption), [component] { DeliverEvent(kMainWindow, component, kEventClicked); }, {}};
}

}  // namespace

WindowTemplate MainWindowTemplate() {
  using K = ComponentKind;
  return {std::string(kMainWindow),
          {{kSeedGroup, K::kGroupBox},      {kSeedList, K::kListBox},           {kPhraseGroup, K::kGroupBox},
           {kPhraseList, K::kListBox},      {kSettingsGroup, K::kGroupBox},     {kWorkersLabel, K::kLabel},
           {kWorkersBox, K::kEditBox},      {kDepthLabel, K::kLabel},           {kDepthBox, K::kEditBox},
           {kStartButton, K::kButton},      {kStatusBar, K::kStatusBar},        {kFileDialog, K::kFileDialog},
           {kKeywordMenu, K::kMenu},        {kAddItem, K::kMenuItem},           {kImportItem, K::kMenuItem},
           {kClearSeedsItem, K::kMenuItem}, {kKeywordPacingItem, K::kMenuItem}, {kPhraseMenu, K::kMenu},
           {kExportItem, K::kMenuItem},     {kClearPhrasesItem, K::kMenuItem},  {kPhrasePacingItem, K::kMenuItem}}};
}

std::vector<EventBinding> MainWindowBindings(AppHandles& app) {
  const std::string w(kMainWindow);
  return {
      {w, "", kEventCreated, Call(app, &Harvester::LoadSettings)},
      {w, "", kEventDestroying, Call(app, &Harvester::Close)},
      {w, kSeedList, kEventRightButtonDown, Popup(app, &KeywordMenu)},
      {w, kPhraseList, kEventRightButtonDown, Popup(app, &PhraseMenu)},
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
  // 导出, -, 清空, -, 采集设置...
  return {kPhraseMenu,
          {Item("\xB5\xBC\xB3\xF6", kExportItem),
           {"-", nullptr, {}},
           Item("\xC7\xE5\xBF\xD5", kClearPhrasesItem),
           {"-", nullptr, {}},
           Item(kPacingItemCaption, kPhrasePacingItem)}};
}

}  // namespace kelvarn
