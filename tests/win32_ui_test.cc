// The Win32 components and dialogs under Wine (code page 936):
// what the controls show and what the operations return, many threads
// adding through the window thread, and the modal dialogs answered from a
// timer as a person would answer them.
#include <gtest/gtest.h>

#include "ui/win32/win32_components.h"
#include "ui/win32/win32_dialogs.h"

#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>

#include <cstdio>
#include <set>
#include <string>
#include <thread>

#include "frame/win32/win32_frame.h"

namespace kelvarn {
namespace {

// "关键字", "请输入：".
constexpr std::string_view kKeyword = "\xB9\xD8\xBC\xFC\xD7\xD6";
constexpr std::string_view kInputTitle = "\xC7\xEB\xCA\xE4\xC8\xEB\xA3\xBA";

Text TextOf(HWND hwnd) {
  char buffer[512] = {};
  GetWindowTextA(hwnd, buffer, sizeof buffer);
  return buffer;
}

void Pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchWindowMessage(message);
}

// Runs `act` on the first window of `windowClass` this thread shows and
// takes input in (not one a modal dialog above it disables), from a timer
// that the modal loop showing it dispatches.
std::function<void(HWND)> whenShown;
const char* shownClass = "#32770";
void CALLBACK LookForWindow(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND found = nullptr;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND hwnd, LPARAM out) -> BOOL {
        char name[32] = {};
        GetClassNameA(hwnd, name, sizeof name);
        if (std::string_view(name) != shownClass || !IsWindowVisible(hwnd) || !IsWindowEnabled(hwnd)) return TRUE;
        *reinterpret_cast<HWND*>(out) = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  if (!found || !whenShown) return;
  KillTimer(nullptr, timer);
  std::function<void(HWND)> act = std::move(whenShown);
  whenShown = nullptr;
  act(found);
}
void WhenShown(std::function<void(HWND)> act, const char* windowClass = "#32770") {
  whenShown = std::move(act);
  shownClass = windowClass;
  SetTimer(nullptr, 0, 30, &LookForWindow);
}

// A top-level window to hold the controls under test; it hands the
// controls' notifications back to them.
class Win32UiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(936u, GetACP());
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = [](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
      LRESULT result = 0;
      return ReflectToControl(message, wParam, lParam, result) ? result : DefWindowProcA(hwnd, message, wParam, lParam);
    };
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KelvarnTestHost";
    RegisterClassA(&windowClass);
    host_ = CreateWindowExA(0, windowClass.lpszClassName, "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 400,
                            nullptr, nullptr, windowClass.hInstance, nullptr);
    // Error 1400 (no window): no display, and Wine's null driver not chosen.
    if (!host_) GTEST_SKIP() << "no display for windows (error " << GetLastError() << ")";
    const INITCOMMONCONTROLSEX common{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
    InitCommonControlsEx(&common);
  }
  void TearDown() override {
    if (host_) DestroyWindow(host_);
  }

  // Keeps the window thread serving until `done` holds.
  template <class F>
  void PumpUntil(F done) {
    while (!done()) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
      Pump();
    }
  }

  Win32UiThread ui_;
  HWND host_ = nullptr;
};

TEST_F(Win32UiTest, ListBoxItemsReachTheControlInBatches) {
  Win32ListBox box(ui_, host_, {0, 0, 160, 200}, 10, true);
  ListBox& list = box.Operations();
  EXPECT_EQ(0, list.AddItem(kKeyword));
  EXPECT_EQ(1, list.AddItem(""));  // an empty row
  EXPECT_EQ(2, list.AddItem(kKeyword, 7));
  EXPECT_EQ(3, list.ItemCount());
  EXPECT_EQ(kKeyword, list.ItemText(2));
  EXPECT_EQ("", list.ItemText(-1));
  EXPECT_EQ("", list.ItemText(3));
  EXPECT_EQ(7, box.ValueAt(2));
  // The control holds no strings, only the count, and learns it at the next batch.
  EXPECT_EQ(0, SendMessageA(box.Handle(), LB_GETCOUNT, 0, 0));
  PumpUntil([&] { return box.Published() == 3; });
  EXPECT_EQ(3, SendMessageA(box.Handle(), LB_GETCOUNT, 0, 0));
  EXPECT_EQ(0, GetWindowLongA(box.Handle(), GWL_STYLE) & LBS_HASSTRINGS);
  list.ClearItems();
  EXPECT_EQ(0, list.ItemCount());
  EXPECT_EQ(0, SendMessageA(box.Handle(), LB_GETCOUNT, 0, 0));
}

