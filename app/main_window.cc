#include "app/main_window.h"


namespace kelvarn {
namespace {

// Menu item components: the menu's name and the item's caption.
constexpr const char* kAdd = "关键字菜单_添加";
constexpr const char* kImport = "关键字菜单_导入";
constexpr const char* kClearSeeds = "关键字菜单_清空";
constexpr const char* kExport = "相关关键字菜单_导出";
constexpr const char* kClearPhrases = "相关关键字菜单_清空";

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
          {{"分组框1", K::kGroupBox},
           {"列表框_关键字", K::kListBox},
           {"分组框2", K::kGroupBox},
           {"列表框_相关关键字", K::kListBox},
           {"分组框3", K::kGroupBox},
           {"标签1", K::kLabel},
           {"编辑框_工作线程", K::kEditBox},
           {"标签2", K::kLabel},
           {"编辑框_采集级别", K::kEditBox},
           {"按钮_开始采集", K::kButton},
           {"状态条1", K::kStatusBar},
           {"通用对话框1", K::kFileDialog},
           {"关键字菜单", K::kMenu},
           {kAdd, K::kMenuItem},
           {kImport, K::kMenuItem},
           {kClearSeeds, K::kMenuItem},
           {"相关关键字菜单", K::kMenu},
           {kExport, K::kMenuItem},
           {kClearPhrases, K::kMenuItem}}};
}

std::vector<EventBinding> MainWindowBindings(AppHandles& app) {
  const std::string w(kMainWindow);
  return {
      {w, "", kEventCreated, Call(app, &Harvester::LoadSettings)},
      {w, "", kEventDestroying, Call(app, &Harvester::Close)},
      {w, "列表框_关键字", kEventRightButtonDown, Popup(app, &KeywordMenu)},
      {w, "列表框_相关关键字", kEventRightButtonDown, Popup(app, &PhraseMenu)},
      {w, kAdd, kEventClicked, Call(app, &Harvester::AddKeyword)},
      {w, kImport, kEventClicked, Call(app, &Harvester::ImportKeywords)},
      {w, kClearSeeds, kEventClicked, Call(app, &Harvester::ClearKeywords)},
      {w, kExport, kEventClicked, Call(app, &Harvester::ExportPhrases)},
      {w, kClearPhrases, kEventClicked, Call(app, &Harvester::ClearPhrases)},
      {w, "按钮_开始采集", kEventClicked, Call(app, &Harvester::OnStartButton)},
      {w, "编辑框_采集级别", kEventContentChanged, Call(app, &Harvester::SaveDepth)},
      {w, "编辑框_工作线程", kEventContentChanged, Call(app, &Harvester::SaveWorkerCount)},
  };
}

Menu KeywordMenu() {
  // 添加, 导入, -, 清空
  return {"关键字菜单",
          {Item("\xCC\xED\xBC\xD3", kAdd),
           Item("\xB5\xBC\xC8\xEB", kImport),
           {"-", nullptr, {}},
           Item("\xC7\xE5\xBF\xD5", kClearSeeds)}};
}

Menu PhraseMenu() {
  // 导出, -, 清空
  return {"相关关键字菜单",
          {Item("\xB5\xBC\xB3\xF6", kExport), {"-", nullptr, {}}, Item("\xC7\xE5\xBF\xD5", kClearPhrases)}};
}

}  // namespace kelvarn
