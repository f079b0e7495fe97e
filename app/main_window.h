// The main window as the frame sees it: its template (component names and
// kinds), the binding of every event to its handler, the two pop-up menus,
// and the process start-up steps. No Qt here: the Qt window (ui/qt) raises
// these events by name.
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

// Binds the process to the lowest processor it may use, as the classic
// program pinned itself to the first one.
void BindToFirstProcessor();
// Binds the process to the processor it is running on now. The workers,
// monitor and window thread are made to interleave on one processor; a
// wake-up that stays on it is cheaper than one sent to another. The command
// line takes the current processor rather than the first, so that several
// harvests started on one server spread over its processors.
void BindToCurrentProcessor();
// The classic program asked for the debug privilege here; Linux has no such
// thing, and nothing depends on it.
void RequestDebugPrivilege();
// The program's directory with exactly one trailing "/".
std::string ProgramDirWithSlash();

}  // namespace kelvarn
