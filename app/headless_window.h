// The main window's components in memory: the harvest without a display, for
// the command line and tests. Handlers are called inside ui.Invoke, which
// makes the calling thread the window thread for their duration.
#pragma once

#include <cstdint>

#include "app/harvester.h"
#include "ui/headless.h"

namespace kelvarn {

// A list store that tells someone of every item added (on the window thread).
// With keepItems false it keeps only their number: for the command line,
// which writes every phrase out as it arrives and never reads one back.
class ObservedListStore final : public ListStore {
 public:
  std::function<void(std::string_view)> added;
  bool keepItems = true;

  bool Append(std::string_view text, std::int32_t itemValue) override {
    if (keepItems ? !items_.Append(text, itemValue) : count_ == INT32_MAX) return false;
    ++count_;
    if (added) added(text);
    return true;
  }
  std::int32_t Count() const override { return count_; }
  Text At(std::int32_t index) const override { return keepItems ? items_.At(index) : Text(); }
  void Clear() override {
    items_.Clear();
    count_ = 0;
  }
  // What the user sees, as the headless list keeps it.
  ItemBlock& Block() override { return items_.Block(); }
  void Reordered() override { items_.Reordered(); }
  std::vector<std::int32_t> Highlighted() const override { return items_.Highlighted(); }
  std::int32_t FocusRow() const override { return items_.FocusRow(); }
  void Reveal(std::int32_t index) override { items_.Reveal(index); }
  void SetClipboard(std::string_view lines) override { items_.SetClipboard(lines); }

 private:
  MemoryListStore items_;
  std::int32_t count_ = 0;
};

struct HeadlessWindow {
  HeadlessUiThread ui;
  MemoryListStore seeds;
  ObservedListStore phrases;
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
  GuardedFileDialog 通用对话框1{
      ui, [this](const FileRequest& request) { return chooser ? chooser(request) : std::optional<FileChoice>(); }};

  MainComponents Components() {
    return {列表框_关键字, 列表框_相关关键字, 编辑框_工作线程, 编辑框_采集级别, 按钮_开始采集, 状态条1, 通用对话框1};
  }
};

}  // namespace kelvarn
