#include "window/qt/automation.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

#include "frame/frame.h"

namespace kelvarn {

void Automation::Prepare(Harvester::Options& options) {
  LogOpenedUrls(options_, options);
  if (options_.screenshot.empty() && !options_.print) return;
  options.onRunComplete = [this] {
    // Once the completed run's texts are drawn.
    if (window_) QTimer::singleShot(300, window_, [this] { OnRunComplete(); });
  };
}

void Automation::OnRunComplete() {
  if (!options_.screenshot.empty()) window_->grab().save(QString::fromLocal8Bit(options_.screenshot.c_str()));
  if (options_.print) PrintCollected(window_->Components());
  std::fflush(nullptr);
  EndProgram(0);
}

void Automation::Start(MainWindow& window) {
  window_ = &window;
  if (options_.closeAfterMs <= 0) return;
  QTimer::singleShot(options_.closeAfterMs, window_, [this] {
    auto* answer = new QTimer(qApp);
    QObject::connect(answer, &QTimer::timeout, [] {
      // Its Cancel button, as a user presses it: a box rejected with no
      // button pressed answers OK.
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (QAbstractButton* cancel = box ? box->button(QMessageBox::Cancel) : nullptr) cancel->click();
    });
    answer->start(20);
    std::fprintf(stderr, "closing\n");
    window_->close();
  });
}

}  // namespace kelvarn
