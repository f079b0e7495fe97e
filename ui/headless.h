// Components in memory, for tests and the command line, used with
// HeadlessUiThread: every operation runs under its lock, so it is indivisible,
// and a stop that moves the run generation inside Invoke cannot interleave
// with a guarded effect.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame/headless_frame.h"
#include "ui/dialogs.h"
#include "ui/stores.h"

namespace kelvarn {

class MemoryListStore final : public ListStore {
 public:
  bool Append(std::string_view text, std::int32_t itemValue) override { return items_.Append(text, itemValue); }
  std::int32_t Count() const override { return items_.Count(); }
  Text At(std::int32_t index) const override { return Text(items_.View(index)); }
  std::int32_t ValueAt(std::int32_t index) const { return items_.ValueAt(index); }
  void Clear() override;

  // What a user would see: the rows highlighted (a test highlights them with
  // Highlight), the row the user is on, and the clipboard.
  ItemBlock& Block() override { return items_; }
  void Reordered() override { Highlight({}); }
  std::vector<std::int32_t> Highlighted() const override { return highlighted_; }
  std::int32_t FocusRow() const override { return focus_; }
  void Reveal(std::int32_t index) override { Highlight({index}); }
  void SetClipboard(std::string_view lines) override { clipboard_ = lines; }
  void Highlight(std::vector<std::int32_t> rows) {
    highlighted_ = std::move(rows);
    focus_ = highlighted_.empty() ? -1 : highlighted_.back();
  }
  const Text& Clipboard() const { return clipboard_; }

 private:
  ItemBlock items_;
  std::vector<std::int32_t> highlighted_;
  std::int32_t focus_ = -1;
  Text clipboard_;
};

class MemoryTextStore final : public TextStore {
 public:
  explicit MemoryTextStore(Text initial = {}) : text_(std::move(initial)) {}
  Text Get() const override { return text_; }
  void Set(std::string_view text) override { text_ = Text(text); }

 private:
  Text text_;
};

class MemoryPanelStore final : public PanelStore {
 public:
  explicit MemoryPanelStore(std::int32_t panels = 1) : panels_(static_cast<std::size_t>(panels)) {}
  std::int32_t Count() const override { return static_cast<std::int32_t>(panels_.size()); }
  Text Get(std::int32_t panel) const override { return panels_[static_cast<std::size_t>(panel)]; }
  void Set(std::int32_t panel, std::string_view text) override { panels_[static_cast<std::size_t>(panel)] = text; }
  Text Progress() const override { return progress_; }
  void SetProgress(std::string_view text) override { progress_ = text; }

 private:
  std::vector<Text> panels_;
  Text progress_;
};

// Dialogs that answer from a script instead of a person: tests and the
// command line, where nobody is there to click. They keep what a person
// would have been shown, so that tests can read it.
class ScriptedDialogs final : public Dialogs {
 public:
  struct Message {
    Text text;
    std::int32_t flags = 0;  // buttons, icon and default button, as asked
    Text caption;            // "信息：" when none was given
  };
  struct Input {
    Text prompt;   // empty: the smaller layout, without a prompt
    Text caption;  // "请输入：" when none was given
    Text initial;
  };

  std::int32_t messageAnswer = kIdOk;
  // Called as each message box is shown, before it is answered: what the
  // program had done by then can be looked at.
  std::function<void(const Message&)> onMessage;
  std::optional<Text> inputAnswer;  // nothing: the input box is cancelled
  std::vector<Message> messagesShown;
  std::vector<Input> inputsShown;
  // The pacing dialog's answers, one for each time it comes up: what is
  // left in it on OK, nothing for Cancel. Once they run out, it is cancelled.
  std::deque<std::optional<HarvestSettings>> pacingAnswers;
  std::vector<HarvestSettings> pacingShown;  // what it held when it came up
  std::vector<std::string> menusShown;
  int pendingMessagePumps = 0;
  // Stands for the events the window handles at each pump.
  std::function<void()> onPump;

  std::int32_t ShowMessage(const Value& content, std::int32_t flags,
                           std::optional<std::string_view> caption = std::nullopt) override {
    messagesShown.push_back({ToText(content), flags, Text(caption.value_or(kDefaultMessageCaption))});
    if (onMessage) onMessage(messagesShown.back());
    return messageAnswer;
  }
  bool InputBox(std::optional<std::string_view> prompt, std::optional<std::string_view> caption,
                std::optional<std::string_view> initial, Value& variable,
                std::optional<std::int32_t> = std::nullopt) override {
    // "请输入：", the box's own title.
    inputsShown.push_back({Text(prompt.value_or("")), Text(caption.value_or("\xC7\xEB\xCA\xE4\xC8\xEB\xA3\xBA")),
                           Text(initial.value_or(""))});
    if (!inputAnswer) return false;
    StoreInput(*inputAnswer, variable);
    return true;
  }
  bool PacingDialog(HarvestSettings& settings) override {
    pacingShown.push_back(settings);
    if (pacingAnswers.empty()) return false;
    std::optional<HarvestSettings> answer = std::move(pacingAnswers.front());
    pacingAnswers.pop_front();
    if (!answer) return false;
    settings = std::move(*answer);
    return true;
  }
  void PopupMenu(const Menu& menu, std::optional<std::int32_t> = std::nullopt,
                 std::optional<std::int32_t> = std::nullopt) override {
    menusShown.push_back(menu.name);
  }
  void ProcessPendingMessages() override {
    ++pendingMessagePumps;
    if (onPump) onPump();
  }
};

}  // namespace kelvarn
