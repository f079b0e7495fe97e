#include "ui/qt/qt_dialogs.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>

#include "ui/qt/gbk.h"

namespace kelvarn {
namespace {

// "请输入：", "确认输入(&O)", "取消(&C)", "宋体".
constexpr std::string_view kInputTitle = "\xC7\xEB\xCA\xE4\xC8\xEB\xA3\xBA";
constexpr std::string_view kConfirm = "\xC8\xB7\xC8\xCF\xCA\xE4\xC8\xEB(&O)";
constexpr std::string_view kCancel = "\xC8\xA1\xCF\xFB(&C)";
constexpr std::string_view kInputFont = "\xCB\xCE\xCC\xE5";
// Buttons Qt has no standard one for: "重试(&T)", "继续(&C)".
constexpr std::string_view kTryAgain = "\xD6\xD8\xCA\xD4(&T)";
constexpr std::string_view kContinue = "\xBC\xCC\xD0\xF8(&C)";

// Typed characters the input mode refuses; control characters always pass.
class InputFilter final : public QObject {
 public:
  InputFilter(QObject* parent, int mode) : QObject(parent), mode_(mode) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress && (mode_ == 2 || mode_ == 3)) {
      const QString text = static_cast<QKeyEvent*>(event)->text();
      if (!text.isEmpty() && text.at(0).unicode() >= 0x20) {
        const QChar c = text.at(0);
        const bool allowed = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-') ||
                             (mode_ == 3 && c == QLatin1Char('.'));
        if (!allowed) return true;
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  int mode_;
};

// Keeps a message box up on Escape and on its close button: a box without
// Cancel is answered only by one of its buttons (Qt would take No or Abort).
class NoEscape final : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Close) {
      event->ignore();
      return true;
    }
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Cancel)) return true;
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

std::int32_t QtDialogs::ShowMessage(const Value& content, std::int32_t flags, std::optional<std::string_view> caption) {
  using B = QMessageBox::StandardButton;
  struct Answer {
    B standard;                // NoButton: a button of its own, with `caption`
    std::string_view caption;  // GBK
    std::int32_t id;
  };
  static const std::vector<std::vector<Answer>> kButtons = {
      {{B::Ok, {}, kIdOk}},
      {{B::Ok, {}, kIdOk}, {B::Cancel, {}, kIdCancel}},
      {{B::Abort, {}, kIdAbort}, {B::Retry, {}, kIdRetry}, {B::Ignore, {}, kIdIgnore}},
      {{B::Yes, {}, kIdYes}, {B::No, {}, kIdNo}, {B::Cancel, {}, kIdCancel}},
      {{B::Yes, {}, kIdYes}, {B::No, {}, kIdNo}},
      {{B::Retry, {}, kIdRetry}, {B::Cancel, {}, kIdCancel}},
      {{B::Cancel, {}, kIdCancel}, {B::NoButton, kTryAgain, kIdTryAgain}, {B::NoButton, kContinue, kIdContinue}}};
  const std::size_t set = static_cast<std::size_t>(flags & 0xF) < kButtons.size() ? (flags & 0xF) : 0;
  QMessageBox box;
  box.setWindowTitle(FromGbk(caption.value_or(kDefaultMessageCaption)));
  box.setText(FromGbk(MessageText(content)));
  switch (flags & 0xF0) {
    case kMbIconError:
      box.setIcon(QMessageBox::Critical);
      break;
    case kMbIconQuestion:
      box.setIcon(QMessageBox::Question);
      break;
    case kMbIconWarning:
      box.setIcon(QMessageBox::Warning);
      break;
    case kMbIconInformation:
      box.setIcon(QMessageBox::Information);
      break;
    default:
      break;
  }
  std::vector<QPushButton*> buttons;
  bool cancels = false;
  for (const Answer& a : kButtons[set]) {
    buttons.push_back(a.standard != B::NoButton ? box.addButton(a.standard)
                                                : box.addButton(FromGbk(a.caption), QMessageBox::AcceptRole));
    cancels = cancels || a.id == kIdCancel;
  }
  if (buttons.size() > 1 && !cancels) box.installEventFilter(new NoEscape(&box));
  const std::size_t defaultIndex = static_cast<std::size_t>((flags & 0xF00) >> 8);
  if (defaultIndex < buttons.size()) box.setDefaultButton(buttons[defaultIndex]);
  box.setWindowModality(Qt::ApplicationModal);  // task modal; system modal has no stronger form here
  box.exec();
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    if (box.clickedButton() == buttons[i]) return kButtons[set][i].id;
  }
  return kIdOk;
}

