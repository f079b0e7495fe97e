#include "ui/win32/win32_dialogs.h"

#include <string>
#include <vector>

#include "ui/components.h"
#include "ui/input_box.h"
#include "ui/pacing_dialog.h"
#include "ui/win32/win32_components.h"

namespace kelvarn {
namespace {

constexpr WORD kButtonClass = 0x0080, kEditClass = 0x0081, kStaticClass = 0x0082, kComboBoxClass = 0x0085;
constexpr WORD kPromptId = 100, kEntryId = 101, kUniqueId = 102, kProxiesLabelId = 103, kProxiesFileId = 104,
               kBrowseId = 105, kNoDirectId = 106;
// The filters' items: each label's id is its field's plus 20.
constexpr WORD kIncludeId = 107, kExcludeId = 108, kStopWordsFileId = 109, kStopWordsBrowseId = 110,
               kMustContainId = 111, kMinCharsId = 112, kMaxCharsId = 113, kLabelOffset = 20;
constexpr const char* kFilterProperty = "kelvarn.inputFilter";

// A dialog template in memory: the header, then the items, each on a
// DWORD boundary. Texts are left empty here and set through the A functions
// when the dialog starts, so that GBK is never converted by hand.
class DialogTemplate {
 public:
  DialogTemplate(DWORD style, int cx, int cy) {
    Put(style);
    Put(DWORD{0});  // extended style
    count_ = words_.size();
    Put(WORD{0});  // items, counted as they come
    for (const int v : {0, 0, cx, cy}) Put(static_cast<WORD>(v));
    Put(WORD{0});  // no menu
    Put(WORD{0});  // the standard dialog class
    Put(WORD{0});  // the title, set later
    Put(static_cast<WORD>(kInputFontPoints));
    // A template names its font in UTF-16.
    wchar_t face[LF_FACESIZE] = {};
    MultiByteToWideChar(936, 0, kInputFont.data(), static_cast<int>(kInputFont.size()), face, LF_FACESIZE - 1);
    for (const wchar_t* c = face; *c; ++c) Put(static_cast<WORD>(*c));
    Put(WORD{0});
  }

