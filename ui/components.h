// The component operations the harvest logic calls on the window: list boxes,
// edit boxes, a button, a status bar and a file dialog. Two implementations
// exist: Qt widgets (ui/qt) and a headless one in memory (ui/headless.h) for
// tests and the command line. Nothing here includes Qt.
//
// Thread safety: every operation may be called from any thread. Its effect is
// carried out on the window thread (UiThread) while the caller waits, so each
// operation is seen whole or not at all. A caller may belong to a run
// (ScopedRunGuard): once that run has been cut off, its calls do nothing and
// return -1, 0, false or the empty text. Never call an operation while holding
// a lock the window thread may need: the caller blocks until the window thread
// has carried the operation out.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>

#include "frame/main_thread.h"
#include "text/text.h"

namespace kelvarn {

// A run's number. Runs are only ever compared for equality, so wrapping
// around after 2^32 runs is harmless; it fits a work item's 32-bit parameter.
using Generation = std::uint32_t;

// The run a call belongs to: live while `current` still equals the run's own
// generation. Start, stop and close each move `current` on, on the window
// thread, so a check made there together with the effect is indivisible.
class RunGuard {
 public:
  RunGuard(const std::atomic<Generation>& current, Generation mine) : current_(&current), mine_(mine) {}
  bool Stale() const { return current_->load() != mine_; }

 private:
  const std::atomic<Generation>* current_;
  Generation mine_;
};

// Makes the calling thread's component calls belong to `guard` while alive.
class ScopedRunGuard {
 public:
  explicit ScopedRunGuard(const RunGuard& guard);
  ~ScopedRunGuard();
  ScopedRunGuard(const ScopedRunGuard&) = delete;
  ScopedRunGuard& operator=(const ScopedRunGuard&) = delete;

  // The calling thread's guard, or null when its calls belong to no run.
  static const RunGuard* Current();

 private:
  const RunGuard* previous_;
};

// How SortItems orders a list.
enum class ItemOrder {
  // GBK byte order, ASCII letters in either case alike. GBK lays out its
  // common characters (level 1, B0A1..D7F9) by pinyin, so Chinese phrases
  // come in pinyin order; the rarer ones follow by radical.
  kAlphabetical,
  kByLength,  // fewer characters first (a GBK character counts one), equal lengths alphabetically
};

class ListBox {
 public:
  virtual ~ListBox() = default;
  // Appends an item; returns its 0-based index, or -1 when refused.
  virtual std::int32_t AddItem(std::string_view text, std::int32_t itemValue = 0) = 0;
  virtual std::int32_t ItemCount() = 0;
  // The item's text; empty for an index below 0 or not below the count.
  virtual Text ItemText(std::int32_t index) = 0;
  virtual void ClearItems() = 0;
  // Stores the index clamped to -1 .. count - 1. A single-selection list also
  // selects that row and scrolls to it; an extended-selection list leaves its
  // highlight and scroll position alone.
  virtual void SetCurrentSelection(std::int32_t index) = 0;
  virtual std::int32_t CurrentSelection() = 0;

  // Operations over the whole list, each one call however long the list: a
  // million items must not cost a million calls through the window thread.
  // Every item's text, in list order.
  virtual TextArray Items() = 0;
  // Highlights only the next item after the one the user is on (before it,
  // when backward), wrapping around, whose text contains `text` in whole GBK
  // characters, ASCII letters in either case, and scrolls to it. Returns its
  // index; -1 when no item contains it or `text` is empty, nothing changed.
  virtual std::int32_t FindItem(std::string_view text, bool backward = false) = 0;
  // Puts the items the user has highlighted (all: every item) on the
  // clipboard as text, one a line, and returns how many; with none, leaves
  // the clipboard alone and returns 0.
  virtual std::int32_t CopyItems(bool all = false) = 0;
  // Sorts the items, equal ones staying in list order; each keeps its item
  // value. Items added afterwards are appended as always.
  virtual void SortItems(ItemOrder order) = 0;
};

class EditBox {
 public:
  virtual ~EditBox() = default;
  virtual Text Content() = 0;
  // Replaces the whole text; the content-changed handler runs exactly once,
  // after the new text is in place.
  virtual void SetContent(std::string_view text) = 0;
  // Called on the window thread after every change, by the user or the program.
  virtual void OnContentChanged(std::function<void()> handler) = 0;
};

class Button {
 public:
  virtual ~Button() = default;
  virtual Text Caption() = 0;
  virtual void SetCaption(std::string_view caption) = 0;
};

class StatusBar {
 public:
  virtual ~StatusBar() = default;
  // Sets and shows a panel's text; an index outside the panels does nothing.
  virtual void SetPanelText(std::int32_t panel, std::string_view text = {}) = 0;
  virtual Text PanelText(std::int32_t panel) = 0;
  // A field of its own at the right end, apart from the panels, for a run's
  // progress; empty hides it.
  virtual void SetProgressText(std::string_view text) = 0;
  virtual Text ProgressText() = 0;
};

class FileDialog {
 public:
  static constexpr std::int32_t kOpen = 0, kSave = 1;
  virtual ~FileDialog() = default;
  virtual void SetType(std::int32_t type) = 0;
  virtual std::int32_t Type() = 0;
  // The file types offered, "description|patterns|…" in GBK; the first is
  // chosen when the dialog opens. kTextFileFilter until set; the dialog is
  // shared, so each use sets it as it sets the type.
  virtual void SetFilter(std::string_view filter) = 0;
  // Shows the open or save dialog; true when confirmed, and then FileName()
  // is the chosen path. Cancelled: false, the file name unchanged.
  virtual bool ShowFileDialog() = 0;
  virtual Text FileName() = 0;
  // The file type chosen in the last confirmed dialog, counted from 1 as
  // Windows counts them; 1 before any.
  virtual std::int32_t FilterIndex() = 0;
};

// "TXT文件|*.txt|所有文件|*.*": the file dialog's filter, in GBK.
inline constexpr std::string_view kTextFileFilter = "TXT\xCE\xC4\xBC\xFE|*.txt|\xCB\xF9\xD3\xD0\xCE\xC4\xBC\xFE|*.*";

}  // namespace kelvarn
