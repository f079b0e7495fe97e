// Components in memory, for tests and the command line, used with
// HeadlessUiThread: every operation runs under its lock, so it is indivisible,
// and a stop that moves the run generation inside Invoke cannot interleave
// with a guarded effect.
#pragma once

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
  bool Append(std::string_view text, std::int32_t itemValue) override;
  std::int32_t Count() const override { return static_cast<std::int32_t>(offsets_.size()); }
  Text At(std::int32_t index) const override;
  std::int32_t ValueAt(std::int32_t index) const { return values_[static_cast<std::size_t>(index)]; }
  void Clear() override;

 private:
  // Every item's bytes in one block: a million items cost little more than
  // their text.
  std::string bytes_;
  std::vector<std::uint32_t> offsets_;  // item i ends at offsets_[i]
  std::vector<std::int32_t> values_;
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
// command line, where nobody is there to click.
class ScriptedDialogs final : public Dialogs {
 public:
  std::int32_t messageAnswer = kIdOk;
  std::optional<Text> inputAnswer;  // nothing: the input box is cancelled
  std::vector<Text> messagesShown;
  std::vector<std::string> menusShown;
  int pendingMessagePumps = 0;

  std::int32_t ShowMessage(const Value& content, std::int32_t,
                           std::optional<std::string_view> = std::nullopt) override {
    messagesShown.push_back(ToText(content));
    return messageAnswer;
  }
  bool InputBox(std::optional<std::string_view>, std::optional<std::string_view>, std::optional<std::string_view>,
                Value& variable, std::optional<std::int32_t> = std::nullopt) override {
    if (!inputAnswer) return false;
    StoreInput(*inputAnswer, variable);
    return true;
  }
  void PopupMenu(const Menu& menu, std::optional<std::int32_t> = std::nullopt,
                 std::optional<std::int32_t> = std::nullopt) override {
    menusShown.push_back(menu.name);
  }
  void ProcessPendingMessages() override { ++pendingMessagePumps; }
};

}  // namespace kelvarn