  void Item(WORD windowClass, WORD id, DWORD style, DialogRect place) {
    if (words_.size() % 2) Put(WORD{0});
    Put(style | WS_CHILD | WS_VISIBLE);
    Put(DWORD{0});
    for (const int v : {place.x, place.y, place.width, place.height}) Put(static_cast<WORD>(v));
    Put(id);
    Put(WORD{0xFFFF});
    Put(windowClass);
    Put(WORD{0});  // the text, set later
    Put(WORD{0});  // no creation data
    ++words_[count_];
  }

  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void Put(WORD w) { words_.push_back(w); }
  void Put(DWORD d) {
    Put(LOWORD(d));
    Put(HIWORD(d));
  }
  std::vector<WORD> words_;
  std::size_t count_ = 0;
};

Text WindowText(HWND hwnd) {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(hwnd)) + 1, '\0');
  text.resize(static_cast<std::size_t>(GetWindowTextA(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

struct InputState {
  std::string_view prompt, caption, initial;
  int mode;
  Text typed;
};

// Typed characters the input mode refuses; control characters always pass.
LRESULT CALLBACK FilterProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto original = reinterpret_cast<WNDPROC>(GetPropA(edit, kFilterProperty));
  if (message == WM_CHAR && !InputModeTakes(static_cast<std::int32_t>(GetWindowLongPtrA(edit, GWLP_USERDATA)),
                                            static_cast<std::uint32_t>(wParam))) {
    return 0;
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    RemovePropA(edit, kFilterProperty);
  }
  return CallWindowProcA(original, edit, message, wParam, lParam);
}

INT_PTR CALLBACK InputProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* state = reinterpret_cast<InputState*>(lParam);
    SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    SetWindowTextA(dialog, std::string(state->caption).c_str());
    SetDlgItemTextA(dialog, kPromptId, std::string(state->prompt).c_str());
    SetDlgItemTextA(dialog, IDOK, std::string(kInputConfirm).c_str());
    SetDlgItemTextA(dialog, IDCANCEL, std::string(kInputCancel).c_str());
    HWND entry = GetDlgItem(dialog, kEntryId);
    if (state->mode == 2 || state->mode == 3) {
      SetWindowLongPtrA(entry, GWLP_USERDATA, state->mode);
      SetPropA(
          entry, kFilterProperty,
          reinterpret_cast<HANDLE>(SetWindowLongPtrA(entry, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FilterProc))));
    }
    SetWindowTextA(entry, std::string(state->initial).c_str());  // not filtered: it was not typed
    SendMessageA(entry, EM_SETSEL, 0, -1);
    SendMessageA(entry, EM_SCROLLCARET, 0, 0);
    SetFocus(entry);
    return FALSE;  // the focus is set
  }
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    if (LOWORD(wParam) == IDOK) {
      auto* state = reinterpret_cast<InputState*>(GetWindowLongPtrA(dialog, DWLP_USER));
      state->typed = WindowText(GetDlgItem(dialog, kEntryId));
    }
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK PacingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    const auto* settings = reinterpret_cast<const HarvestSettings*>(lParam);
    SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    SetWindowTextA(dialog, std::string(kPacingCaption).c_str());
    SetDlgItemTextA(dialog, kPromptId, std::string(kPacingRateLabel).c_str());
    SetDlgItemTextA(dialog, kUniqueId, std::string(kPacingUnique).c_str());
    SetDlgItemTextA(dialog, kProxiesLabelId, std::string(kPacingProxiesLabel).c_str());
    SetDlgItemTextA(dialog, kBrowseId, std::string(kPacingBrowse).c_str());
    SetDlgItemTextA(dialog, kNoDirectId, std::string(kPacingNoDirect).c_str());
    SetDlgItemTextA(dialog, IDOK, std::string(kPacingConfirm).c_str());
    SetDlgItemTextA(dialog, IDCANCEL, std::string(kPacingCancel).c_str());
    CheckDlgButton(dialog, kUniqueId, settings->unique ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemTextA(dialog, kProxiesFileId, settings->proxiesFile.c_str());
    CheckDlgButton(dialog, kNoDirectId, settings->noDirect ? BST_CHECKED : BST_UNCHECKED);
    for (const auto& [id, label] : {std::pair{kIncludeId, kPacingIncludeLabel},
                                    {kExcludeId, kPacingExcludeLabel},
                                    {kStopWordsFileId, kPacingStopWordsLabel},
                                    {kMustContainId, kPacingMustContainLabel},
                                    {kMinCharsId, kPacingMinCharsLabel},
                                    {kMaxCharsId, kPacingMaxCharsLabel}}) {
      SetDlgItemTextA(dialog, id + kLabelOffset, std::string(label).c_str());
    }
    SetDlgItemTextA(dialog, kStopWordsBrowseId, std::string(kPacingBrowse).c_str());
    SetDlgItemTextA(dialog, kIncludeId, settings->include.c_str());
    SetDlgItemTextA(dialog, kExcludeId, settings->exclude.c_str());
    SetDlgItemTextA(dialog, kStopWordsFileId, settings->stopWordsFile.c_str());
    for (const std::string_view choice : kPacingMustContainChoices) {
      SendDlgItemMessageA(dialog, kMustContainId, CB_ADDSTRING, 0,
                          reinterpret_cast<LPARAM>(std::string(choice).c_str()));
    }
    SendDlgItemMessageA(dialog, kMustContainId, CB_SETCURSEL, MustContainChoice(settings->mustContain), 0);
    SetDlgItemTextA(dialog, kMinCharsId, settings->minChars.c_str());
    SetDlgItemTextA(dialog, kMaxCharsId, settings->maxChars.c_str());
    HWND entry = GetDlgItem(dialog, kEntryId);
    SetWindowTextA(entry, settings->rate.c_str());
    SendMessageA(entry, EM_SETSEL, 0, -1);
    SetFocus(entry);
    return FALSE;  // the focus is set
  }
  if (message == WM_COMMAND && (LOWORD(wParam) == kBrowseId || LOWORD(wParam) == kStopWordsBrowseId) &&
      HIWORD(wParam) == BN_CLICKED) {
    HWND file = GetDlgItem(dialog, LOWORD(wParam) == kBrowseId ? kProxiesFileId : kStopWordsFileId);
    if (const std::optional<FileChoice> chosen =
            Win32FileChooser(dialog, "txt")({FileDialog::kOpen, WindowText(file), kTextFileFilter})) {
      SetWindowTextA(file, chosen->path.c_str());
    }
    return TRUE;
  }
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    if (LOWORD(wParam) == IDOK) {
      auto* settings = reinterpret_cast<HarvestSettings*>(GetWindowLongPtrA(dialog, DWLP_USER));
      settings->rate = WindowText(GetDlgItem(dialog, kEntryId));
      settings->unique = IsDlgButtonChecked(dialog, kUniqueId) == BST_CHECKED;
      settings->proxiesFile = WindowText(GetDlgItem(dialog, kProxiesFileId));
      settings->noDirect = IsDlgButtonChecked(dialog, kNoDirectId) == BST_CHECKED;
      settings->include = WindowText(GetDlgItem(dialog, kIncludeId));
      settings->exclude = WindowText(GetDlgItem(dialog, kExcludeId));
      settings->stopWordsFile = WindowText(GetDlgItem(dialog, kStopWordsFileId));
      const LRESULT choice = SendDlgItemMessageA(dialog, kMustContainId, CB_GETCURSEL, 0, 0);
      settings->mustContain = Text(kPacingMustContainValues[choice >= 0 && choice < 3 ? choice : 0]);
      settings->minChars = WindowText(GetDlgItem(dialog, kMinCharsId));
      settings->maxChars = WindowText(GetDlgItem(dialog, kMaxCharsId));
    }
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

// Wine ends a message box that has neither OK nor Cancel (Yes/No,
// Abort/Retry/Ignore) with IDCANCEL on Escape or its close button, where
// Windows keeps it up: the box is held to its buttons. The hook lives for
// one MessageBoxA call and takes the first dialog its thread creates.
constexpr const char* kHoldProperty = "kelvarn.holdToButtons";
thread_local HHOOK boxWatch = nullptr;

LRESULT CALLBACK HoldToButtons(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto original = reinterpret_cast<WNDPROC>(GetPropA(box, kHoldProperty));
  if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL && !GetDlgItem(box, IDCANCEL) && !GetDlgItem(box, IDOK)) {
    return 0;
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    RemovePropA(box, kHoldProperty);
  }
  return CallWindowProcA(original, box, message, wParam, lParam);
}