bool QtDialogs::InputBox(std::optional<std::string_view> prompt, std::optional<std::string_view> caption,
                         std::optional<std::string_view> initial, Value& variable, std::optional<std::int32_t> mode) {
  const int inputMode = std::clamp(mode.value_or(1), 1, 4);
  QDialog dialog;
  dialog.setObjectName(QStringLiteral("inputBox"));
  dialog.setWindowTitle(FromGbk(caption.value_or(kInputTitle)));
  QFont font(FromGbk(kInputFont));
  font.setPointSize(9);
  dialog.setFont(font);
  // Dialog units: a quarter of the font's average character width across, an
  // eighth of its height down.
  const QFontMetrics metrics(font);
  const double unitX =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0 / 4.0;
  const double unitY = metrics.height() / 8.0;
  const auto rect = [&](int x, int y, int w, int h) {
    return QRect(qRound(x * unitX), qRound(y * unitY), qRound(w * unitX), qRound(h * unitY));
  };

  auto* edit = new QLineEdit(&dialog);
  edit->setObjectName(QStringLiteral("entry"));
  auto* ok = new QPushButton(FromGbk(kConfirm), &dialog);
  ok->setObjectName(QStringLiteral("confirm"));
  auto* cancel = new QPushButton(FromGbk(kCancel), &dialog);
  cancel->setObjectName(QStringLiteral("cancel"));
  const bool withPrompt = prompt && !prompt->empty();
  if (withPrompt) {
    dialog.setFixedSize(rect(0, 0, 252, 92).size());
    auto* frame = new QFrame(&dialog);
    frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    frame->setGeometry(rect(7, 7, 238, 35));
    auto* label = new QLabel(FromGbk(*prompt), &dialog);
    label->setObjectName(QStringLiteral("prompt"));
    label->setWordWrap(true);
    label->setGeometry(rect(12, 11, 229, 27));
    edit->setGeometry(rect(7, 45, 238, 12));
    ok->setGeometry(rect(63, 66, 55, 19));
    cancel->setGeometry(rect(134, 66, 55, 19));
  } else {
    dialog.setFixedSize(rect(0, 0, 214, 56).size());
    edit->setGeometry(rect(7, 7, 200, 12));
    ok->setGeometry(rect(82, 30, 55, 19));
    cancel->setGeometry(rect(151, 30, 55, 19));
  }
  if (inputMode == 4) edit->setEchoMode(QLineEdit::Password);
  edit->installEventFilter(new InputFilter(edit, inputMode));
  edit->setText(FromGbk(initial.value_or("")));
  edit->selectAll();
  ok->setDefault(true);
  QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
  edit->setFocus();
  if (dialog.exec() != QDialog::Accepted) return false;
  StoreInput(ToGbk(edit->text()), variable);
  return true;
}

QPoint QtDialogs::PopupPosition(QPoint cursor, std::optional<std::int32_t> x, std::optional<std::int32_t> y) {
  return {x.value_or(cursor.x() + 3), y.value_or(cursor.y() + 3)};
}

namespace {

void AddItems(QMenu& menu, const std::vector<MenuItem>& items) {
  for (const MenuItem& item : items) {
    if (item.caption == "-") {
      menu.addSeparator();
    } else if (!item.children.empty()) {
      AddItems(*menu.addMenu(FromGbk(item.caption)), item.children);
    } else {
      QAction* action = menu.addAction(FromGbk(item.caption));
      if (item.chosen) QObject::connect(action, &QAction::triggered, action, item.chosen);
    }
  }
}

}  // namespace

void QtDialogs::PopupMenu(const Menu& menu, std::optional<std::int32_t> x, std::optional<std::int32_t> y) {
  if (menu.items.empty()) return;
  QMenu popup(window_);
  popup.setObjectName(QString::fromStdString(menu.name));
  AddItems(popup, menu.items);
  popup.exec(PopupPosition(QCursor::pos(), x, y));
}

void QtDialogs::ProcessPendingMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

}  // namespace kelvarn
