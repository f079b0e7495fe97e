// Dialogs on Qt Widgets (ui/dialogs.h), owned by a window.
#pragma once

#include <QPoint>
#include <QWidget>

#include "ui/dialogs.h"

namespace kelvarn {

class QtDialogs final : public Dialogs {
 public:
  // `window` owns the pop-up menus; message boxes and the other dialogs have
  // no owner.
  explicit QtDialogs(QWidget* window = nullptr) : window_(window) {}
  std::int32_t ShowMessage(const Value& content, std::int32_t flags,
                           std::optional<std::string_view> caption = std::nullopt) override;
  bool InputBox(std::optional<std::string_view> prompt, std::optional<std::string_view> caption,
                std::optional<std::string_view> initial, Value& variable,
                std::optional<std::int32_t> mode = std::nullopt) override;
  bool PacingDialog(HarvestSettings& settings) override;
  void PopupMenu(const Menu& menu, std::optional<std::int32_t> x = std::nullopt,
                 std::optional<std::int32_t> y = std::nullopt) override;
  void ProcessPendingMessages() override;

  // Where a pop-up menu opens for the cursor and the given coordinates.
  static QPoint PopupPosition(QPoint cursor, std::optional<std::int32_t> x, std::optional<std::int32_t> y);

 private:
  QWidget* window_;
};

}  // namespace kelvarn
