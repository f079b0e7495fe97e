#include "frame/qt/qt_frame.h"

#include <sys/eventfd.h>
#include <unistd.h>
#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QStringDecoder>
#include <QThread>

namespace kelvarn {

QtUiThread::QtUiThread() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  setObjectName(QStringLiteral("hiddenWindow"));
  auto* notifier = new QSocketNotifier(wake_, QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, [this] { RunQueued(); });
}

QtUiThread::~QtUiThread() { ::close(wake_); }

void QtUiThread::Invoke(const std::function<void()>& effect) {
  if (IsCurrent()) {
    effect();
    return;
  }
  Call call(effect);
  MutexLock lock(mutex_);
  queue_.push_back(&call);
  const std::uint64_t one = 1;
  static_cast<void>(::write(wake_, &one, sizeof one));
  mutex_.Wait(call.finished, [&]() REQUIRES(mutex_) { return Done(call); });
}

bool QtUiThread::Done(const Call& call) const { return call.done_; }

void QtUiThread::Finish(Call& call) { call.done_ = true; }

void QtUiThread::RunQueued() {
  std::uint64_t count = 0;
  static_cast<void>(::read(wake_, &count, sizeof count));
  for (;;) {
    Call* call = nullptr;
    {
      MutexLock lock(mutex_);
      if (queue_.empty()) return;
      call = queue_.front();
      queue_.pop_front();
    }
    call->effect();
    MutexLock lock(mutex_);
    Finish(*call);
    call->finished.notify_one();
  }
}

bool QtUiThread::IsCurrent() const { return QThread::currentThread() == thread(); }

// The loop ends by the frame's rule, when the last window it loaded is
// destroyed; Qt's own rule would also end it when a window is merely hidden
// and a message box closes.
QtFramePlatform::QtFramePlatform() { QApplication::setQuitOnLastWindowClosed(false); }

void QtFramePlatform::AddWindowFactory(std::string window, WindowFactory factory) {
  factories_[std::move(window)] = std::move(factory);
}

bool QtFramePlatform::MakeWindow(const WindowTemplate& window) {
  const auto it = factories_.find(window.name);
  if (it == factories_.end()) return false;
  QWidget* widget = it->second();
  if (!widget) return false;
  widget->setAttribute(Qt::WA_DeleteOnClose);
  windows_[window.name] = widget;
  QObject::connect(widget, &QObject::destroyed, [name = window.name] { WindowDestroyed(name); });
  return true;
}

void QtFramePlatform::RunLoop() {
  for (const auto& [name, window] : windows_) {
    if (window) return static_cast<void>(QApplication::exec());
  }
}

void QtFramePlatform::QuitLoop() {
  QMetaObject::invokeMethod(
      qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

bool QtFramePlatform::ShowErrorBox(std::string_view gbkText) {
  const QString platform = QGuiApplication::platformName();
  if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) return false;
  // Widgets belong to the main thread.
  if (!ui_.IsCurrent()) {
    bool shown = false;
    ui_.Invoke([&] { shown = ShowErrorBox(gbkText); });
    return shown;
  }
  QStringDecoder gbk("GB18030");
  // "错误": no owner, the error icon, OK.
  QMessageBox box(QMessageBox::Critical, gbk(QByteArray("\xB4\xED\xCE\xF3")),
                  gbk(QByteArray(gbkText.data(), static_cast<qsizetype>(gbkText.size()))), QMessageBox::Ok);
  box.exec();
  return true;
}

void QtFramePlatform::DestroyWindows() {
  for (auto& [name, window] : windows_) {
    if (window) delete window.data();
  }
  windows_.clear();
}

QWidget* QtFramePlatform::Window(const std::string& name) const {
  const auto it = windows_.find(name);
  return it == windows_.end() ? nullptr : it->second.data();
}

}  // namespace kelvarn
