#include "ui/qt/qt_dialogs.h"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include "ui/components.h"
#include "ui/input_box.h"
#include "ui/pacing_dialog.h"
#include "ui/qt/gbk.h"
#include "ui/qt/qt_components.h"

namespace kelvarn {
namespace {

// Buttons Qt has no standard one for: "重试(&T)", "继续(&C)".
constexpr std::string_view kTryAgain = "\xD6\xD8\xCA\xD4(&T)";
constexpr std::string_view kContinue = "\xBC\xCC\xD0\xF8(&C)";

// Typed characters the input mode refuses; control characters always pass.
class InputFilter final : public QObject {
 public:
  InputFilter(QObject* parent, int mode) : QObject(parent), mode_(mode) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) {
      const QString text = static_cast<QKeyEvent*>(event)->text();
      if (!text.isEmpty() && !InputModeTakes(mode_, text.at(0).unicode())) return true;
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

namespace {

// The dialogs' font: the input box's, 宋体 9 points.
QFont DialogFont() {
  QFont font(FromGbk(kInputFont));
  font.setPointSize(kInputFontPoints);
  return font;
}

// Places in dialog units as pixels of `font`: a quarter of its average
// character width across, an eighth of its height down.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    unitX_ =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0 / 4.0;
    unitY_ = metrics.height() / 8.0;
  }
  QRect operator()(DialogRect r) const {
    return {qRound(r.x * unitX_), qRound(r.y * unitY_), qRound(r.width * unitX_), qRound(r.height * unitY_)};
  }

 private:
  double unitX_, unitY_;
};

// OK, the default button, and Cancel, named "confirm" and "cancel".
void AddAnswerButtons(QDialog& dialog, const DialogUnits& rect, std::string_view confirmText, DialogRect confirm,
                      std::string_view cancelText, DialogRect cancel) {
  auto* ok = new QPushButton(FromGbk(confirmText), &dialog);
  ok->setObjectName(QStringLiteral("confirm"));
  ok->setGeometry(rect(confirm));
  ok->setDefault(true);
  auto* no = new QPushButton(FromGbk(cancelText), &dialog);
  no->setObjectName(QStringLiteral("cancel"));
  no->setGeometry(rect(cancel));
  QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
  QObject::connect(no, &QPushButton::clicked, &dialog, &QDialog::reject);
}

}  // namespace

bool QtDialogs::InputBox(std::optional<std::string_view> prompt, std::optional<std::string_view> caption,
                         std::optional<std::string_view> initial, Value& variable, std::optional<std::int32_t> mode) {
  const int inputMode = InputMode(mode);
  QDialog dialog;
  dialog.setObjectName(QStringLiteral("inputBox"));
  dialog.setWindowTitle(FromGbk(caption.value_or(kInputCaption)));
  dialog.setFont(DialogFont());
  const DialogUnits rect(dialog.font());

  const bool withPrompt = prompt && !prompt->empty();
  const InputBoxLayout& layout = withPrompt ? kInputWithPrompt : kInputWithoutPrompt;
  dialog.setFixedSize(rect({0, 0, layout.width, layout.height}).size());
  auto* edit = new QLineEdit(&dialog);
  edit->setObjectName(QStringLiteral("entry"));
  edit->setGeometry(rect(layout.entry));
  AddAnswerButtons(dialog, rect, kInputConfirm, layout.confirm, kInputCancel, layout.cancel);
  if (withPrompt) {
    auto* frame = new QFrame(&dialog);
    frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    frame->setGeometry(rect(layout.frame));
    auto* label = new QLabel(FromGbk(*prompt), &dialog);
    label->setObjectName(QStringLiteral("prompt"));
    label->setWordWrap(true);
    label->setGeometry(rect(layout.prompt));
  }
  if (inputMode == 4) edit->setEchoMode(QLineEdit::Password);
  edit->installEventFilter(new InputFilter(edit, inputMode));
  edit->setText(FromGbk(initial.value_or("")));
  edit->selectAll();
  edit->setFocus();
  if (dialog.exec() != QDialog::Accepted) return false;
  StoreInput(ToGbk(edit->text()), variable);
  return true;
}

bool QtDialogs::PacingDialog(HarvestSettings& settings) {
  QDialog dialog;
  dialog.setObjectName(QStringLiteral("pacingDialog"));
  dialog.setWindowTitle(FromGbk(kPacingCaption));
  dialog.setFont(DialogFont());
  const DialogUnits rect(dialog.font());
  const PacingDialogLayout& layout = kPacingLayout;
  dialog.setFixedSize(rect({0, 0, layout.width, layout.height}).size());
  const auto addLabel = [&](std::string_view text, DialogRect place, const QString& name, QWidget* buddy) {
    auto* label = new QLabel(FromGbk(text), &dialog);
    label->setObjectName(name);
    label->setGeometry(rect(place));
    label->setBuddy(buddy);
  };
  const auto addCheckBox = [&](std::string_view text, DialogRect place, const QString& name, bool checked) {
    auto* box = new QCheckBox(FromGbk(text), &dialog);
    box->setObjectName(name);
    box->setGeometry(rect(place));
    box->setChecked(checked);
    return box;
  };
  // Created in tab order.
  auto* edit = new QLineEdit(FromGbk(settings.rate), &dialog);
  edit->setObjectName(QStringLiteral("rate"));
  edit->setGeometry(rect(layout.rate));
  addLabel(kPacingRateLabel, layout.label, QStringLiteral("rateLabel"), edit);
  QCheckBox* once = addCheckBox(kPacingUnique, layout.unique, QStringLiteral("unique"), settings.unique);
  // A path, not a text: shown and kept in the file system's own encoding.
  auto* file = new QLineEdit(QFile::decodeName(QByteArray::fromStdString(settings.proxiesFile)), &dialog);
  file->setObjectName(QStringLiteral("proxiesFile"));
  file->setGeometry(rect(layout.proxiesFile));
  addLabel(kPacingProxiesLabel, layout.proxiesLabel, QStringLiteral("proxiesLabel"), file);
  // A browse button that picks an existing text file into `path`.
  const auto addBrowse = [&](DialogRect place, const QString& name, QLineEdit* path) {
    auto* browse = new QPushButton(FromGbk(kPacingBrowse), &dialog);
    browse->setObjectName(name);
    browse->setGeometry(rect(place));
    browse->setAutoDefault(false);  // Enter still confirms the dialog
    QObject::connect(browse, &QPushButton::clicked, &dialog, [&dialog, path] {
      QFileDialog chooser(&dialog);
      chooser.setNameFilters(QtNameFilters(kTextFileFilter));
      chooser.setAcceptMode(QFileDialog::AcceptOpen);
      chooser.setFileMode(QFileDialog::ExistingFile);
      if (!path->text().isEmpty()) chooser.selectFile(path->text());
      if (chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty()) {
        path->setText(chooser.selectedFiles().constFirst());
      }
    });
  };
  addBrowse(layout.browse, QStringLiteral("browse"), file);
  QCheckBox* noDirect = addCheckBox(kPacingNoDirect, layout.noDirect, QStringLiteral("noDirect"), settings.noDirect);
  const auto addEdit = [&](const QString& text, DialogRect place, const QString& name, std::string_view label,
                           DialogRect labelPlace) {
    auto* edit = new QLineEdit(text, &dialog);
    edit->setObjectName(name);
    edit->setGeometry(rect(place));
    addLabel(label, labelPlace, name + QStringLiteral("Label"), edit);
    return edit;
  };
  QLineEdit* include = addEdit(FromGbk(settings.include), layout.include, QStringLiteral("include"),
                               kPacingIncludeLabel, layout.includeLabel);
  QLineEdit* exclude = addEdit(FromGbk(settings.exclude), layout.exclude, QStringLiteral("exclude"),
                               kPacingExcludeLabel, layout.excludeLabel);
  QLineEdit* stopWords =
      addEdit(QFile::decodeName(QByteArray::fromStdString(settings.stopWordsFile)), layout.stopWordsFile,
              QStringLiteral("stopWordsFile"), kPacingStopWordsLabel, layout.stopWordsLabel);
  addBrowse(layout.stopWordsBrowse, QStringLiteral("stopWordsBrowse"), stopWords);
  auto* must = new QComboBox(&dialog);
  must->setObjectName(QStringLiteral("mustContain"));
  must->setGeometry(rect(layout.mustContain));
  for (const std::string_view choice : kPacingMustContainChoices) must->addItem(FromGbk(choice));
  must->setCurrentIndex(MustContainChoice(settings.mustContain));
  addLabel(kPacingMustContainLabel, layout.mustContainLabel, QStringLiteral("mustContainLabel"), must);
  QLineEdit* minChars = addEdit(FromGbk(settings.minChars), layout.minChars, QStringLiteral("minChars"),
                                kPacingMinCharsLabel, layout.minCharsLabel);
  QLineEdit* maxChars = addEdit(FromGbk(settings.maxChars), layout.maxChars, QStringLiteral("maxChars"),
                                kPacingMaxCharsLabel, layout.maxCharsLabel);
  AddAnswerButtons(dialog, rect, kPacingConfirm, layout.confirm, kPacingCancel, layout.cancel);
  edit->selectAll();
  edit->setFocus();
  if (dialog.exec() != QDialog::Accepted) return false;
  settings.rate = ToGbk(edit->text());
  settings.unique = once->isChecked();
  settings.proxiesFile = QFile::encodeName(file->text()).toStdString();
  settings.noDirect = noDirect->isChecked();
  settings.include = ToGbk(include->text());
  settings.exclude = ToGbk(exclude->text());
  settings.stopWordsFile = QFile::encodeName(stopWords->text()).toStdString();
  settings.mustContain = Text(kPacingMustContainValues[std::clamp(must->currentIndex(), 0, 2)]);
  settings.minChars = ToGbk(minChars->text());
  settings.maxChars = ToGbk(maxChars->text());
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
