// The component operations over Win32 controls, through the ANSI functions:
// texts are GBK bytes and go to the controls as they are (the process's code
// page is 936). Construct and destroy on the window thread; the operations
// themselves may be called from any thread (ui/components.h).
//
// The controls tell their parent window about themselves (WM_COMMAND,
// WM_DRAWITEM); a parent's window procedure hands those messages to the
// control's object with ReflectToControl.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// A member named CreateWindow keeps its name in the files that include this
// one (windows.h makes it CreateWindowA).
#undef CreateWindow

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/headless.h"
#include "ui/stores.h"

namespace kelvarn {

struct ControlRect {
  int x, y, width, height;
};

// A control window and the object behind it; the object is found again from
// the window handle. The window belongs to its parent and dies with it.
class Win32Control {
 public:
  virtual ~Win32Control();
  Win32Control(const Win32Control&) = delete;
  Win32Control& operator=(const Win32Control&) = delete;
  HWND Handle() const { return hwnd_; }
  void SetFont(HFONT font);

  // A message about this control that its parent received; true when taken.
  virtual bool Notified(UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/, LRESULT& /*result*/) { return false; }
  static Win32Control* Of(HWND control);

 protected:
  // Creates the control window; Handle() is null when that failed.
  Win32Control(HWND parent, const char* windowClass, std::string_view text, DWORD style, DWORD exStyle,
               ControlRect rect, int id);
  // Makes this object's Procedure see the control's messages first, and Tab
  // and Shift+Tab move the focus to the parent's next or previous tab stop.
  void Subclass();
  virtual LRESULT Procedure(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT CallOriginal(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  HWND hwnd_ = nullptr;
  WNDPROC original_ = nullptr;
};

// For a parent's window procedure: passes WM_COMMAND and WM_DRAWITEM on to
// the control they concern. True when the control took the message, and then
// `result` is what the procedure returns.
bool ReflectToControl(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

// A control with no operations of its own (group box, label).
class Win32PlainControl final : public Win32Control {
 public:
  Win32PlainControl(HWND parent, const char* windowClass, std::string_view text, DWORD style, ControlRect rect)
      : Win32Control(parent, windowClass, text, style, 0, rect, -1) {}
};

// A list box over an owner-data LISTBOX (LBS_NODATA): the control holds no
// strings, only a count; each item's GBK bytes and item value stay in one
// compact store and a row is drawn from there when it shows, so a million
// items cost little more than their text. New rows reach the control in
// batches, as with the Qt list: the count is published at most every
// kPublishMs, and the next batch waits three times as long as the last took.
class Win32ListBox final : public Win32Control, public ListStore {
 public:
  static constexpr UINT kPublishMs = 30;

  Win32ListBox(UiThread& ui, HWND parent, ControlRect rect, int id, bool extendedSelection);
  ~Win32ListBox() override;
  ListBox& Operations() { return operations_; }
  // Rows one pixel taller than the font's own.
  void SetRowFont(HFONT font);
  // Called on WM_RBUTTONDOWN with the client position and the MK_ key state.
  void OnRightButtonDown(std::function<void(int x, int y, WPARAM keys)> handler) { rightButton_ = std::move(handler); }
  // Called on WM_KEYDOWN with the virtual-key code and MK_SHIFT | MK_CONTROL
  // as held; a key it takes (true) goes no further.
  void OnKeyDown(std::function<bool(WPARAM key, WPARAM modifiers)> handler) { keyDown_ = std::move(handler); }

  // ListStore, window thread only.
  bool Append(std::string_view text, std::int32_t itemValue) override;
  std::int32_t Count() const override { return items_.Count(); }
  Text At(std::int32_t index) const override { return Text(items_.View(index)); }
  std::int32_t ValueAt(std::int32_t index) const { return items_.ValueAt(index); }
  void Clear() override;
  void ShowSelection(std::int32_t index) override;
  // The whole list: the control's highlight and caret, and the clipboard as
  // CF_UNICODETEXT with CR LF line ends.
  ItemBlock& Block() override { return items_; }
  void Reordered() override;
  std::vector<std::int32_t> Highlighted() const override;
  std::int32_t FocusRow() const override;
  void Reveal(std::int32_t index) override;
  void SetClipboard(std::string_view lines) override;
  std::string_view LineEnd() const override { return "\r\n"; }
  // Hands the rows added so far to the control and shows the latest selection.
  void Publish();
  // Rows the control knows of.
  std::int32_t Published() const { return published_; }

  bool Notified(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  LRESULT Procedure(UINT message, WPARAM wParam, LPARAM lParam) override;
  void SchedulePublish();
  void Draw(const DRAWITEMSTRUCT& item) const;

  ItemBlock items_;
  HFONT font_ = nullptr;
  std::function<void(int, int, WPARAM)> rightButton_;
  std::function<bool(WPARAM, WPARAM)> keyDown_;
  const bool showsSelection_;
  UINT publishIntervalMs_ = kPublishMs;
  std::int32_t published_ = 0;
  bool publishPending_ = false;
  std::int32_t shownSelection_ = -1;  // the selection to show at the next Publish
  bool selectionPending_ = false;
  GuardedListBox operations_;
};

// The text of a control, read and set with the A window-text functions.
// Until the text shown changes, it reads back as the bytes set, even bytes
// that the code page cannot show and would not give back.
class WindowTextStore final : public TextStore {
 public:
  explicit WindowTextStore(HWND hwnd) : hwnd_(hwnd) {}
  Text Get() const override;
  void Set(std::string_view text) override;

 private:
  Text Shown() const;
  HWND hwnd_;
  Text set_, shownSet_;
};

// A single-line EDIT. EN_CHANGE of the user's typing raises the
// content-changed handler; a program's change raises it once, from the
// guarded component, and its own EN_CHANGE is ignored.
class Win32EditBox final : public Win32Control, public TextStore {
 public:
  Win32EditBox(UiThread& ui, HWND parent, ControlRect rect, int id);
  EditBox& Operations() { return operations_; }
  bool Notified(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  // TextStore, window thread only.
  Text Get() const override { return text_.Get(); }
  void Set(std::string_view text) override;

 private:
  WindowTextStore text_;
  bool settingText_ = false;
  GuardedEditBox operations_;
};

class Win32Button final : public Win32Control {
 public:
  Win32Button(UiThread& ui, HWND parent, ControlRect rect, int id, std::string_view caption);
  Button& Operations() { return operations_; }
  void OnClicked(std::function<void()> handler) { clicked_ = std::move(handler); }
  bool Notified(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  WindowTextStore store_;
  GuardedButton operations_;
  std::function<void()> clicked_;
};

// A msctls_statusbar32 of `panels` parts (the last runs to the right edge)
// and, while it has a text, a progress part of its own at the right end.
// InitCommonControlsEx(ICC_BAR_CLASSES) must have run.
class Win32StatusBar final : public Win32Control {
 public:
  Win32StatusBar(UiThread& ui, HWND parent, ControlRect rect, int id, std::int32_t panels = 1);
  StatusBar& Operations() { return operations_; }

 private:
  class Store final : public PanelStore {
   public:
    explicit Store(Win32StatusBar& owner, std::int32_t panels)
        : owner_(owner), texts_(static_cast<std::size_t>(panels)) {}
    std::int32_t Count() const override { return static_cast<std::int32_t>(texts_.size()); }
    Text Get(std::int32_t panel) const override { return texts_[static_cast<std::size_t>(panel)]; }
    void Set(std::int32_t panel, std::string_view text) override;
    Text Progress() const override { return progress_; }
    void SetProgress(std::string_view text) override;

   private:
    friend class Win32StatusBar;
    Win32StatusBar& owner_;
    std::vector<Text> texts_;
    Text progress_;
  };
  void LayOut();

  Store store_;
  GuardedStatusBar operations_;
};

// The open and save dialogs (GetOpenFileNameA, GetSaveFileNameA) owned by
// `owner`: the request's "Name|pattern|Name|pattern" filter (GBK), the first
// type's extension as the default (`defaultExtension` for a type like "*.*";
// the dialog follows the type the user picks), and OFN_HIDEREADONLY,
// OFN_FILEMUSTEXIST, OFN_OVERWRITEPROMPT and OFN_PATHMUSTEXIST for both. The
// last chosen name fills the name field.
FileChooser Win32FileChooser(HWND owner, std::string defaultExtension);
// "TXT文件|*.txt|所有文件|*.*" in the dialogs' form: each part ended by a zero
// byte, the whole by another.
std::string Win32Filter(std::string_view filter);

}  // namespace kelvarn