TEST_F(Win32UiTest, ExtendedSelectionKeepsHighlightSingleSelectionSelects) {
  Win32ListBox extended(ui_, host_, {0, 0, 160, 100}, 10, true);
  for (int i = 0; i < 50; ++i) extended.Operations().AddItem(std::to_string(i));
  extended.Publish();
  SendMessageA(extended.Handle(), LB_SETSEL, TRUE, 3);  // the user's highlight
  const LRESULT top = SendMessageA(extended.Handle(), LB_GETTOPINDEX, 0, 0);
  extended.Operations().SetCurrentSelection(40);
  extended.Operations().AddItem("more");
  extended.Publish();
  EXPECT_EQ(40, extended.Operations().CurrentSelection());
  EXPECT_EQ(1, SendMessageA(extended.Handle(), LB_GETSELCOUNT, 0, 0));
  EXPECT_GT(SendMessageA(extended.Handle(), LB_GETSEL, 3, 0), 0);
  EXPECT_EQ(top, SendMessageA(extended.Handle(), LB_GETTOPINDEX, 0, 0));

  Win32ListBox single(ui_, host_, {0, 100, 160, 100}, 11, false);
  for (const char* t : {"a", "b", "c"}) single.Operations().AddItem(t);
  single.Operations().SetCurrentSelection(10);
  EXPECT_EQ(2, single.Operations().CurrentSelection());
  single.Publish();
  EXPECT_EQ(2, SendMessageA(single.Handle(), LB_GETCURSEL, 0, 0));
  single.Operations().SetCurrentSelection(-5);
  EXPECT_EQ(-1, single.Operations().CurrentSelection());
  single.Publish();
  EXPECT_EQ(LB_ERR, SendMessageA(single.Handle(), LB_GETCURSEL, 0, 0));
}

// Find, copy and sort as the window's keys and menu call them: the control's
// highlight and caret, and Unicode text on the clipboard, CR LF between lines.
TEST_F(Win32UiTest, FindCopyAndSortReachTheControlAndTheClipboard) {
  Win32ListBox box(ui_, host_, {0, 0, 160, 100}, 10, true);
  ListBox& list = box.Operations();
  for (int i = 0; i < 50; ++i) list.AddItem(std::to_string(49 - i));
  list.AddItem(kKeyword);
  EXPECT_EQ(50, list.FindItem("\xBC\xFC"));  // 键, in a row not yet handed to the control
  EXPECT_EQ(1, SendMessageA(box.Handle(), LB_GETSELCOUNT, 0, 0));
  EXPECT_EQ(50, SendMessageA(box.Handle(), LB_GETCARETINDEX, 0, 0));
  EXPECT_EQ(45, list.FindItem("4", true));  // "4", the first before it
  EXPECT_EQ(0, SendMessageA(box.Handle(), LB_GETSEL, 50, 0));

  const auto clipboard = [] {
    std::wstring text;
    if (!OpenClipboard(nullptr)) return text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
      text = static_cast<const wchar_t*>(GlobalLock(data));
      GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
  };
  SendMessageA(box.Handle(), LB_SETSEL, TRUE, 0);  // the user adds "49"
  EXPECT_EQ(2, list.CopyItems());
  EXPECT_EQ(L"49\r\n4", clipboard());
  EXPECT_EQ(51, list.CopyItems(true));
  const std::wstring all = clipboard();
  EXPECT_EQ(193u, all.size());
  EXPECT_TRUE(all.ends_with(L"\r\n1\r\n0\r\n\x5173\x952E\x5B57")) << all.size();  // 关键字

  list.SortItems(ItemOrder::kByLength);
  const TextArray sorted = list.Items();
  EXPECT_EQ((TextArray{"0", "1"}), TextArray(sorted.begin(), sorted.begin() + 2));
  EXPECT_EQ("10", sorted[10]);
  EXPECT_EQ(kKeyword, sorted.back());
  EXPECT_EQ(0, SendMessageA(box.Handle(), LB_GETSELCOUNT, 0, 0));  // the rows hold other items now
  EXPECT_EQ(51, SendMessageA(box.Handle(), LB_GETCOUNT, 0, 0));
}