LRESULT CALLBACK WatchForTheBox(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    HWND created = reinterpret_cast<HWND>(wParam);
    char name[16] = {};
    GetClassNameA(created, name, sizeof name);
    if (std::string_view(name) == "#32770") {
      SetPropA(created, kHoldProperty,
               reinterpret_cast<HANDLE>(
                   SetWindowLongPtrA(created, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&HoldToButtons))));
      UnhookWindowsHookEx(boxWatch);
      boxWatch = nullptr;
      return 0;
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void AddItems(HMENU menu, const std::vector<MenuItem>& items, std::vector<const MenuItem*>& byId) {
  for (const MenuItem& item : items) {
    if (item.caption == "-") {
      AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    } else if (!item.children.empty()) {
      HMENU sub = CreatePopupMenu();
      AddItems(sub, item.children, byId);
      AppendMenuA(menu, MF_STRING | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), item.caption.c_str());
    } else {
      byId.push_back(&item);
      AppendMenuA(menu, MF_STRING, byId.size(), item.caption.c_str());  // identifiers from 1: 0 is "nothing"
    }
  }
}

}  // namespace

UINT Win32Dialogs::MessageBoxFlags(std::int32_t flags) {
  const UINT given = static_cast<UINT>(flags);
  return (given & MB_SYSTEMMODAL) ? given : given | MB_TASKMODAL;
}

std::int32_t Win32Dialogs::MessageResult(int id) {
  switch (id) {
    case IDOK:
    case IDCANCEL:
    case IDABORT:
    case IDRETRY:
    case IDIGNORE:
    case IDYES:
    case IDNO:
    case IDTRYAGAIN:
    case IDCONTINUE:
      return id - 1;
    default:
      return kIdOk;
  }
}

std::int32_t Win32Dialogs::ShowMessage(const Value& content, std::int32_t flags,
                                       std::optional<std::string_view> caption) {
  const std::string title(caption.value_or(kDefaultMessageCaption));
  boxWatch = SetWindowsHookExA(WH_CBT, &WatchForTheBox, nullptr, GetCurrentThreadId());
  const int pressed = MessageBoxA(nullptr, MessageText(content).c_str(), title.c_str(), MessageBoxFlags(flags));
  if (boxWatch) UnhookWindowsHookEx(boxWatch);  // no box was made
  boxWatch = nullptr;
  // A box of OK alone has one answer however it is closed: Wine reports
  // Escape there as Cancel.
  return (flags & 0xF) == kMbOk ? kIdOk : MessageResult(pressed);
}

bool Win32Dialogs::InputBox(std::optional<std::string_view> prompt, std::optional<std::string_view> caption,
                            std::optional<std::string_view> initial, Value& variable,
                            std::optional<std::int32_t> mode) {
  InputState state{prompt.value_or(""), caption.value_or(kInputCaption), initial.value_or(""), InputMode(mode), {}};
  const DWORD entryStyle = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | (state.mode == 4 ? ES_PASSWORD : 0);
  const DWORD dialogStyle = DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
  const bool withPrompt = !state.prompt.empty();
  const InputBoxLayout& layout = withPrompt ? kInputWithPrompt : kInputWithoutPrompt;
  DialogTemplate form(dialogStyle, layout.width, layout.height);
  if (withPrompt) {
    form.Item(kStaticClass, static_cast<WORD>(-1), SS_SUNKEN, layout.frame);
    form.Item(kStaticClass, kPromptId, SS_LEFT, layout.prompt);
  }
  form.Item(kEditClass, kEntryId, entryStyle, layout.entry);
  form.Item(kButtonClass, IDOK, WS_TABSTOP | BS_DEFPUSHBUTTON, layout.confirm);
  form.Item(kButtonClass, IDCANCEL, WS_TABSTOP | BS_PUSHBUTTON, layout.cancel);
  const INT_PTR result = DialogBoxIndirectParamA(GetModuleHandleA(nullptr), form.Get(), owner_, &InputProc,
                                                 reinterpret_cast<LPARAM>(&state));
  if (result != IDOK) return false;
  StoreInput(state.typed, variable);
  return true;
}

