// The Qt components and dialogs, on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <thread>

#include "frame/qt/qt_frame.h"
#include "ui/qt/gbk.h"
#include "ui/qt/qt_components.h"
#include "ui/qt/qt_dialogs.h"

namespace kelvarn {
namespace {

// Runs `act` on the next modal dialog (of class `kind`, when given) once the
// event loop shows it.
void WhenModal(const std::function<void(QWidget*)>& act, const char* kind = nullptr) {
  QTimer::singleShot(0, [act, kind] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) modal = QApplication::activePopupWidget();
    if (modal && (!kind || modal->inherits(kind))) {
      act(modal);
    } else {
      WhenModal(act, kind);  // not up yet
    }
  });
}

class QtUiTest : public ::testing::Test {
 protected:
  QtUiThread ui_;
  QWidget window_;
};

TEST_F(QtUiTest, ListModelPassesTheModelTester) {
  QListView view(&window_);
  QtListBox list(ui_, &view, true);
  QAbstractItemModelTester tester(&list.Model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  EXPECT_EQ(0, list.Operations().AddItem(Utf8ToGbk("关键字")));
  EXPECT_EQ(1, list.Operations().AddItem("", 5));
  EXPECT_EQ(2, list.Operations().ItemCount());  // counted at once...
  EXPECT_EQ(0, list.Model().rowCount());        // ...shown with the next batch
  QTRY_COMPARE_WITH_TIMEOUT(list.Model().rowCount(), 2, 5000);
  EXPECT_EQ(QStringLiteral("关键字"), list.Model().data(list.Model().index(0), Qt::DisplayRole).toString());
  EXPECT_EQ(5, list.Model().ValueAt(1));
  list.Operations().ClearItems();
  EXPECT_EQ(0, list.Model().rowCount());
}

TEST_F(QtUiTest, ExtendedSelectionKeepsHighlightSingleSelectionSelects) {
  QListView extendedView(&window_), singleView(&window_);
  QtListBox extended(ui_, &extendedView, true), single(ui_, &singleView, false);
  for (int i = 0; i < 3; ++i) {
    extended.Operations().AddItem("x");
    single.Operations().AddItem("x");
  }
  extended.Model().Publish();
  extendedView.selectionModel()->select(extended.Model().index(0), QItemSelectionModel::Select);
  extended.Operations().SetCurrentSelection(10);
  EXPECT_EQ(2, extended.Operations().CurrentSelection());
  const QModelIndexList selected = extendedView.selectionModel()->selectedIndexes();
  ASSERT_EQ(1, selected.size());
  EXPECT_EQ(0, selected.first().row());  // unchanged

  single.Operations().SetCurrentSelection(1);
  single.Model().Publish();  // the view follows with the next batch of rows
  EXPECT_EQ(1, singleView.currentIndex().row());
  single.Operations().SetCurrentSelection(-1);
  single.Model().Publish();
  EXPECT_TRUE(singleView.selectionModel()->selectedIndexes().isEmpty());
  EXPECT_EQ(QAbstractItemView::ExtendedSelection, extendedView.selectionMode());
}

TEST_F(QtUiTest, TwentyThreadsAddingThroughTheWindowThreadLoseNothing) {
  QListView view(&window_);
  QtListBox list(ui_, &view, true);
  constexpr int kThreads = 20, kEach = 10000;
  std::vector<std::vector<std::int32_t>> indexes(kThreads);
  std::atomic<int> done{0};
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        indexes[t].push_back(list.Operations().AddItem(std::to_string(t) + ":" + std::to_string(i)));
      }
      done.fetch_add(1);
    });
  }
  // The window thread serves the calls until every worker is through.
  const QDeadlineTimer deadline(120000);
  while (done.load() < kThreads && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  for (auto& th : threads) th.join();
  ASSERT_EQ(kThreads * kEach, list.Operations().ItemCount());
  int wrong = 0;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kEach; ++i)
      wrong += list.Model().At(indexes[t][i]) != std::to_string(t) + ":" + std::to_string(i);
  }
  EXPECT_EQ(0, wrong);
}

