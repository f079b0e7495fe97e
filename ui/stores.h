// Component operations built once over small stores, for both the Qt widgets
// and the headless components. Each operation runs on the window thread
// (UiThread::Invoke) and first checks the caller's run guard there, so the
// check and the effect are one step. The stores are touched only on the
// window thread and need no locks of their own.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ui/components.h"

namespace kelvarn {

// A list's items: every item's bytes in one block, so that a million items
// cost little more than their text, with the operations over the whole list.
class ItemBlock {
 public:
  bool Append(std::string_view text, std::int32_t itemValue);  // false: the block is full
  std::int32_t Count() const { return static_cast<std::int32_t>(offsets_.size()); }
  std::string_view View(std::int32_t index) const;  // index already checked
  std::int32_t ValueAt(std::int32_t index) const { return values_[static_cast<std::size_t>(index)]; }
  void Clear();

  // The first item after `from` (before it, when backward), wrapping around
  // and ending with `from` itself, that contains `text` as ListBox::FindItem
  // matches; -1 for none. `from` may be -1: from the first (backward: last).
  std::int32_t Find(std::string_view text, std::int32_t from, bool backward) const;
  void Sort(ItemOrder order);
  // The texts of `rows` (every item's when null), `lineEnd` between them.
  Text Lines(const std::vector<std::int32_t>* rows, std::string_view lineEnd) const;

 private:
  std::string bytes_;
  std::vector<std::uint32_t> offsets_;  // item i ends at offsets_[i]
  std::vector<std::int32_t> values_;
};

class ListStore {
 public:
  virtual ~ListStore() = default;
  virtual bool Append(std::string_view text, std::int32_t itemValue) = 0;  // false: refused
  virtual std::int32_t Count() const = 0;
  virtual Text At(std::int32_t index) const = 0;  // index already checked
  virtual void Clear() = 0;
  // Single-selection lists only: select the row (-1: none) and scroll to it.
  virtual void ShowSelection(std::int32_t) {}

  // For the operations over the whole list: the items themselves (a store
  // that keeps none gives an empty block), and what the user sees of them.
  virtual ItemBlock& Block() = 0;
  // The block was reordered in place: the view shows it anew.
  virtual void Reordered() {}
  // The rows the user has highlighted, ascending; the row the user is on
  // (-1: none).
  virtual std::vector<std::int32_t> Highlighted() const = 0;
  virtual std::int32_t FocusRow() const = 0;
  // Highlights only `index` (a row of the block), makes it the row the user
  // is on and scrolls to it.
  virtual void Reveal(std::int32_t index) = 0;
  // Puts GBK lines on the clipboard, ended the platform's way (LineEnd).
  virtual void SetClipboard(std::string_view lines) = 0;
  virtual std::string_view LineEnd() const { return "\n"; }
};

class TextStore {
 public:
  virtual ~TextStore() = default;
  virtual Text Get() const = 0;
  virtual void Set(std::string_view text) = 0;
};

class PanelStore {
 public:
  virtual ~PanelStore() = default;
  virtual std::int32_t Count() const = 0;
  virtual Text Get(std::int32_t panel) const = 0;
  virtual void Set(std::int32_t panel, std::string_view text) = 0;
  virtual Text Progress() const = 0;
  virtual void SetProgress(std::string_view text) = 0;
};

// What a file dialog is asked: open or save, the name it starts from, and
// the file types it offers (see FileDialog::SetFilter).
struct FileRequest {
  std::int32_t type = FileDialog::kOpen;
  Text currentName;
  std::string_view filter = kTextFileFilter;
};

// What the user confirmed: the path, and the file type chosen (1: the first).
struct FileChoice {
  Text path;
  std::int32_t filterIndex = 1;
};

// Shows the dialog; the choice, or nothing when cancelled.
using FileChooser = std::function<std::optional<FileChoice>(const FileRequest& request)>;

// The extension a name typed without one gets under the filter's type
// `index` (from 1): its first pattern's, "csv" for "*.csv"; `fallback` when
// that pattern names none ("*.*") or there is no such type.
Text FilterExtension(std::string_view filter, std::int32_t index, std::string_view fallback);

class GuardedListBox final : public ListBox {
 public:
  GuardedListBox(UiThread& ui, ListStore& store, bool extendedSelection)
      : ui_(ui), store_(store), extended_(extendedSelection) {}
  std::int32_t AddItem(std::string_view text, std::int32_t itemValue = 0) override;
  std::int32_t ItemCount() override;
  Text ItemText(std::int32_t index) override;
  void ClearItems() override;
  void SetCurrentSelection(std::int32_t index) override;
  std::int32_t CurrentSelection() override;
  TextArray Items() override;
  std::int32_t FindItem(std::string_view text, bool backward = false) override;
  std::int32_t CopyItems(bool all = false) override;
  void SortItems(ItemOrder order) override;

 private:
  UiThread& ui_;
  ListStore& store_;
  const bool extended_;
  std::int32_t selection_ = -1;  // window thread only
};

// The content-changed handler runs once per change, after the text is in place.
class GuardedEditBox final : public EditBox {
 public:
  GuardedEditBox(UiThread& ui, TextStore& store) : ui_(ui), store_(store) {}
  Text Content() override;
  void SetContent(std::string_view text) override;
  void OnContentChanged(std::function<void()> handler) override;
  // The user changed the text (window thread).
  void UserChanged();

 private:
  UiThread& ui_;
  TextStore& store_;
  std::function<void()> changed_;  // window thread only
};

class GuardedButton final : public Button {
 public:
  GuardedButton(UiThread& ui, TextStore& store) : ui_(ui), store_(store) {}
  Text Caption() override;
  void SetCaption(std::string_view caption) override;

 private:
  UiThread& ui_;
  TextStore& store_;
};

class GuardedStatusBar final : public StatusBar {
 public:
  GuardedStatusBar(UiThread& ui, PanelStore& store) : ui_(ui), store_(store) {}
  void SetPanelText(std::int32_t panel, std::string_view text = {}) override;
  Text PanelText(std::int32_t panel) override;
  void SetProgressText(std::string_view text) override;
  Text ProgressText() override;

 private:
  UiThread& ui_;
  PanelStore& store_;
};

class GuardedFileDialog final : public FileDialog {
 public:
  GuardedFileDialog(UiThread& ui, FileChooser chooser) : ui_(ui), chooser_(std::move(chooser)) {}
  void SetType(std::int32_t type) override;
  std::int32_t Type() override;
  void SetFilter(std::string_view filter) override;
  bool ShowFileDialog() override;
  Text FileName() override;
  std::int32_t FilterIndex() override;

 private:
  UiThread& ui_;
  FileChooser chooser_;
  // Window thread only.
  std::int32_t type_ = kOpen;
  Text filter_{kTextFileFilter};
  Text fileName_;
  std::int32_t filterIndex_ = 1;
};

}  // namespace kelvarn
