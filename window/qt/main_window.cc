#include "window/qt/main_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>

#include "app/main_window.h"
#include "ui/qt/gbk.h"
#include "ui_main_window.h"

namespace kelvarn {
namespace {

// A key as the Windows keyboard numbers it (letters and F1..F24 only: the
// lists take no others); 0 for the rest.
std::int64_t VirtualKey(int key) {
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return key;  // the same numbers, 'A'..'Z'
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return 0x70 + (key - Qt::Key_F1);
  return 0;
}

}  // namespace

MainWindow::MainWindow(UiThread& ui) : form_(std::make_unique<Ui::MainWindow>()), dialogs_(this) {
  form_->setupUi(this);
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(377, 432);  // the client area of a 383 x 439 window with a thin fixed border
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    move((area.width() - 383) / 2, (area.height() - 439) / 2);
  }
  // The frame line runs through the middle of the title, as the classic group
  // box draws it: styles that draw it below the title (Fusion) lay it across
  // the top of the lists and of the settings row.
  for (QGroupBox* box : {form_->分组框1, form_->分组框2, form_->分组框3}) {
    box->setStyleSheet(
        QStringLiteral("QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: %1px; }"
                       "QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0px 2px; }")
            .arg(box->fontMetrics().height() / 2));
  }
  for (QListView* list : {form_->列表框_关键字, form_->列表框_相关关键字}) {
    list->viewport()->installEventFilter(this);
    list->installEventFilter(this);  // its keys
    // Rows one pixel taller than the font's own.
    list->setStyleSheet(QStringLiteral("QListView::item { height: %1px; }").arg(list->fontMetrics().height() + 1));
  }

  seeds_ = std::make_unique<QtListBox>(ui, form_->列表框_关键字, true);
  phrases_ = std::make_unique<QtListBox>(ui, form_->列表框_相关关键字, true);
  workers_ = std::make_unique<QtEditBox>(ui, form_->编辑框_工作线程);
  depth_ = std::make_unique<QtEditBox>(ui, form_->编辑框_采集级别);
  start_ = std::make_unique<QtButton>(ui, form_->按钮_开始采集);
  status_ = std::make_unique<QtStatusBar>(ui, form_->状态条1);
  chooser_ = QtFileChooser(this, "txt");
  fileDialog_ =
      std::make_unique<GuardedFileDialog>(ui, [this](const FileRequest& request) { return chooser_(request); });

  const std::string window(kMainWindow);
  workers_->Operations().OnContentChanged([window] { DeliverEvent(window, kWorkersBox, kEventContentChanged); });
  depth_->Operations().OnContentChanged([window] { DeliverEvent(window, kDepthBox, kEventContentChanged); });
  connect(form_->按钮_开始采集, &QPushButton::clicked, this,
          [window] { DeliverEvent(window, kStartButton, kEventClicked); });
}

MainWindow::~MainWindow() = default;

MainComponents MainWindow::Components() {
  return {seeds_->Operations(), phrases_->Operations(), workers_->Operations(),
          depth_->Operations(), start_->Operations(),   status_->Operations(),
          *fileDialog_};
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::RightButton) {
      const char* list = watched == form_->列表框_关键字->viewport() ? kSeedList : kPhraseList;
      const QPoint at = mouse->position().toPoint();
      DeliverEvent(kMainWindow, list, kEventRightButtonDown,
                   {at.x(), at.y(), static_cast<std::int64_t>(mouse->modifiers())});
      return true;
    }
  }
  if (event->type() == QEvent::KeyPress && (watched == form_->列表框_关键字 || watched == form_->列表框_相关关键字)) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const std::int64_t code = VirtualKey(key->key());
    const std::int64_t modifiers = (key->modifiers() & Qt::ShiftModifier ? kKeyShift : 0) |
                                   (key->modifiers() & Qt::ControlModifier ? kKeyControl : 0);
    const char* list = watched == form_->列表框_关键字 ? kSeedList : kPhraseList;
    // A key the lists take goes no further: the view's own Ctrl+C would copy one row only.
    if (code != 0 && DeliverEvent(kMainWindow, list, kEventKeyDown, {code, modifiers})) return true;
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Closing is always allowed; the close sequence ends the program. The
  // window leaves the screen first: the question that follows stands alone,
  // not over a window that still says a run is going on.
  event->accept();
  hide();
  DeliverEvent(kMainWindow, "", kEventDestroying);
}

}  // namespace kelvarn
