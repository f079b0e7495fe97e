// Dialogs on Win32 (ui/dialogs.h), through the ANSI functions: MessageBoxA,
// an input box and the harvest settings built in memory, TrackPopupMenu.
// Window thread only.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#undef CreateWindow

#include "ui/dialogs.h"

namespace kelvarn {

class Win32Dialogs final : public Dialogs {
 public:
  // `owner` owns the pop-up menus, the input box and the harvest settings;
  // message boxes have none.
  explicit Win32Dialogs(HWND owner = nullptr) : owner_(owner) {}
  void SetOwner(HWND owner) { owner_ = owner; }

  std::int32_t ShowMessage(const Value& content, std::int32_t flags,
                           std::optional<std::string_view> caption = std::nullopt) override;
  bool InputBox(std::optional<std::string_view> prompt, std::optional<std::string_view> caption,
                std::optional<std::string_view> initial, Value& variable,
                std::optional<std::int32_t> mode = std::nullopt) override;
  bool PacingDialog(HarvestSettings& settings) override;
  void PopupMenu(const Menu& menu, std::optional<std::int32_t> x = std::nullopt,
                 std::optional<std::int32_t> y = std::nullopt) override;
  void ProcessPendingMessages() override;

  // MessageBoxA's flags for ShowMessage's: task modal unless system modal.
  static UINT MessageBoxFlags(std::int32_t flags);
  // ShowMessage's result for MessageBoxA's: the identifier less one, 0 for
  // anything but the buttons of ui/dialogs.h.
  static std::int32_t MessageResult(int id);
  // Where a pop-up menu opens for the cursor and the given coordinates.
  static POINT PopupPosition(POINT cursor, std::optional<std::int32_t> x, std::optional<std::int32_t> y);

 private:
  HWND owner_;
};

// One retrieved message through the pump, as the frame's message loop
// handles it: translated and dispatched. The controls move the focus on Tab
// themselves, so no dialog navigation is needed here.
void DispatchWindowMessage(MSG& message);

}  // namespace kelvarn
