#include "ui/win32/win32_components.h"

#include <commctrl.h>
#include <commdlg.h>
#include <windowsx.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <optional>

namespace kelvarn {
namespace {

// The window property that leads from a control's handle to its object.
constexpr const char* kControlProperty = "kelvarn.control";
constexpr UINT_PTR kPublishTimer = 1;
// Room for a chosen path: more than MAX_PATH, which a GBK path may pass.
constexpr std::size_t kPathBytes = 1024;

Text WindowText(HWND hwnd) {
  const int length = GetWindowTextLengthA(hwnd);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  text.resize(static_cast<std::size_t>(GetWindowTextA(hwnd, text.data(), length + 1)));
  return text;
}

int TextWidth(HWND hwnd, std::string_view text) {
  HDC dc = GetDC(hwnd);
  const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(hwnd, WM_GETFONT, 0, 0)));
  SIZE size{};
  GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(hwnd, dc);
  return size.cx;
}

}  // namespace

Win32Control::Win32Control(HWND parent, const char* windowClass, std::string_view text, DWORD style, DWORD exStyle,
                           ControlRect rect, int id) {
  hwnd_ = CreateWindowExA(exStyle, windowClass, std::string(text).c_str(), style | WS_CHILD | WS_VISIBLE, rect.x,
                          rect.y, rect.width, rect.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                          GetModuleHandleA(nullptr), nullptr);
  if (hwnd_) SetPropA(hwnd_, kControlProperty, this);
}

Win32Control::~Win32Control() {
  if (!hwnd_ || GetPropA(hwnd_, kControlProperty) != this) return;
  RemovePropA(hwnd_, kControlProperty);
  if (original_) SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
  DestroyWindow(hwnd_);
}

void Win32Control::SetFont(HFONT font) { SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE); }

Win32Control* Win32Control::Of(HWND control) {
  return control ? static_cast<Win32Control*>(GetPropA(control, kControlProperty)) : nullptr;
}

void Win32Control::Subclass() {
  if (!hwnd_) return;
  original_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32Control::SubclassProc)));
}

LRESULT Win32Control::Procedure(UINT message, WPARAM wParam, LPARAM lParam) {
  return CallOriginal(message, wParam, lParam);
}

LRESULT Win32Control::CallOriginal(UINT message, WPARAM wParam, LPARAM lParam) {
  return CallWindowProcA(original_, hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK Win32Control::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Win32Control* control = Of(hwnd);
  if (!control) return DefWindowProcA(hwnd, message, wParam, lParam);
  if ((message == WM_KEYDOWN || message == WM_CHAR) && wParam == VK_TAB) {
    // Tab moves the focus among the parent's tab stops whatever message loop
    // runs: the frame's plain one does no dialog navigation.
    if (message == WM_KEYDOWN) {
      if (HWND next = GetNextDlgTabItem(GetParent(hwnd), hwnd, GetKeyState(VK_SHIFT) < 0)) SetFocus(next);
    }
    return 0;
  }
  if (message != WM_NCDESTROY) return control->Procedure(message, wParam, lParam);
  // The window goes before its object: the object must not reach it again.
  const LRESULT result = control->CallOriginal(message, wParam, lParam);
  RemovePropA(hwnd, kControlProperty);
  control->hwnd_ = nullptr;
  return result;
}

bool ReflectToControl(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  HWND control = nullptr;
  if (message == WM_COMMAND) {
    control = reinterpret_cast<HWND>(lParam);
  } else if (message == WM_DRAWITEM) {
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (item->CtlType != ODT_MENU) control = item->hwndItem;
  }
  Win32Control* object = Win32Control::Of(control);
  return object && object->Notified(message, wParam, lParam, result);
}

Win32ListBox::Win32ListBox(UiThread& ui, HWND parent, ControlRect rect, int id, bool extendedSelection)
    : Win32Control(parent, "LISTBOX", {},
                   WS_VSCROLL | WS_TABSTOP | LBS_NODATA | LBS_OWNERDRAWFIXED | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY |
                       LBS_DISABLENOSCROLL | (extendedSelection ? LBS_EXTENDEDSEL : 0),
                   WS_EX_STATICEDGE, rect, id),
      showsSelection_(!extendedSelection),
      operations_(ui, *this, extendedSelection) {
  Subclass();
  SetRowFont(static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)));
}