TEST_F(Win32UiTest, TwentyThreadsAddingThroughTheWindowThreadLoseNothing) {
  Win32ListBox box(ui_, host_, {0, 0, 160, 200}, 10, true);
  constexpr int kThreads = 20, kEach = 500;
  std::atomic<int> finished{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        const std::int32_t at = box.Operations().AddItem(std::to_string(t * kEach + i));
        box.Operations().SetCurrentSelection(at);
      }
      finished.fetch_add(1);
    });
  }
  PumpUntil([&] { return finished.load() == kThreads; });
  for (auto& thread : threads) thread.join();
  PumpUntil([&] { return box.Published() == kThreads * kEach; });
  std::set<Text> seen;
  for (int i = 0; i < kThreads * kEach; ++i) seen.insert(box.Operations().ItemText(i));
  EXPECT_EQ(static_cast<std::size_t>(kThreads * kEach), seen.size());
  EXPECT_EQ(kThreads * kEach, SendMessageA(box.Handle(), LB_GETCOUNT, 0, 0));
}

TEST_F(Win32UiTest, EditBoxRaisesContentChangedOncePerChange) {
  Win32EditBox box(ui_, host_, {0, 0, 100, 24}, 10);
  int changes = 0;
  Text seenInHandler;
  box.Operations().OnContentChanged([&] {
    ++changes;
    seenInHandler = TextOf(box.Handle());
  });
  std::thread other([&] { box.Operations().SetContent("20"); });
  PumpUntil([&] { return changes == 1; });
  other.join();
  EXPECT_EQ("20", seenInHandler);  // raised after the new text is in place
  SendMessageA(box.Handle(), EM_SETSEL, 2, 2);
  SendMessageA(box.Handle(), WM_CHAR, '5', 0);  // the user types
  EXPECT_EQ(2, changes);
  EXPECT_EQ("205", box.Operations().Content());
  // Bytes the code page has no character for read back as they were set.
  box.Operations().SetContent("\x80\xFF");
  EXPECT_EQ(3, changes);
  EXPECT_EQ("\x80\xFF", box.Operations().Content());
}

