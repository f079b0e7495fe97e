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

WindowTemplate MainWindowTemplate();

// What the handlers reach; the harvester exists once the window does.
struct AppHandles {
  Harvester* harvester = nullptr;
  Dialogs* dialogs = nullptr;
};

std::vector<EventBinding> MainWindowBindings(AppHandles& app);

// "添加", "导入", separator, "清空" and "导出", separator, "清空"; choosing an
// item raises its click event on the main window.
Menu KeywordMenu();
Menu PhraseMenu();

}  // namespace kelvarn