Win32ListBox::~Win32ListBox() {
  if (Handle()) KillTimer(Handle(), kPublishTimer);
}

void Win32ListBox::SetRowFont(HFONT font) {
  font_ = font;
  SetFont(font);
  HDC dc = GetDC(Handle());
  const HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(Handle(), dc);
  SendMessageA(Handle(), LB_SETITEMHEIGHT, 0, MAKELPARAM(metrics.tmHeight + 1, 0));
}

bool Win32ListBox::Append(std::string_view text, std::int32_t itemValue) {
  if (!items_.Append(text, itemValue)) return false;
  SchedulePublish();
  return true;
}

void Win32ListBox::Clear() {
  items_.Clear();
  published_ = 0;
  selectionPending_ = false;
  SendMessageA(Handle(), LB_RESETCONTENT, 0, 0);
}

void Win32ListBox::ShowSelection(std::int32_t index) {
  if (!showsSelection_) return;
  shownSelection_ = index;
  selectionPending_ = true;
  SchedulePublish();
}

void Win32ListBox::SchedulePublish() {
  if (publishPending_) return;
  publishPending_ = true;
  SetTimer(Handle(), kPublishTimer, publishIntervalMs_, nullptr);
}

void Win32ListBox::Publish() {
  publishPending_ = false;
  KillTimer(Handle(), kPublishTimer);
  if (published_ < Count()) {
    // Timed with the repaint it causes: the next batch waits at least three
    // times as long, so that the control's share stays under a quarter of
    // the time however long the list grows.
    const auto start = std::chrono::steady_clock::now();
    SendMessageA(Handle(), LB_SETCOUNT, static_cast<WPARAM>(Count()), 0);
    published_ = Count();
    UpdateWindow(Handle());
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    publishIntervalMs_ = static_cast<UINT>(std::clamp<long long>(3 * took, kPublishMs, 2000));
  }
  if (!selectionPending_) return;
  selectionPending_ = false;
  const bool shown = shownSelection_ >= 0 && shownSelection_ < published_;
  SendMessageA(Handle(), LB_SETCURSEL, shown ? static_cast<WPARAM>(shownSelection_) : static_cast<WPARAM>(-1), 0);
}

void Win32ListBox::Reordered() {
  // Every row may hold another item now: no highlight, and every row drawn anew.
  selectionPending_ = false;
  SendMessageA(Handle(), LB_SETSEL, FALSE, -1);
  Publish();
  InvalidateRect(Handle(), nullptr, TRUE);
}

std::vector<std::int32_t> Win32ListBox::Highlighted() const {
  const LRESULT count = SendMessageA(Handle(), LB_GETSELCOUNT, 0, 0);
  if (count == LB_ERR) {  // a single-selection list
    const LRESULT row = SendMessageA(Handle(), LB_GETCURSEL, 0, 0);
    return row == LB_ERR ? std::vector<std::int32_t>() : std::vector<std::int32_t>{static_cast<std::int32_t>(row)};
  }
  std::vector<INT> rows(static_cast<std::size_t>(std::max<LRESULT>(count, 0)));
  if (!rows.empty()) {
    const LRESULT got =
        SendMessageA(Handle(), LB_GETSELITEMS, static_cast<WPARAM>(rows.size()), reinterpret_cast<LPARAM>(rows.data()));
    rows.resize(static_cast<std::size_t>(std::max<LRESULT>(got, 0)));
  }
  return {rows.begin(), rows.end()};
}

std::int32_t Win32ListBox::FocusRow() const {
  const LRESULT caret = SendMessageA(Handle(), LB_GETCARETINDEX, 0, 0);
  if (caret == LB_ERR || caret >= published_) return -1;
  // A list the user never entered has its caret on the first row: a find
  // there starts with that row, not after it.
  if (caret == 0 && SendMessageA(Handle(), LB_GETSEL, 0, 0) <= 0) return -1;
  return static_cast<std::int32_t>(caret);
}

