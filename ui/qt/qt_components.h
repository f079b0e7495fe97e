// The component operations over Qt widgets. Construct on the window thread;
// the operations themselves may be called from any thread (ui/components.h).
#pragma once

#include <QAbstractListModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <memory>
#include <vector>

#include <QSignalBlocker>

#include "ui/headless.h"
#include "ui/qt/gbk.h"
#include "ui/stores.h"

namespace kelvarn {

// A list model that keeps each item's GBK bytes and item value compactly and
// decodes a row only when it is drawn, so a million items stay cheap. New
// rows are announced to views in batches, at most every kPublishMs: a view
// lays its rows out again on every announcement, so announcing rows one by
// one would cost time in proportion to the list for each item added. The
// view's selection follows the list's in the same batches, for the same
// reason (an import selects every line it adds).
class GbkListModel final : public QAbstractListModel, public ListStore {
 public:
  static constexpr int kPublishMs = 30;

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  bool Append(std::string_view text, std::int32_t itemValue) override;
  std::int32_t Count() const override { return items_.Count(); }
  Text At(std::int32_t index) const override { return Text(items_.View(index)); }
  std::int32_t ValueAt(std::int32_t index) const { return items_.ValueAt(index); }
  void Clear() override;
  void ShowSelection(std::int32_t index) override;
  // The whole list: the view's highlight and current row, and the clipboard
  // as Unicode text.
  ItemBlock& Block() override { return items_; }
  void Reordered() override;
  std::vector<std::int32_t> Highlighted() const override;
  std::int32_t FocusRow() const override;
  void Reveal(std::int32_t index) override;
  void SetClipboard(std::string_view lines) override;

  // The view laid out at each batch of new rows; a single-selection list
  // also shows its selection there (an extended one leaves it to the user).
  void SetView(QListView* view, bool showsSelection) {
    view_ = view;
    showsSelection_ = showsSelection;
  }

  // Announces the rows added since the last announcement and shows the
  // latest selection.
  void Publish();

 private:
  void SchedulePublish();

  ItemBlock items_;
  QPointer<QListView> view_;
  bool showsSelection_ = false;
  int publishIntervalMs_ = kPublishMs;
  int published_ = 0;  // rows the views know of
  bool publishPending_ = false;
  std::int32_t shownSelection_ = -1;  // the selection to show at the next Publish
  bool selectionPending_ = false;
};

// A list box: a QListView over its own model.
class QtListBox {
 public:
  QtListBox(UiThread& ui, QListView* view, bool extendedSelection);
  ListBox& Operations() { return operations_; }
  GbkListModel& Model() { return *model_; }

 private:
  std::unique_ptr<GbkListModel> model_;
  GuardedListBox operations_;
};

// The text of a widget with text() and setText(): an edit box's content or a
// button's caption. Setting it raises none of the widget's own signals: the
// guarded components raise content-changed once themselves. Until the text
// shown changes, it reads back as the bytes set, even those the screen
// cannot show (bytes that are not GBK would come back as a replacement
// character, and the settings file would be rewritten with it).
template <class Widget>
class WidgetTextStore final : public TextStore {
 public:
  explicit WidgetTextStore(Widget* widget) : widget_(widget) {}
  Text Get() const override {
    const QString shown = widget_->text();
    return shown == shownSet_ ? set_ : ToGbk(shown);
  }
  void Set(std::string_view text) override {
    const QSignalBlocker quiet(widget_);
    widget_->setText(FromGbk(text));
    set_ = Text(text);
    shownSet_ = widget_->text();
  }

 private:
  Widget* widget_;
  Text set_;
  QString shownSet_;
};

class QtEditBox {
 public:
  QtEditBox(UiThread& ui, QLineEdit* edit);
  EditBox& Operations() { return operations_; }

 private:
  WidgetTextStore<QLineEdit> store_;
  GuardedEditBox operations_;
};

class QtButton {
 public:
  QtButton(UiThread& ui, QPushButton* button) : store_(button), operations_(ui, store_) {}
  Button& Operations() { return operations_; }

 private:
  WidgetTextStore<QPushButton> store_;
  GuardedButton operations_;
};

// A status bar of `panels` text panels; the last one runs to the right edge.
class QtStatusBar {
 public:
  QtStatusBar(UiThread& ui, QStatusBar* bar, std::int32_t panels = 1);
  StatusBar& Operations() { return operations_; }

 private:
  class Store final : public PanelStore {
   public:
    std::int32_t Count() const override { return static_cast<std::int32_t>(labels_.size()); }
    Text Get(std::int32_t panel) const override;
    void Set(std::int32_t panel, std::string_view text) override;
    Text Progress() const override;
    void SetProgress(std::string_view text) override;
    std::vector<QLabel*> labels_;
    QLabel* progress_ = nullptr;
  } store_;
  GuardedStatusBar operations_;
};

// The open and save dialogs: the request's "Name|pattern|Name|pattern" filter
// (GBK), the chosen type's extension as the default suffix (`defaultSuffix`
// for a type like "*.*"), overwrite prompt on save, must-exist on open; a
// folder that is not there is refused with a message, the dialog staying open.
FileChooser QtFileChooser(QWidget* parent, std::string defaultSuffix);
// "TXT文件|*.txt|所有文件|*.*" becomes "TXT文件 (*.txt)" and "所有文件 (*.*)".
QStringList QtNameFilters(std::string_view filter);

}  // namespace kelvarn
