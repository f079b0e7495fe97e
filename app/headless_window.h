// The main window's components in memory: the harvest without a display, for
// the command line and tests. Handlers are called inside ui.Invoke, which
// makes the calling thread the window thread for their duration.
#pragma once

#include "app/harvester.h"
#include "ui/headless.h"

namespace kelvarn {

struct HeadlessWindow {
  HeadlessUiThread ui;
  MemoryListStore seeds, phrases;
  MemoryTextStore workers, depth;
  MemoryTextStore caption{"\xBF\xAA\xCA\xBC\xB2\xC9\xBC\xAF"};  // 开始采集
  MemoryPanelStore status{1};
  FileChooser chooser;  // answers the file dialog; none: cancelled
  ScriptedDialogs dialogs;

  GuardedListBox 列表框_关键字{ui, seeds, true};
  GuardedListBox 列表框_相关关键字{ui, phrases, true};
  GuardedEditBox 编辑框_工作线程{ui, workers};
  GuardedEditBox 编辑框_采集级别{ui, depth};
  GuardedButton 按钮_开始采集{ui, caption};
  GuardedStatusBar 状态条1{ui, status};
  GuardedFileDialog 通用对话框1{ui, [this](std::int32_t type, const Text& name) {
                                 return chooser ? chooser(type, name) : std::optional<Text>();
                               }};

  MainComponents Components() {
    return {列表框_关键字, 列表框_相关关键字, 编辑框_工作线程, 编辑框_采集级别, 按钮_开始采集, 状态条1, 通用对话框1};
  }
};

}  // namespace kelvarn