TEST_F(QtUiTest, EditBoxChangesRaiseTheHandler) {
  QLineEdit line(&window_);
  QtEditBox edit(ui_, &line);
  int changes = 0;
  edit.Operations().OnContentChanged([&] { ++changes; });
  edit.Operations().SetContent(Utf8ToGbk("二十"));
  EXPECT_EQ(1, changes);  // once, not once per intermediate signal
  EXPECT_EQ(QStringLiteral("二十"), line.text());
  EXPECT_EQ(Utf8ToGbk("二十"), edit.Operations().Content());
  QTest::keyClicks(&line, QStringLiteral("12"));  // by the user: per change
  EXPECT_EQ(3, changes);
  // Bytes that are not GBK read back as set (a setting is saved as it was
  // read) until the user edits them; then the box holds what it shows.
  const Text notGbk = std::string(1, '\xFF') + "20";
  edit.Operations().SetContent(notGbk);
  EXPECT_EQ(notGbk, edit.Operations().Content());
  QTest::keyClicks(&line, QStringLiteral("1"));
  EXPECT_EQ(ToGbk(QStringLiteral("\uFFFD201")), edit.Operations().Content());
}

// The screen reads and writes GB18030: GBK text as before, and characters
// GBK has no form for (an emoji, a CJK Extension B character) kept whole.
TEST_F(QtUiTest, TextsCrossTheScreenInGb18030) {
  for (const char* text : {"关键字 abc", "蛇🐍 𠀀"}) {
    EXPECT_EQ(QString::fromUtf8(text), FromGbk(Utf8ToGbk(text)));
    EXPECT_EQ(Utf8ToGbk(text), ToGbk(QString::fromUtf8(text)));
  }
}

TEST_F(QtUiTest, ButtonAndStatusBar) {
  QPushButton push(&window_);
  QtButton button(ui_, &push);
  button.Operations().SetCaption(Utf8ToGbk("开始采集"));
  EXPECT_EQ(QStringLiteral("开始采集"), push.text());
  EXPECT_EQ(Utf8ToGbk("开始采集"), button.Operations().Caption());

  QStatusBar bar(&window_);
  QtStatusBar status(ui_, &bar);
  status.Operations().SetPanelText(0, Utf8ToGbk("正在采集..."));
  status.Operations().SetPanelText(1, "nothing");
  EXPECT_EQ(Utf8ToGbk("正在采集..."), status.Operations().PanelText(0));
  // One panel, and the progress field apart at the right end, hidden while empty.
  ASSERT_EQ(2, bar.findChildren<QLabel*>().size());
  QLabel* progress = bar.findChildren<QLabel*>().at(1);
  EXPECT_TRUE(progress->isHidden());
  status.Operations().SetProgressText(Utf8ToGbk("页面(3)"));
  EXPECT_EQ(QStringLiteral("页面(3)"), progress->text());
  EXPECT_FALSE(progress->isHidden());
  EXPECT_EQ(Utf8ToGbk("正在采集..."), status.Operations().PanelText(0));
}

// Types `name` in a save dialog showing `folder` and presses Save.
void Save(QWidget* dialog, const QString& folder, const QString& name) {
  static_cast<QFileDialog*>(dialog)->setDirectory(folder);
  dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(name);
  dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save)->click();
}