void Win32ListBox::Reveal(std::int32_t index) {
  if (index >= published_) Publish();
  if (showsSelection_) {
    SendMessageA(Handle(), LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    return;
  }
  SendMessageA(Handle(), LB_SETSEL, FALSE, -1);
  SendMessageA(Handle(), LB_SETSEL, TRUE, index);
  SendMessageA(Handle(), LB_SETCARETINDEX, static_cast<WPARAM>(index), FALSE);  // scrolls it into view
}

void Win32ListBox::SetClipboard(std::string_view lines) {
  // GB18030 (code page 54936) keeps what GBK cannot say, as the Qt list
  // does; 936 where the system lacks it.
  const int size = static_cast<int>(std::min<std::size_t>(lines.size(), INT_MAX));
  UINT codePage = 54936;
  int wide = MultiByteToWideChar(codePage, 0, lines.data(), size, nullptr, 0);
  if (wide <= 0 && size > 0) {
    codePage = 936;
    wide = MultiByteToWideChar(codePage, 0, lines.data(), size, nullptr, 0);
  }
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (static_cast<SIZE_T>(std::max(wide, 0)) + 1) * sizeof(WCHAR));
  if (!memory) return;
  auto* text = static_cast<WCHAR*>(GlobalLock(memory));
  const int written = text ? MultiByteToWideChar(codePage, 0, lines.data(), size, text, wide) : 0;
  if (text) text[std::max(written, 0)] = L'\0';
  GlobalUnlock(memory);
  if (!text || !OpenClipboard(Handle())) {
    GlobalFree(memory);
    return;
  }
  EmptyClipboard();
  if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory);  // the system owns it once set
  CloseClipboard();
}

LRESULT Win32ListBox::Procedure(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER && wParam == kPublishTimer) {
    Publish();
    return 0;
  }
  if (message == WM_RBUTTONDOWN && rightButton_) rightButton_(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), wParam);
  if (message == WM_KEYDOWN && keyDown_) {
    const WPARAM held = (GetKeyState(VK_SHIFT) < 0 ? MK_SHIFT : 0) | (GetKeyState(VK_CONTROL) < 0 ? MK_CONTROL : 0);
    if (keyDown_(wParam, held)) return 0;
  }
  return CallOriginal(message, wParam, lParam);
}

bool Win32ListBox::Notified(UINT message, WPARAM, LPARAM lParam, LRESULT& result) {
  if (message != WM_DRAWITEM) return false;
  Draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
  result = TRUE;
  return true;
}

void Win32ListBox::Draw(const DRAWITEMSTRUCT& item) const {
  RECT row = item.rcItem;
  // A focus change alone: the focus rectangle is drawn by inverting, so
  // drawing it again takes it away.
  if ((item.itemAction & ODA_FOCUS) && !(item.itemAction & (ODA_DRAWENTIRE | ODA_SELECT))) {
    DrawFocusRect(item.hDC, &row);
    return;
  }
  const std::int32_t index = static_cast<std::int32_t>(item.itemID);
  const std::string_view text = index >= 0 && index < published_ ? items_.View(index) : std::string_view();
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  SetBkColor(item.hDC, selected ? GetSysColor(COLOR_HIGHLIGHT) : RGB(255, 255, 255));
  SetTextColor(item.hDC, selected ? GetSysColor(COLOR_HIGHLIGHTTEXT) : RGB(0, 0, 0));
  const HGDIOBJ old = SelectObject(item.hDC, font_);
  ExtTextOutA(item.hDC, row.left + 2, row.top, ETO_OPAQUE | ETO_CLIPPED, &row, text.data(),
              static_cast<UINT>(text.size()), nullptr);
  SelectObject(item.hDC, old);
  if (item.itemState & ODS_FOCUS) DrawFocusRect(item.hDC, &row);
}

Text WindowTextStore::Get() const {
  Text shown = WindowText(hwnd_);
  return shown == shownSet_ ? set_ : shown;
}

void WindowTextStore::Set(std::string_view text) {
  set_ = Text(text);
  SetWindowTextA(hwnd_, set_.c_str());
  shownSet_ = WindowText(hwnd_);
}

Win32EditBox::Win32EditBox(UiThread& ui, HWND parent, ControlRect rect, int id)
    : Win32Control(parent, "EDIT", {}, WS_TABSTOP | ES_AUTOHSCROLL | ES_LEFT, WS_EX_CLIENTEDGE, rect, id),
      text_(Handle()),
      operations_(ui, *this) {
  Subclass();
}

