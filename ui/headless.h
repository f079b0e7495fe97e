// Components in memory, for tests and the command line, used with
// HeadlessUiThread: every operation runs under its lock, so it is indivisible,
// and a stop that moves the run generation inside Invoke cannot interleave
// with a guarded effect.
#pragma once

#include <memory>
#include <vector>

#include "frame/headless_frame.h"
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

 private:
  std::vector<Text> panels_;
};

}  // namespace kelvarn
