// Modal interaction: message box, input box, the harvest settings, pop-up
// menus, and letting the window handle pending events during a long loop. All
// of them belong to the window thread. Nothing here includes Qt.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/value.h"

namespace kelvarn {

// Message-box flags, as the classic message box takes them.
enum : std::int32_t {
  kMbOk = 0x0,
  kMbOkCancel = 0x1,
  kMbAbortRetryIgnore = 0x2,
  kMbYesNoCancel = 0x3,
  kMbYesNo = 0x4,
  kMbRetryCancel = 0x5,
  kMbCancelTryContinue = 0x6,
  kMbIconError = 0x10,
  kMbIconQuestion = 0x20,
  kMbIconWarning = 0x30,
  kMbIconInformation = 0x40,
  kMbSystemModal = 0x1000,
};
// ShowMessage results: the button pressed, its classic identifier less one.
enum : std::int32_t {
  kIdOk = 0,
  kIdCancel = 1,
  kIdAbort = 2,
  kIdRetry = 3,
  kIdIgnore = 4,
  kIdYes = 5,
  kIdNo = 6,
  kIdTryAgain = 9,
  kIdContinue = 10,
};

// "信息：": the message box's caption when none is given.
inline constexpr std::string_view kDefaultMessageCaption = "\xD0\xC5\xCF\xA2\xA3\xBA";

struct MenuItem {
  Text caption;                  // GBK; "-" is a separator line
  std::function<void()> chosen;  // null: nothing happens
  std::vector<MenuItem> children;
};

struct Menu {
  std::string name;
  std::vector<MenuItem> items;
};

// What the harvest settings dialog edits. The rate and the file are as typed,
// not checked here.
struct HarvestSettings {
  Text rate{};          // GBK: "0", "auto" or requests a minute
  bool unique = false;  // each phrase asked once
  // The file of proxies, one a line: a file-system path in the platform's own
  // encoding (GBK on Windows); empty for none.
  std::string proxiesFile{};
  bool noDirect = false;  // only through the proxies, never the direct route
  // The filters as typed: words parted by commas, a stop-word file (a path
  // as the proxies file is), "" / "seed" / "root-words" for what a phrase
  // must contain, and its bounds in characters ("0" or empty: none).
  Text include{}, exclude{};
  std::string stopWordsFile{};
  Text mustContain{}, minChars{}, maxChars{};

  bool operator==(const HarvestSettings&) const = default;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // Shows `content` (numbers, texts, booleans and dates as ToText gives them;
  // anything else as empty text) with the buttons and icon of `flags`, task
  // modal unless system modal, captioned "信息：" unless `caption` is given.
  // Returns the button pressed (kIdOk ... kIdContinue), kIdOk for anything
  // else. Escape presses Cancel, or OK on a box of OK alone; on a box without
  // either (Yes/No, Abort/Retry/Ignore) it does nothing.
  virtual std::int32_t ShowMessage(const Value& content, std::int32_t flags,
                                   std::optional<std::string_view> caption = std::nullopt) = 0;

  // Asks for one line. Mode 1 (default) takes anything; 2 only digits and
  // "-"; 3 digits, "-" and "."; 4 anything, masked; others are clamped to
  // 1..4. The filter applies to typed characters only. Confirmed: stores the
  // text in `variable` by its kind (a text, or read as an integer of its width,
  // a long integer or a floating-point number) and returns true. Cancelled:
  // `variable` unchanged, false.
  virtual bool InputBox(std::optional<std::string_view> prompt, std::optional<std::string_view> caption,
                        std::optional<std::string_view> initial, Value& variable,
                        std::optional<std::int32_t> mode = std::nullopt) = 0;

  // The harvest settings. Shows them as given; a browse button beside the
  // proxies file picks an existing file. OK stores what the dialog holds into
  // `settings` and returns true; Cancel leaves it unchanged and returns false.
  virtual bool PacingDialog(HarvestSettings& settings) = 0;

  // Shows the items of `menu` 3 pixels right of and below the mouse cursor
  // (x or y, when given, replace those coordinates); a chosen item runs its
  // handler. A menu without items shows nothing.
  virtual void PopupMenu(const Menu& menu, std::optional<std::int32_t> x = std::nullopt,
                         std::optional<std::int32_t> y = std::nullopt) = 0;

  // Lets the window handle the events waiting now, then returns.
  virtual void ProcessPendingMessages() = 0;
};

// What a message box shows for `content`: numbers, texts, booleans and dates
// as ToText gives them, anything else as the empty text.
Text MessageText(const Value& content);

// The text an input box stores into a variable of `variable`'s kind.
void StoreInput(std::string_view typed, Value& variable);

}  // namespace kelvarn
