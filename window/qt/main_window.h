// The main window on Qt Widgets, built from main_window.ui. Each component
// keeps its window name as its object name; events go to the frame, which
// hands them to the bindings of app/main_window.h. The window holds the
// components; the program creates the harvester that drives them.
#pragma once

#include <QWidget>
#include <memory>

#include "app/harvester.h"
#include "ui/qt/qt_components.h"
#include "ui/qt/qt_dialogs.h"

namespace Ui {
class MainWindow;
}

namespace kelvarn {

class MainWindow final : public QWidget {
 public:
  explicit MainWindow(UiThread& ui);
  ~MainWindow() override;

  // The components under their window names, for the harvester.
  MainComponents Components();
  QtDialogs& dialogs() { return dialogs_; }
  // Lets tests answer the file dialog; the real one by default.
  void SetFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::unique_ptr<Ui::MainWindow> form_;
  QtDialogs dialogs_;
  FileChooser chooser_;
  std::unique_ptr<QtListBox> seeds_, phrases_;
  std::unique_ptr<QtEditBox> workers_, depth_;
  std::unique_ptr<QtButton> start_;
  std::unique_ptr<QtStatusBar> status_;
  std::unique_ptr<GuardedFileDialog> fileDialog_;
};

}  // namespace kelvarn