TEST_F(QtUiTest, FileDialogFilterCancelAndMissingFolder) {
  EXPECT_EQ(QStringList({QStringLiteral("TXT文件 (*.txt)"), QStringLiteral("所有文件 (*.*)")}),
            QtNameFilters(kTextFileFilter));
  GuardedFileDialog dialog(ui_, QtFileChooser(&window_, "txt"));
  WhenModal([](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
  EXPECT_FALSE(dialog.ShowFileDialog());
  EXPECT_EQ("", dialog.FileName());

  // Saving into a folder that is not there is refused with a message, and
  // the dialog stays for another choice.
  const QTemporaryDir folder;
  const QString path = folder.path();
  QString warning;
  WhenModal(
      [&](QWidget* w) {
        Save(w, path, QStringLiteral("missing/out.txt"));
        WhenModal(
            [&](QWidget* box) {
              warning = static_cast<QMessageBox*>(box)->text();
              static_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
              WhenModal([&](QWidget* again) { Save(again, path, QStringLiteral("out.txt")); }, "QFileDialog");
            },
            "QMessageBox");
      },
      "QFileDialog");
  dialog.SetType(FileDialog::kSave);
  EXPECT_TRUE(dialog.ShowFileDialog());
  EXPECT_EQ((path + QStringLiteral("/out.txt")).toStdString(), dialog.FileName());
  EXPECT_TRUE(warning.startsWith(path + QStringLiteral("/missing\n"))) << warning.toStdString();

  // A bare name gets the extension of the type the user picks, and the type is told.
  dialog.SetFilter(Utf8ToGbk("TXT文件|*.txt|表格|*.csv;*.tsv|所有文件|*.*"));
  WhenModal(
      [&](QWidget* w) {
        static_cast<QFileDialog*>(w)->selectNameFilter(QStringLiteral("表格 (*.csv *.tsv)"));
        Save(w, path, QStringLiteral("table"));
      },
      "QFileDialog");
  EXPECT_TRUE(dialog.ShowFileDialog());
  EXPECT_EQ((path + QStringLiteral("/table.csv")).toStdString(), dialog.FileName());
  EXPECT_EQ(2, dialog.FilterIndex());
}

class QtDialogsTest : public ::testing::Test {
 protected:
  QtDialogs dialogs_;
};

TEST_F(QtDialogsTest, MessageBoxButtonsIconsAndResults) {
  struct Case {
    std::int32_t flags;
    QMessageBox::StandardButton press;
    std::int32_t result;
    const char* custom = nullptr;  // the caption of a button of its own
  };
  for (const Case& c :
       {Case{0x21, QMessageBox::Ok, kIdOk}, Case{0x21, QMessageBox::Cancel, kIdCancel},
        Case{kMbYesNoCancel, QMessageBox::Yes, kIdYes}, Case{kMbYesNo, QMessageBox::No, kIdNo},
        Case{kMbAbortRetryIgnore, QMessageBox::Abort, kIdAbort},
        Case{kMbAbortRetryIgnore, QMessageBox::Ignore, kIdIgnore}, Case{kMbRetryCancel, QMessageBox::Retry, kIdRetry},
        Case{kMbCancelTryContinue, QMessageBox::Cancel, kIdCancel},
        Case{kMbCancelTryContinue, QMessageBox::NoButton, kIdTryAgain, "重试(&T)"},
        Case{kMbCancelTryContinue, QMessageBox::NoButton, kIdContinue, "继续(&C)"}}) {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    WhenModal([&](QWidget* w) {
      auto* box = static_cast<QMessageBox*>(w);
      title = box->windowTitle(), text = box->text(), icon = box->icon();
      for (QAbstractButton* b : box->buttons()) {
        if (c.custom ? b->text() == QString::fromUtf8(c.custom) : box->standardButton(b) == c.press) {
          return b->click();
        }
      }
      box->reject();  // no such button
    });
    EXPECT_EQ(c.result, dialogs_.ShowMessage(5, c.flags)) << c.flags;
    EXPECT_EQ(QStringLiteral("信息："), title);
    EXPECT_EQ(QStringLiteral("5"), text);
    if (c.flags == 0x21) {
      EXPECT_EQ(QMessageBox::Question, icon);
    }
  }
  QString text, title;
  WhenModal([&](QWidget* w) {
    auto* box = static_cast<QMessageBox*>(w);
    text = box->text(), title = box->windowTitle();
    box->button(QMessageBox::Ok)->click();
  });
  EXPECT_EQ(kIdOk, dialogs_.ShowMessage(true, kMbOk, Utf8ToGbk("标题")));
  EXPECT_EQ(QStringLiteral("真"), text);
  EXPECT_EQ(QStringLiteral("标题"), title);
}

// Escape (and the close button) answers Cancel, or OK on a box of OK alone;
// a box with neither stays up until one of its buttons is pressed.
TEST_F(QtDialogsTest, EscapeAnswersOnlyWhereThereIsCancel) {
  struct Case {
    std::int32_t flags;
    std::int32_t escaped;  // -1: the box stays
  };
  for (const Case& c : {Case{kMbOk, kIdOk}, Case{kMbOkCancel, kIdCancel}, Case{kMbCancelTryContinue, kIdCancel},
                        Case{kMbYesNo, -1}, Case{kMbAbortRetryIgnore, -1}}) {
    bool stayed = false;
    WhenModal([&](QWidget* w) {
      QTest::keyClick(w->focusWidget() ? w->focusWidget() : w, Qt::Key_Escape);
      if (w->isVisible()) w->close();
      stayed = w->isVisible();
      if (stayed) static_cast<QMessageBox*>(w)->buttons().constLast()->click();
    });
    const std::int32_t result = dialogs_.ShowMessage(Text("?"), c.flags);
    EXPECT_EQ(c.escaped < 0, stayed) << c.flags;
    if (c.escaped >= 0) {
      EXPECT_EQ(c.escaped, result) << c.flags;
    }
  }
}

// Pastes and types (ASCII keys) into the input box, then presses confirm or cancel.
bool Answer(QtDialogs& dialogs, std::optional<std::string_view> prompt, std::optional<std::int32_t> mode,
            const QString& typed, bool confirm, Value& variable, const QString& pasted = {}) {
  WhenModal([=](QWidget* w) {
    auto* entry = w->findChild<QLineEdit*>(QStringLiteral("entry"));
    entry->insert(pasted);
    QTest::keyClicks(entry, typed);
    w->findChild<QPushButton*>(confirm ? QStringLiteral("confirm") : QStringLiteral("cancel"))->click();
  });
  return dialogs.InputBox(prompt, std::nullopt, std::nullopt, variable, mode);
}

// What was typed is stored on OK, in the input box and in the pacing
// settings alike; Cancel leaves everything as it was.
TEST_F(QtDialogsTest, DialogsStoreWhatWasTypedOnOkOnly) {
  Value text = Text();
  EXPECT_TRUE(Answer(dialogs_, Utf8ToGbk("请输入关键字:"), std::nullopt, QStringLiteral(" a.1"), true, text,
                     QStringLiteral("关键字")));
  EXPECT_EQ(Value(Utf8ToGbk("关键字 a.1")), text);

  Value number = std::int32_t{7};
  EXPECT_TRUE(Answer(dialogs_, std::nullopt, 2, QStringLiteral("-1a2.3"), true, number));
  EXPECT_EQ(Value(std::int32_t{-123}), number);  // letters and dots were not accepted

  Value real = 0.0;
  EXPECT_TRUE(Answer(dialogs_, std::nullopt, 3, QStringLiteral("x2.5"), true, real));
  EXPECT_EQ(Value(2.5), real);

  Value pasted = Text();  // the filter applies to typed characters only
  EXPECT_TRUE(Answer(dialogs_, std::nullopt, 2, QStringLiteral("b"), true, pasted, QStringLiteral("a")));
  EXPECT_EQ(Value(Text("a")), pasted);

  Value small = std::uint8_t{0};
  EXPECT_TRUE(Answer(dialogs_, std::nullopt, 1, QStringLiteral("300"), true, small));
  EXPECT_EQ(Value(std::uint8_t{44}), small);  // narrowed to its width

  Value kept = Text("old");
  EXPECT_FALSE(Answer(dialogs_, std::nullopt, 1, QStringLiteral("new"), false, kept));
  EXPECT_EQ(Value(Text("old")), kept);

  // The harvest settings come up as given, the rate selected: typing replaces
  // it; the browse button fills in the proxies file, a path in the file
  // system's encoding; every label and check box is wide enough for its text.
  const QTemporaryDir folder;
  const QString list = folder.filePath(QStringLiteral("代理.txt"));
  QFile(list).open(QIODevice::WriteOnly);
  HarvestSettings settings{.rate = "0"};
  QStringList seen;
  bool fits = true;
  const auto answer = [&](const QString& typed, const char* button) {
    WhenModal([&, typed, button](QWidget* w) {
      auto* entry = w->findChild<QLineEdit*>(QStringLiteral("rate"));
      auto* file = w->findChild<QLineEdit*>(QStringLiteral("proxiesFile"));
      auto* once = w->findChild<QCheckBox*>(QStringLiteral("unique"));
      auto* noDirect = w->findChild<QCheckBox*>(QStringLiteral("noDirect"));
      const auto label = [w](const char* name) { return w->findChild<QLabel*>(QString::fromUtf8(name))->text(); };
      const auto tick = [](QCheckBox* box) {
        return box->isChecked() ? QStringLiteral("ticked") : QStringLiteral("clear");
      };
      seen = {w->windowTitle(), label("rateLabel"), once->text(), label("proxiesLabel"), noDirect->text(),
              entry->text(),    tick(once),         file->text(), tick(noDirect)};
      for (QWidget* text : w->findChildren<QWidget*>()) {
        if (qobject_cast<QLabel*>(text) || qobject_cast<QCheckBox*>(text)) {
          fits = fits && text->sizeHint().width() <= text->width() && w->rect().contains(text->geometry());
        }
      }
      QTest::keyClicks(entry, typed);
      once->click();
      noDirect->click();
      w->findChild<QLineEdit*>(QStringLiteral("include"))->insert(QStringLiteral("手机，电脑"));
      QTest::keyClicks(w->findChild<QLineEdit*>(QStringLiteral("minChars")), QStringLiteral("2"));
      w->findChild<QComboBox*>(QStringLiteral("mustContain"))->setCurrentIndex(2);
      WhenModal(
          [&](QWidget* chooser) {
            static_cast<QFileDialog*>(chooser)->selectFile(list);
            static_cast<QDialog*>(chooser)->accept();
          },
          "QFileDialog");
      w->findChild<QPushButton*>(QStringLiteral("browse"))->click();
      w->findChild<QPushButton*>(QString::fromUtf8(button))->click();
    });
  };
  answer(QStringLiteral("30"), "confirm");
  EXPECT_TRUE(dialogs_.PacingDialog(settings));
  EXPECT_EQ(QStringList({QStringLiteral("采集设置"), QStringLiteral("每分钟请求数(0为不限,auto为自动):"),
                         QStringLiteral("每个短语只采一次"), QStringLiteral("代理列表文件(每行一个代理):"),
                         QStringLiteral("不直连(只用代理)"), QStringLiteral("0"), QStringLiteral("clear"), QString(),
                         QStringLiteral("clear")}),
            seen);
  EXPECT_TRUE(fits);
  const HarvestSettings confirmed{
      "30", true, list.toUtf8().toStdString(), true, Utf8ToGbk("手机，电脑"), "", "", "root-words", "2", ""};
  EXPECT_EQ(confirmed, settings);
  answer(QStringLiteral("auto"), "cancel");
  EXPECT_FALSE(dialogs_.PacingDialog(settings));
  EXPECT_EQ(QStringList({QStringLiteral("30"), QStringLiteral("ticked"), list, QStringLiteral("ticked")}), seen.mid(5));
  EXPECT_EQ(confirmed, settings);
}

TEST_F(QtDialogsTest, InputBoxLayoutsAndMasking) {
  Value v = Text();
  QLineEdit::EchoMode echo = QLineEdit::Normal;
  QSize withPrompt, without;
  QString title;
  WhenModal([&](QWidget* w) {
    withPrompt = w->size();
    title = w->windowTitle();
    static_cast<QDialog*>(w)->reject();
  });
  dialogs_.InputBox(std::string_view("prompt"), std::nullopt, std::nullopt, v, std::nullopt);
  WhenModal([&](QWidget* w) {
    without = w->size();
    echo = w->findChild<QLineEdit*>(QStringLiteral("entry"))->echoMode();
    static_cast<QDialog*>(w)->reject();
  });
  dialogs_.InputBox(std::nullopt, std::nullopt, std::string_view("init"), v, 9);
  EXPECT_EQ(QStringLiteral("请输入："), title);
  EXPECT_GT(withPrompt.width(), without.width());
  EXPECT_GT(withPrompt.height(), without.height());
  EXPECT_EQ(QLineEdit::Password, echo);  // mode 9 counts as 4
}

TEST_F(QtDialogsTest, PopupMenus) {
  dialogs_.PopupMenu(Menu{"empty", {}});  // shows nothing, returns at once
  int chosen = 0;
  QStringList captions;
  WhenModal([&](QWidget* w) {
    auto* menu = static_cast<QMenu*>(w);
    for (QAction* a : menu->actions()) captions << (a->isSeparator() ? QStringLiteral("-") : a->text());
    menu->actions().first()->trigger();
    menu->close();
  });
  dialogs_.PopupMenu(Menu{
      "keywords", {{Utf8ToGbk("添加"), [&] { ++chosen; }, {}}, {"-", nullptr, {}}, {Utf8ToGbk("清空"), nullptr, {}}}});
  EXPECT_EQ(1, chosen);
  EXPECT_EQ(QStringList({QStringLiteral("添加"), QStringLiteral("-"), QStringLiteral("清空")}), captions);
  EXPECT_EQ(QPoint(13, 23), QtDialogs::PopupPosition({10, 20}, std::nullopt, std::nullopt));
  EXPECT_EQ(QPoint(5, 23), QtDialogs::PopupPosition({10, 20}, 5, std::nullopt));
}

}  // namespace
}  // namespace kelvarn

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
