#include "window/automation.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "frame/frame.h"
#include "text/files.h"
#include "window/window_program.h"

namespace kelvarn {

Automation::Automation() {
  if (const char* log = std::getenv("KELVARN_OPEN_URL_LOG")) openUrlLog_ = FromStartDirectory(log);
}

bool Automation::TakeOption(int argc, char** argv, int& i) {
  const std::string_view arg = argv[i];
  if (arg == "--screenshot" && i + 1 < argc) {
    screenshot_ = FromStartDirectory(argv[++i]);
  } else if (arg == "--print") {
    print_ = true;
  } else if (arg == "--close-after" && i + 1 < argc) {
    closeAfterMs_ = std::max(1, std::atoi(argv[++i]));
  } else {
    return false;
  }
  return true;
}

void Automation::Prepare(Harvester::Options& options) {
  if (!openUrlLog_.empty()) {
    options.openUrl = [log = openUrlLog_](std::string_view url) {
      std::string logged = ReadFile(log).value_or(std::string());
      logged.append(url).push_back('\n');
      WriteFileBytes(log, {logged});
    };
  }
  if (screenshot_.empty() && !print_) return;
  options.onRunComplete = [this] {
    // Once the completed run's texts are drawn.
    if (window_) QTimer::singleShot(300, window_, [this] { OnRunComplete(); });
  };
}

void Automation::OnRunComplete() {
  if (!screenshot_.empty()) window_->grab().save(QString::fromLocal8Bit(screenshot_.c_str()));
  if (print_) {
    MainComponents window = window_->Components();
    const std::int32_t count = window.列表框_相关关键字.ItemCount();
    for (std::int32_t i = 0; i < count; ++i) {
      std::printf("%s\n", GbkToUtf8(window.列表框_相关关键字.ItemText(i)).c_str());
    }
    std::fprintf(stderr, "%s\n", GbkToUtf8(window.状态条1.PanelText(0)).c_str());
  }
  std::fflush(nullptr);
  EndProgram(0);
}

void Automation::Start(MainWindow& window) {
  window_ = &window;
  if (closeAfterMs_ <= 0) return;
  QTimer::singleShot(closeAfterMs_, window_, [this] {
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
