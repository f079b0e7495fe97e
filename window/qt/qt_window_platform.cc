#include "window/qt/qt_window_platform.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>
#include <QUrl>
#include <utility>

#include "app/main_window.h"

namespace kelvarn {

void QtWindowPlatform::AddMainWindowFactory() {
  frame_.AddWindowFactory(std::string(kMainWindow), [this]() -> QWidget* {
    window_ = new MainWindow(frame_.Ui());
    window_->show();
    return window_;
  });
}

std::optional<MainWindowParts> QtWindowPlatform::Parts() {
  if (!window_) return std::nullopt;
  return MainWindowParts{window_->Components(), window_->dialogs()};
}

void QtWindowPlatform::OpenUrl(std::string_view url) {
  QDesktopServices::openUrl(QUrl(QString::fromUtf8(url.data(), static_cast<qsizetype>(url.size()))));
}

void QtWindowPlatform::After(int ms, std::function<void()> task) {
  // A task for the window goes with it.
  QObject* context = window_ ? static_cast<QObject*>(window_) : qApp;
  QTimer::singleShot(ms, context, std::move(task));
}

bool QtWindowPlatform::SaveScreenshot(const std::string& path) {
  return window_ && window_->grab().save(QString::fromLocal8Bit(path.c_str()));
}

void QtWindowPlatform::AnswerForExport(std::string path) {
  if (window_) {
    window_->SetFileChooser([path](const FileRequest&) -> std::optional<FileChoice> { return FileChoice{path}; });
  }
  auto* answer = new QTimer(qApp);
  QObject::connect(answer, &QTimer::timeout, [] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (QAbstractButton* ok = box ? box->button(QMessageBox::Ok) : nullptr) ok->click();
  });
  answer->start(20);
}

void QtWindowPlatform::CloseMainWindow() {
  auto* answer = new QTimer(qApp);
  QObject::connect(answer, &QTimer::timeout, [] {
    // Its Cancel button, as a user presses it: a box rejected with no
    // button pressed answers OK.
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (QAbstractButton* cancel = box ? box->button(QMessageBox::Cancel) : nullptr) cancel->click();
  });
  answer->start(20);
  // The close question is asked inside close(): the answering timer starts first.
  if (window_) window_->close();
}

bool LoadQtTranslations() {
  auto* translator = new QTranslator(qApp);
  if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

}  // namespace kelvarn