bool Win32Dialogs::PacingDialog(HarvestSettings& settings) {
  HarvestSettings edited = settings;
  const PacingDialogLayout& layout = kPacingLayout;
  DialogTemplate form(DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU, layout.width,
                      layout.height);
  // In tab order.
  form.Item(kStaticClass, kPromptId, SS_LEFT, layout.label);
  form.Item(kEditClass, kEntryId, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, layout.rate);
  form.Item(kButtonClass, kUniqueId, WS_TABSTOP | BS_AUTOCHECKBOX, layout.unique);
  form.Item(kStaticClass, kProxiesLabelId, SS_LEFT, layout.proxiesLabel);
  form.Item(kEditClass, kProxiesFileId, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, layout.proxiesFile);
  form.Item(kButtonClass, kBrowseId, WS_TABSTOP | BS_PUSHBUTTON, layout.browse);
  form.Item(kButtonClass, kNoDirectId, WS_TABSTOP | BS_AUTOCHECKBOX, layout.noDirect);
  const auto edit = [&form](WORD id, DialogRect label, DialogRect place) {
    form.Item(kStaticClass, static_cast<WORD>(id + kLabelOffset), SS_LEFT, label);
    form.Item(kEditClass, id, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, place);
  };
  edit(kIncludeId, layout.includeLabel, layout.include);
  edit(kExcludeId, layout.excludeLabel, layout.exclude);
  edit(kStopWordsFileId, layout.stopWordsLabel, layout.stopWordsFile);
  form.Item(kButtonClass, kStopWordsBrowseId, WS_TABSTOP | BS_PUSHBUTTON, layout.stopWordsBrowse);
  form.Item(kStaticClass, static_cast<WORD>(kMustContainId + kLabelOffset), SS_LEFT, layout.mustContainLabel);
  // A drop-down list's height in a template is the list's when open.
  DialogRect list = layout.mustContain;
  list.height += 36;
  form.Item(kComboBoxClass, kMustContainId, WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, list);
  edit(kMinCharsId, layout.minCharsLabel, layout.minChars);
  edit(kMaxCharsId, layout.maxCharsLabel, layout.maxChars);
  form.Item(kButtonClass, IDOK, WS_TABSTOP | BS_DEFPUSHBUTTON, layout.confirm);
  form.Item(kButtonClass, IDCANCEL, WS_TABSTOP | BS_PUSHBUTTON, layout.cancel);
  if (DialogBoxIndirectParamA(GetModuleHandleA(nullptr), form.Get(), owner_, &PacingProc,
                              reinterpret_cast<LPARAM>(&edited)) != IDOK) {
    return false;
  }
  settings = std::move(edited);
  return true;
}

POINT Win32Dialogs::PopupPosition(POINT cursor, std::optional<std::int32_t> x, std::optional<std::int32_t> y) {
  return {x.value_or(cursor.x + 3), y.value_or(cursor.y + 3)};
}

void Win32Dialogs::PopupMenu(const Menu& menu, std::optional<std::int32_t> x, std::optional<std::int32_t> y) {
  if (menu.items.empty()) return;
  HMENU popup = CreatePopupMenu();
  std::vector<const MenuItem*> byId;
  AddItems(popup, menu.items, byId);
  POINT cursor{};
  GetCursorPos(&cursor);
  const POINT at = PopupPosition(cursor, x, y);
  // A menu needs an owner on this thread; without a window, a hidden one.
  HWND owner = owner_;
  HWND standIn = nullptr;
  if (!owner) {
    standIn = CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    owner = standIn;
  }
  // The owner in the foreground, so that a click elsewhere closes the menu.
  SetForegroundWindow(owner);
  const UINT chosen = static_cast<UINT>(
      TrackPopupMenu(popup, TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, at.x, at.y, 0, owner, nullptr));
  PostMessageA(owner, WM_NULL, 0, 0);
  DestroyMenu(popup);
  if (standIn) DestroyWindow(standIn);
  if (chosen >= 1 && chosen <= byId.size() && byId[chosen - 1]->chosen) byId[chosen - 1]->chosen();
}

void DispatchWindowMessage(MSG& message) {
  TranslateMessage(&message);
  DispatchMessageA(&message);
}

void Win32Dialogs::ProcessPendingMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE) && message.message != WM_QUIT) {
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) break;
    DispatchWindowMessage(message);
  }
}

}  // namespace kelvarn