void Win32EditBox::Set(std::string_view text) {
  settingText_ = true;
  text_.Set(text);
  settingText_ = false;
}

bool Win32EditBox::Notified(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
  if (message != WM_COMMAND || HIWORD(wParam) != EN_CHANGE) return false;
  // The program's own replacement raises the handler once, afterwards.
  if (!settingText_) operations_.UserChanged();
  result = 0;
  return true;
}

Win32Button::Win32Button(UiThread& ui, HWND parent, ControlRect rect, int id, std::string_view caption)
    : Win32Control(parent, "BUTTON", caption, WS_TABSTOP | BS_PUSHBUTTON, 0, rect, id),
      store_(Handle()),
      operations_(ui, store_) {
  Subclass();
  store_.Set(caption);
}

bool Win32Button::Notified(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
  if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return false;
  if (clicked_) clicked_();
  result = 0;
  return true;
}

Win32StatusBar::Win32StatusBar(UiThread& ui, HWND parent, ControlRect rect, int id, std::int32_t panels)
    : Win32Control(parent, STATUSCLASSNAMEA, {}, CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER, 0, rect, id),
      store_(*this, std::max<std::int32_t>(panels, 1)),
      operations_(ui, store_) {
  LayOut();
}

void Win32StatusBar::LayOut() {
  // Panels before the last are 100 pixels wide; the last runs to the right
  // edge, or to the progress part while that has a text.
  RECT client{};
  GetClientRect(Handle(), &client);
  const int panels = store_.Count();
  std::vector<int> edges;
  for (int i = 0; i + 1 < panels; ++i) edges.push_back(100 * (i + 1));
  if (store_.progress_.empty()) {
    edges.push_back(-1);
  } else {
    edges.push_back(
        std::max<int>(edges.empty() ? 0 : edges.back(), client.right - TextWidth(Handle(), store_.progress_) - 16));
    edges.push_back(-1);
  }
  SendMessageA(Handle(), SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
  for (int i = 0; i < panels; ++i) {
    SendMessageA(Handle(), SB_SETTEXTA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(store_.texts_[i].c_str()));
  }
  if (!store_.progress_.empty()) {
    SendMessageA(Handle(), SB_SETTEXTA, static_cast<WPARAM>(panels),
                 reinterpret_cast<LPARAM>(store_.progress_.c_str()));
  }
}

void Win32StatusBar::Store::Set(std::int32_t panel, std::string_view text) {
  Text& stored = texts_[static_cast<std::size_t>(panel)];
  stored = Text(text);
  SendMessageA(owner_.Handle(), SB_SETTEXTA, static_cast<WPARAM>(panel), reinterpret_cast<LPARAM>(stored.c_str()));
}

void Win32StatusBar::Store::SetProgress(std::string_view text) {
  progress_ = Text(text);
  owner_.LayOut();
}

std::string Win32Filter(std::string_view filter) {
  // A GBK character's trail byte may be "|" (0x7C): only single bytes split.
  std::string parts;
  for (std::size_t i = 0; i < filter.size(); ++i) {
    const auto byte = static_cast<unsigned char>(filter[i]);
    if (byte >= 0x81 && byte <= 0xFE && i + 1 < filter.size()) {
      parts += filter.substr(i++, 2);
    } else {
      parts += byte == '|' ? '\0' : filter[i];
    }
  }
  parts += '\0';
  return parts;  // c_str() adds the closing zero byte
}

FileChooser Win32FileChooser(HWND owner, std::string defaultExtension) {
  return [owner, fallback = std::move(defaultExtension)](const FileRequest& request) -> std::optional<FileChoice> {
    const std::string filter = Win32Filter(request.filter);
    const Text extension = FilterExtension(request.filter, 1, fallback);
    std::string path(kPathBytes, '\0');
    path.replace(0, std::min(request.currentName.size(), kPathBytes - 1), request.currentName, 0, kPathBytes - 1);
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = static_cast<DWORD>(path.size());
    dialog.lpstrDefExt = extension.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    const BOOL confirmed = request.type == FileDialog::kSave ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog);
    if (!confirmed) return std::nullopt;
    path.resize(path.find('\0'));
    return FileChoice{path, static_cast<std::int32_t>(std::max<DWORD>(1, dialog.nFilterIndex))};
  };
}

}  // namespace kelvarn