TEST_F(Win32UiTest, ButtonAndStatusBar) {
  Win32Button button(ui_, host_, {0, 0, 100, 24}, 10, kKeyword);
  int clicks = 0;
  button.OnClicked([&] { ++clicks; });
  EXPECT_EQ(kKeyword, button.Operations().Caption());
  button.Operations().SetCaption("\xCD\xA3\xD6\xB9");  // 停止
  EXPECT_EQ("\xCD\xA3\xD6\xB9", TextOf(button.Handle()));
  SendMessageA(button.Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(1, clicks);

  Win32StatusBar bar(ui_, host_, {0, 300, 377, 20}, 11);
  StatusBar& status = bar.Operations();
  status.SetPanelText(0, kKeyword);
  status.SetPanelText(1, "x");  // one panel only
  EXPECT_EQ(kKeyword, status.PanelText(0));
  EXPECT_EQ("", status.PanelText(1));
  char shown[64] = {};
  SendMessageA(bar.Handle(), SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(shown));
  EXPECT_EQ(kKeyword, Text(shown));
  EXPECT_EQ(1, SendMessageA(bar.Handle(), SB_GETPARTS, 0, 0));
  status.SetProgressText("3/10");
  EXPECT_EQ(2, SendMessageA(bar.Handle(), SB_GETPARTS, 0, 0));
  SendMessageA(bar.Handle(), SB_GETTEXTA, 1, reinterpret_cast<LPARAM>(shown));
  EXPECT_EQ("3/10", Text(shown));
  EXPECT_EQ("3/10", status.ProgressText());
  status.SetProgressText("");
  EXPECT_EQ(1, SendMessageA(bar.Handle(), SB_GETPARTS, 0, 0));
  SendMessageA(bar.Handle(), SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(shown));
  EXPECT_EQ(kKeyword, Text(shown));  // the panel keeps its text
}

TEST_F(Win32UiTest, FileDialogCancelKeepsTheNameConfirmedSetsIt) {
  constexpr char kFilter[] = "TXT\xCE\xC4\xBC\xFE\0*.txt\0\xCB\xF9\xD3\xD0\xCE\xC4\xBC\xFE\0*.*\0";
  EXPECT_EQ(std::string(kFilter, sizeof kFilter - 1), Win32Filter(kTextFileFilter));
  char folder[MAX_PATH] = {};
  GetTempPathA(sizeof folder, folder);
  const std::string existing = std::string(folder) + "kelvarn_open.txt";
  std::fclose(std::fopen(existing.c_str(), "wb"));
  GuardedFileDialog dialog(ui_, Win32FileChooser(host_, "txt"));
  const auto answer = [](std::string name) {
    WhenShown([name](HWND box) {
      SendMessageA(box, CDM_SETCONTROLTEXT, cmb13, reinterpret_cast<LPARAM>(name.c_str()));
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
  };
  answer(existing);
  EXPECT_TRUE(dialog.ShowFileDialog());
  EXPECT_EQ(existing, dialog.FileName());

  WhenShown([](HWND box) { PostMessageA(box, WM_COMMAND, IDCANCEL, 0); });
  EXPECT_FALSE(dialog.ShowFileDialog());
  EXPECT_EQ(existing, dialog.FileName());

  // Saving to a file that is not there yet is allowed; a name typed without
  // an extension gets the default one.
  dialog.SetType(FileDialog::kSave);
  const std::string fresh = std::string(folder) + "kelvarn_new.txt";
  DeleteFileA(fresh.c_str());
  answer(std::string(folder) + "kelvarn_new");
  EXPECT_TRUE(dialog.ShowFileDialog());
  EXPECT_EQ(fresh, dialog.FileName());
  EXPECT_EQ(1, dialog.FilterIndex());
  // ... or that of the type the user picks, and the type is told.
  dialog.SetFilter("TXT|*.txt|CSV|*.csv|*|*.*");
  WhenShown([folder = std::string(folder)](HWND box) {
    SendDlgItemMessageA(box, cmb1, CB_SETCURSEL, 1, 0);
    for (const WORD picked : {CBN_SELCHANGE, CBN_SELENDOK}) {  // as a click in the list sends them
      SendMessageA(box, WM_COMMAND, MAKEWPARAM(cmb1, picked), reinterpret_cast<LPARAM>(GetDlgItem(box, cmb1)));
    }
    SendMessageA(box, CDM_SETCONTROLTEXT, cmb13, reinterpret_cast<LPARAM>((folder + "kelvarn_new").c_str()));
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  });
  EXPECT_TRUE(dialog.ShowFileDialog());
  EXPECT_EQ(std::string(folder) + "kelvarn_new.csv", dialog.FileName());
  EXPECT_EQ(2, dialog.FilterIndex());
  DeleteFileA(existing.c_str());
}

TEST_F(Win32UiTest, MessageBoxButtonsCaptionAndResults) {
  Win32Dialogs dialogs(host_);
  Text caption, text;
  const auto press = [&](int button) {
    WhenShown([&, button](HWND box) {
      caption = TextOf(box);
      text = TextOf(GetDlgItem(box, 0xFFFF));
      SendMessageA(GetDlgItem(box, button), BM_CLICK, 0, 0);
    });
  };
  press(IDOK);
  EXPECT_EQ(kIdOk, dialogs.ShowMessage(std::int32_t{5}, kMbOkCancel | kMbIconQuestion));
  EXPECT_EQ(kDefaultMessageCaption, caption);
  EXPECT_EQ("5", text);
  press(IDCANCEL);
  EXPECT_EQ(kIdCancel, dialogs.ShowMessage(Text(kKeyword), kMbOkCancel | kMbIconQuestion, kKeyword));
  EXPECT_EQ(kKeyword, caption);
  EXPECT_EQ(kKeyword, text);
  press(IDNO);
  EXPECT_EQ(kIdNo, dialogs.ShowMessage(Text("?"), kMbYesNoCancel));

  // Escape (dialog navigation sends IDCANCEL) answers OK on a box of OK
  // alone and does nothing where there is neither OK nor Cancel.
  bool stayed = false;
  const auto escape = [&](int thenPress) {
    WhenShown([&, thenPress](HWND box) {
      SendMessageA(box, WM_COMMAND, IDCANCEL, 0);
      stayed = IsWindowVisible(box);  // a box that ends hides at once
      if (stayed) SendMessageA(GetDlgItem(box, thenPress), BM_CLICK, 0, 0);
    });
  };
  escape(IDOK);
  EXPECT_EQ(kIdOk, dialogs.ShowMessage(Text("?"), kMbOk));
  escape(IDYES);
  EXPECT_EQ(kIdYes, dialogs.ShowMessage(Text("?"), kMbYesNo));
  EXPECT_TRUE(stayed);
  escape(IDRETRY);
  EXPECT_EQ(kIdRetry, dialogs.ShowMessage(Text("?"), kMbAbortRetryIgnore));
  EXPECT_TRUE(stayed);

  EXPECT_EQ(UINT{MB_OKCANCEL | MB_ICONQUESTION | MB_TASKMODAL},
            Win32Dialogs::MessageBoxFlags(kMbOkCancel | kMbIconQuestion));
  EXPECT_EQ(UINT{MB_OK | MB_SYSTEMMODAL}, Win32Dialogs::MessageBoxFlags(kMbSystemModal));
  EXPECT_EQ(kIdTryAgain, Win32Dialogs::MessageResult(IDTRYAGAIN));
  EXPECT_EQ(kIdContinue, Win32Dialogs::MessageResult(IDCONTINUE));
  EXPECT_EQ(kIdOk, Win32Dialogs::MessageResult(0));  // a box that could not be shown
}

// The input box and the harvest settings: what they show, what typing
// enters, and what OK stores and Cancel keeps.
TEST_F(Win32UiTest, InputBoxAndPacingDialog) {
  Win32Dialogs dialogs(host_);
  struct Seen {
    Text caption, prompt, entry, font;
    bool masked = false;
    RECT client{};
  } seen;
  const auto answer = [&](std::string typed, int button) {
    WhenShown([&seen, typed, button](HWND box) {
      HWND entry = GetDlgItem(box, 101);
      seen.caption = TextOf(box);
      seen.prompt = TextOf(GetDlgItem(box, 100));
      seen.entry = TextOf(entry);
      seen.masked = (GetWindowLongA(entry, GWL_STYLE) & ES_PASSWORD) != 0;
      LOGFONTA font{};
      GetObjectA(reinterpret_cast<HFONT>(SendMessageA(box, WM_GETFONT, 0, 0)), sizeof font, &font);
      seen.font = font.lfFaceName;
      GetClientRect(box, &seen.client);
      for (const char c : typed) SendMessageA(entry, WM_CHAR, static_cast<unsigned char>(c), 0);
      PostMessageA(box, WM_COMMAND, button, 0);
    });
  };
  // Mode 2 takes digits and "-" only from the keyboard; an integer
  // variable reads the text as a number.
  Value number = std::int32_t{0};
  answer("a-1.2", IDOK);
  EXPECT_TRUE(dialogs.InputBox(kKeyword, std::nullopt, "3", number, 2));
  EXPECT_EQ(Value(std::int32_t{-12}), number);  // the initial "3" was selected and replaced
  EXPECT_EQ(kInputTitle, seen.caption);
  EXPECT_EQ(kKeyword, seen.prompt);
  EXPECT_EQ("3", seen.entry);
  EXPECT_EQ("\xCB\xCE\xCC\xE5", seen.font);  // 宋体
  EXPECT_FALSE(seen.masked);
  const LONG bigWidth = seen.client.right;

  Value text = Text("old");
  answer("x", IDCANCEL);
  EXPECT_FALSE(dialogs.InputBox(std::nullopt, kKeyword, std::nullopt, text, 9));
  EXPECT_EQ(Value(Text("old")), text);
  EXPECT_EQ(kKeyword, seen.caption);
  EXPECT_TRUE(seen.masked);                // mode 9 is clamped to 4
  EXPECT_LT(seen.client.right, bigWidth);  // no prompt: the smaller layout

  answer("1.5", IDOK);
  Value real = 0.0;
  EXPECT_TRUE(dialogs.InputBox(std::nullopt, std::nullopt, std::nullopt, real, 3));
  EXPECT_EQ(Value(1.5), real);

  // The harvest settings come up as given, the rate selected: typing replaces
  // it, a click on a check box ticks it, and the browse button fills in the
  // proxies file through the open dialog.
  char folder[MAX_PATH] = {};
  GetTempPathA(sizeof folder, folder);
  const std::string list = std::string(folder) + "\xB4\xFA\xC0\xED.txt";  // 代理.txt
  std::fclose(std::fopen(list.c_str(), "wb"));
  std::vector<Text> shown;
  const auto pacing = [&](std::string typed, int button) {
    WhenShown([&shown, &list, typed, button](HWND box) {
      HWND entry = GetDlgItem(box, 101), once = GetDlgItem(box, 102), noDirect = GetDlgItem(box, 106);
      const auto tick = [box](int id) -> Text {
        return IsDlgButtonChecked(box, id) == BST_CHECKED ? "ticked" : "clear";
      };
      shown = {TextOf(box),      TextOf(GetDlgItem(box, 100)),
               TextOf(once),     TextOf(GetDlgItem(box, 103)),
               TextOf(noDirect), TextOf(entry),
               tick(102),        TextOf(GetDlgItem(box, 104)),
               tick(106)};
      for (const char c : typed) SendMessageA(entry, WM_CHAR, static_cast<unsigned char>(c), 0);
      SendMessageA(once, BM_CLICK, 0, 0);
      SendMessageA(noDirect, BM_CLICK, 0, 0);
      // The filters: 包含词(用逗号分隔): over its field, the third choice of 必须包含.
      shown.push_back(TextOf(GetDlgItem(box, 127)));
      SetWindowTextA(GetDlgItem(box, 107),
                     "a\xA3\xAC"
                     "b");  // a，b
      SendMessageA(GetDlgItem(box, 111), CB_SETCURSEL, 2, 0);
      for (const char c : std::string("2"))
        SendMessageA(GetDlgItem(box, 112), WM_CHAR, static_cast<unsigned char>(c), 0);
      // The open dialog comes up over the settings, which are found again
      // until it shows.
      std::function<void(HWND)> choose = [box, &list, &choose](HWND chooser) {
        if (chooser == box) return WhenShown(choose);
        SendMessageA(chooser, CDM_SETCONTROLTEXT, cmb13, reinterpret_cast<LPARAM>(list.c_str()));
        PostMessageA(chooser, WM_COMMAND, IDOK, 0);
      };
      WhenShown(choose);
      SendMessageA(GetDlgItem(box, 105), BM_CLICK, 0, 0);
      PostMessageA(box, WM_COMMAND, button, 0);
    });
  };
  HarvestSettings settings{.rate = "0"};
  pacing("30", IDOK);
  EXPECT_TRUE(dialogs.PacingDialog(settings));
  // 采集设置, 每分钟请求数(0为不限,auto为自动):, 每个短语只采一次,
  // 代理列表文件(每行一个代理):, 不直连(只用代理)
  EXPECT_EQ((std::vector<Text>{
                "\xB2\xC9\xBC\xAF\xC9\xE8\xD6\xC3",
                "\xC3\xBF\xB7\xD6\xD6\xD3\xC7\xEB\xC7\xF3\xCA\xFD(0\xCE\xAA\xB2\xBB\xCF\xDE,"
                "auto\xCE\xAA\xD7\xD4\xB6\xAF):",
                "\xC3\xBF\xB8\xF6\xB6\xCC\xD3\xEF\xD6\xBB\xB2\xC9\xD2\xBB\xB4\xCE",
                "\xB4\xFA\xC0\xED\xC1\xD0\xB1\xED\xCE\xC4\xBC\xFE(\xC3\xBF\xD0\xD0\xD2\xBB\xB8\xF6\xB4\xFA\xC0\xED):",
                "\xB2\xBB\xD6\xB1\xC1\xAC(\xD6\xBB\xD3\xC3\xB4\xFA\xC0\xED)", "0", "clear", "", "clear",
                "\xB0\xFC\xBA\xAC\xB4\xCA(\xD3\xC3\xB6\xBA\xBA\xC5\xB7\xD6\xB8\xF4):"}),
            shown);
  const HarvestSettings confirmed{"30",
                                  true,
                                  list,
                                  true,
                                  "a\xA3\xAC"
                                  "b",
                                  "",
                                  "",
                                  "root-words",
                                  "2",
                                  ""};
  EXPECT_EQ(confirmed, settings);
  pacing("auto", IDCANCEL);
  EXPECT_FALSE(dialogs.PacingDialog(settings));
  EXPECT_EQ((std::vector<Text>{"30", "ticked", list, "ticked"}),
            std::vector<Text>(shown.begin() + 5, shown.begin() + 9));
  EXPECT_EQ(confirmed, settings);
  DeleteFileA(list.c_str());
}

TEST_F(Win32UiTest, PopupMenuChoosesAnItemOrNothing) {
  Win32Dialogs dialogs(host_);
  std::vector<std::string> chosen;
  const Menu menu{"m",
                  {{"\xCC\xED\xBC\xD3", [&] { chosen.push_back("add"); }, {}},
                   {"-", nullptr, {}},
                   {"\xC7\xE5\xBF\xD5", [&] { chosen.push_back("clear"); }, {}}}};
  WhenShown(
      [](HWND menuWindow) {
        PostMessageA(menuWindow, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageA(menuWindow, WM_KEYDOWN, VK_DOWN, 0);  // over the separator
        PostMessageA(menuWindow, WM_KEYDOWN, VK_RETURN, 0);
      },
      "#32768");
  dialogs.PopupMenu(menu, 10, 10);
  EXPECT_EQ(std::vector<std::string>{"clear"}, chosen);

  WhenShown([](HWND) { EndMenu(); }, "#32768");
  dialogs.PopupMenu(menu);
  EXPECT_EQ(1u, chosen.size());  // closed without a choice

  dialogs.PopupMenu(Menu{"empty", {}});  // shows nothing, returns at once
  const POINT at = Win32Dialogs::PopupPosition({100, 200}, std::nullopt, 7);
  EXPECT_EQ(103, at.x);
  EXPECT_EQ(7, at.y);
}

}  // namespace
}  // namespace kelvarn
