// The main window on Qt's offscreen platform, driven as a user would.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/main_window.h"
#include "text/files.h"
#include "tools/engine/offline_engine.h"
#include "ui/qt/gbk.h"
#include "ui/qt/qt_components.h"
#include "window/qt/qt_window_platform.h"
#include "window/window_program.h"

// Failures show Qt's texts as text.
void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace kelvarn {
namespace {

struct World {
  std::unique_ptr<QtWindowPlatform> platform;
  std::unique_ptr<OfflineEngine> engine;
  AppHandles handles;
  std::string dir;
  MainWindow* window = nullptr;
  bool asked = false;  // the close question came up
};
World* world = nullptr;

template <class T>
T* Find(const char* name) {
  return world->window->findChild<T*>(QString::fromUtf8(name));
}

bool WaitFor(const std::function<bool()>& done, int ms = 30000) {
  QDeadlineTimer deadline(ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

QString Status() { return Find<QStatusBar>(kStatusBar)->findChild<QLabel*>()->text(); }

int Rows(const char* list) { return Find<QListView>(list)->model()->rowCount(); }

// Runs `act` on the next modal dialog once the event loop shows it.
void WhenModal(const std::function<void(QWidget*)>& act) {
  QTimer::singleShot(0, [act] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      act(modal);
    } else {
      WhenModal(act);
    }
  });
}

// Right-clicks `list` and picks `item` in the menu that opens, as a user
// does ("menu/item" picks in a sub-menu); returns the menu's captions. The first dialog the item opens goes to
// `answer`; any other is turned down, so that a miswired item fails the test
// instead of hanging it.
QStringList Choose(const char* list, const QString& item, std::function<void(QWidget*)> answer = {}) {
  QStringList captions;
  bool picked = false;
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget()); menu && !picked) {
      picked = true;
      for (QAction* a : menu->actions()) captions << (a->isSeparator() ? QStringLiteral("-") : a->text());
      const QStringList path = item.split(QLatin1Char('/'));
      QAction* pick = nullptr;
      for (QAction* a : menu->actions()) {
        if (a->text() == path.first()) pick = a;
      }
      QAction* inSubMenu = nullptr;
      for (QAction* a : pick && pick->menu() && path.size() > 1 ? pick->menu()->actions() : QList<QAction*>()) {
        if (a->text() == path.last()) inSubMenu = a;
      }
      // Clicked once this watcher has returned, so that it can still answer
      // the dialog the item opens.
      QTimer::singleShot(0, menu, [menu, pick, inSubMenu] {
        if (inSubMenu) {
          inSubMenu->trigger();
        } else if (pick) {
          QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(pick).center());
        }
        if (menu->isVisible()) menu->close();
      });
    } else if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      if (answer) {
        std::exchange(answer, nullptr)(dialog);
      } else {
        ADD_FAILURE() << "unexpected dialog " << dialog->objectName().toStdString();
        dialog->reject();
      }
    }
  });
  watcher.start(10);
  QTest::mouseClick(Find<QListView>(list)->viewport(), Qt::RightButton, {}, QPoint(10, 10));
  EXPECT_FALSE(answer) << "no dialog came up";
  return captions;
}

// The phrases of an exported file, read as its type is read: GBK lines, CSV
// with its byte-order mark and header, a workbook through openpyxl (nothing
// after checking its form when Python has no openpyxl). The columns the
// window cannot know must be empty.
std::optional<QStringList> ExportedPhrases(const std::string& path) {
  const ByteArray raw = ReadFileBytes(path);
  std::string bytes(raw.begin(), raw.end()), header = "phrase,level,parent,seed,source";
  if (path.ends_with(".xlsx")) {
    EXPECT_TRUE(bytes.starts_with("PK\x03\x04"));
    // The system's Python has openpyxl when the one first on the path has not.
    const std::string read =
        "for p in python3 /usr/bin/python3; do $p -c 'import openpyxl' 2>/dev/null && exec $p -c 'import sys, "
        "openpyxl\n"
        "for r in openpyxl.load_workbook(sys.argv[1]).active.iter_rows(values_only=True):\n"
        " print(\",\".join(\"\" if c is None else str(c) for c in r), end=\"\\r\\n\")' '" +
        path + "'; done; exit 77";
    bytes.clear();
    if (FILE* out = ::popen(read.c_str(), "r")) {
      for (int c; (c = std::fgetc(out)) != EOF;) bytes += static_cast<char>(c);
      const int status = ::pclose(out);
      if (WIFEXITED(status) && WEXITSTATUS(status) == 77) return std::nullopt;
      EXPECT_EQ(0, status) << path << " read as a workbook: " << bytes;
    }
    bytes = "\xEF\xBB\xBF" + bytes;
  }
  QStringList phrases;
  if (path.ends_with(".txt")) {
    for (const Text& line : TextSplit(bytes, "\r\n")) phrases << FromGbk(line);
    return phrases;
  }
  EXPECT_TRUE(bytes.starts_with("\xEF\xBB\xBF" + header + "\r\n")) << path;
  for (const Text& line : TextSplit(bytes.substr(bytes.find("\r\n") + 2), "\r\n")) {
    if (!line.empty()) phrases << QString::fromStdString(line.substr(0, line.size() - line.ends_with(",,,,") * 4));
  }
  return phrases;
}

TEST(WindowTest, ComponentsSitWhereTheyBelong) {
  MainWindow& w = *world->window;
  EXPECT_EQ(QStringLiteral("Kelvarn"), w.windowTitle());
  EXPECT_EQ(QSize(377, 432), w.size());
  EXPECT_EQ(w.minimumSize(), w.maximumSize());  // not resizable
  EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
  struct Expected {
    const char* name;
    QRect geometry;
  };
  for (const Expected& e : {Expected{kSeedGroup, {8, 8, 176, 320}}, Expected{kSeedList, {8, 16, 160, 296}},
                            Expected{kPhraseGroup, {192, 8, 176, 320}}, Expected{kPhraseList, {8, 16, 160, 296}},
                            Expected{kSettingsGroup, {8, 336, 360, 48}}, Expected{kWorkersLabel, {8, 16, 56, 24}},
                            Expected{kWorkersBox, {64, 16, 56, 24}}, Expected{kDepthLabel, {128, 16, 56, 24}},
                            Expected{kDepthBox, {184, 16, 56, 24}}, Expected{kStartButton, {248, 16, 104, 24}},
                            Expected{kStatusBar, {0, 412, 377, 20}}}) {
    QWidget* widget = Find<QWidget>(e.name);
    ASSERT_NE(nullptr, widget) << e.name;
    EXPECT_EQ(e.geometry, widget->geometry()) << e.name;
  }
  EXPECT_EQ(QStringLiteral("开始采集"), Find<QPushButton>(kStartButton)->text());
  EXPECT_EQ(QAbstractItemView::ExtendedSelection, Find<QListView>(kSeedList)->selectionMode());

  // A group box's frame line and title stay clear of what it holds: drawn
  // without its components, it shows nothing where they sit.
  for (const char* name : {kSeedGroup, kPhraseGroup, kSettingsGroup}) {
    QWidget* box = Find<QWidget>(name);
    const QList<QWidget*> held = box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* c : held) c->hide();
    const QImage drawn = box->grab().toImage();
    for (QWidget* c : held) c->show();
    for (const QWidget* c : held) {
      const QRect r = c->geometry();
      int marked = 0;
      for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) marked += drawn.pixel(x, y) != drawn.pixel(r.center());
      }
      EXPECT_EQ(0, marked) << name << " under " << c->objectName().toStdString();
    }
  }
}

TEST(WindowTest, SettingsAreWrittenAtStartAndOnEveryEdit) {
  const std::string ini = world->dir + "config.ini";
  EXPECT_EQ("20", ReadSetting(ini, Utf8ToGbk("配置"), Utf8ToGbk("工作线程")));
  EXPECT_EQ(QStringLiteral("1"), Find<QLineEdit>(kDepthBox)->text());
  QLineEdit* depth = Find<QLineEdit>(kDepthBox);
  depth->selectAll();
  QTest::keyClicks(depth, QStringLiteral("2"));
  EXPECT_EQ("2", ReadSetting(ini, Utf8ToGbk("配置"), Utf8ToGbk("采集级别")));
  depth->selectAll();
  QTest::keyClicks(depth, QStringLiteral("1"));
  EXPECT_EQ("1", ReadSetting(ini, Utf8ToGbk("配置"), Utf8ToGbk("采集级别")));
}

// Every item of both pop-up menus, picked as a user picks it.
TEST(WindowTest, TheListsMenusDoWhatTheySay) {
  const std::string seeds = world->dir + "seeds.txt", out = world->dir + "out.txt";
  ASSERT_TRUE(WriteFileBytes(seeds, {Utf8ToGbk("关键字\r\n挖掘\r\n")}));
  world->window->SetFileChooser([&](const FileRequest& request) -> std::optional<FileChoice> {
    return FileChoice{request.type == FileDialog::kOpen ? seeds : out};
  });
  EXPECT_EQ(QStringList({QStringLiteral("添加"), QStringLiteral("导入"), QStringLiteral("-"), QStringLiteral("清空"),
                         QStringLiteral("-"), QStringLiteral("采集设置...")}),
            Choose(kSeedList, QStringLiteral("导入")));
  EXPECT_EQ(QStringLiteral("导入完成."), Status());
  ASSERT_TRUE(WaitFor([] { return Rows(kSeedList) == 2; }));

  QTest::mouseClick(Find<QPushButton>(kStartButton), Qt::LeftButton);
  EXPECT_EQ(QStringLiteral("停止留言"), Find<QPushButton>(kStartButton)->text());
  ASSERT_TRUE(WaitFor([] { return Status() == QStringLiteral("采集完成,空闲等待中,相关关键字共(20)个"); }));
  EXPECT_EQ(QStringLiteral("开始采集"), Find<QPushButton>(kStartButton)->text());

  // Copy all, sort, find and copy: the phrase list's menu and keys.
  Choose(kPhraseList, QStringLiteral("复制全部"));
  const QStringList copied = QGuiApplication::clipboard()->text().split(QLatin1Char('\n'));
  EXPECT_EQ(20, copied.size());
  const auto rows = [] {
    TextArray texts;
    for (int i = 0; i < Rows(kPhraseList); ++i)
      texts.push_back(Utf8ToGbk(Find<QListView>(kPhraseList)->model()->index(i, 0).data().toString().toStdString()));
    return texts;
  };
  Choose(kPhraseList, QStringLiteral("排序/按长度"));
  const TextArray byLength = rows();
  EXPECT_TRUE(std::is_sorted(byLength.begin(), byLength.end(), [](const Text& a, const Text& b) {
    return a.size() < b.size();
  }));  // all GBK: 2 bytes a character
  Choose(kPhraseList, QStringLiteral("排序/按字母(A-Z)"));
  TextArray alphabetical;
  for (const QString& phrase : copied) alphabetical.push_back(Utf8ToGbk(phrase.toStdString()));
  std::sort(alphabetical.begin(), alphabetical.end());  // GBK bytes: pinyin order
  ASSERT_EQ(alphabetical, rows());

  QListView* phraseList = Find<QListView>(kPhraseList);
  const QString wanted = phraseList->model()->index(19, 0).data().toString();
  const auto type = [](const QString& text, const std::function<void(QWidget*)>& then = {}) {
    WhenModal([text, then](QWidget* box) {
      box->findChild<QLineEdit*>(QStringLiteral("entry"))->setText(text);
      if (then) WhenModal(then);
      box->findChild<QPushButton*>(QStringLiteral("confirm"))->click();
    });
  };
  type(wanted);
  QTest::keyClick(phraseList, Qt::Key_F, Qt::ControlModifier);
  const int first = static_cast<int>(
      std::find(alphabetical.begin(), alphabetical.end(), Utf8ToGbk(wanted.toStdString())) - alphabetical.begin());
  ASSERT_EQ(QModelIndexList{phraseList->model()->index(first, 0)}, phraseList->selectionModel()->selectedIndexes());
  QTest::keyClick(phraseList, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(wanted, QGuiApplication::clipboard()->text());
  QString notFound;
  type(QStringLiteral("没有的词"), [&](QWidget* box) {
    notFound = static_cast<QMessageBox*>(box)->text();
    box->close();
  });
  QTest::keyClick(phraseList, Qt::Key_F, Qt::ControlModifier);
  EXPECT_EQ(QStringLiteral("找不到\"没有的词\""), notFound);
  EXPECT_EQ(first, phraseList->currentIndex().row());

  EXPECT_EQ(
      QStringList({QStringLiteral("导出"), QStringLiteral("复制全部"), QStringLiteral("排序"), QStringLiteral("-"),
                   QStringLiteral("清空"), QStringLiteral("-"), QStringLiteral("采集设置...")}),
      Choose(kPhraseList, QStringLiteral("导出")));
  EXPECT_EQ(QStringLiteral("导出完成."), Status());
  const ByteArray bytes = ReadFileBytes(out);
  EXPECT_EQ(20, TextSplit(std::string(bytes.begin(), bytes.end()), "\r\n").size());

  // Each file type through the real dialog: a type picked and a bare name,
  // or a name with its own extension under the first type. Every file holds
  // the list as it stands, in its order.
  world->window->SetFileChooser(QtFileChooser(world->window, "txt"));
  QStringList phrases, offered;
  for (int i = 0; i < Rows(kPhraseList); ++i) {
    phrases << Find<QListView>(kPhraseList)->model()->index(i, 0).data().toString();
  }
  const struct {
    const char *type, *typed, *saved;
  } exports[] = {{"TXT文件 (*.txt)", "out2", "out2.txt"},
                 {"CSV文件(逗号分隔) (*.csv)", "out2", "out2.csv"},
                 {"Excel工作簿 (*.xlsx)", "out2", "out2.xlsx"},
                 {"TXT文件 (*.txt)", "typed.csv", "typed.csv"}};
  for (const auto& e : exports) {
    Choose(kPhraseList, QStringLiteral("导出"), [&](QWidget* dialog) {
      offered = static_cast<QFileDialog*>(dialog)->nameFilters();
      static_cast<QFileDialog*>(dialog)->selectNameFilter(QString::fromUtf8(e.type));
      static_cast<QFileDialog*>(dialog)->setDirectory(QString::fromStdString(world->dir));
      dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QString::fromUtf8(e.typed));
      dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save)->click();
    });
    EXPECT_EQ(QStringLiteral("导出完成."), Status()) << e.saved;
    if (const std::optional<QStringList> read = ExportedPhrases(world->dir + e.saved)) {
      EXPECT_EQ(phrases, *read) << e.saved;
    }
  }
  EXPECT_EQ(QStringList({QStringLiteral("TXT文件 (*.txt)"), QStringLiteral("CSV文件(逗号分隔) (*.csv)"),
                         QStringLiteral("Excel工作簿 (*.xlsx)"), QStringLiteral("所有文件 (*.*)")}),
            offered);
  Choose(kPhraseList, QStringLiteral("清空"));
  EXPECT_TRUE(WaitFor([] { return Rows(kPhraseList) == 0; }));
  EXPECT_EQ(QStringLiteral("导出完成."), Status());  // clearing the phrases says nothing

  // A keyword wider than the list: the list keeps its rows, no horizontal bar.
  const QString wide = QStringLiteral("很长很长的关键字").repeated(6);
  Choose(kSeedList, QStringLiteral("添加"), [&](QWidget* box) {
    box->findChild<QLineEdit*>(QStringLiteral("entry"))->setText(wide);
    box->findChild<QPushButton*>(QStringLiteral("confirm"))->click();
  });
  ASSERT_TRUE(WaitFor([] { return Rows(kSeedList) == 3; }));
  QListView* list = Find<QListView>(kSeedList);
  EXPECT_EQ(wide, list->model()->index(2, 0).data().toString());
  QTest::qWait(100);
  EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
  Choose(kSeedList, QStringLiteral("清空"));
  EXPECT_EQ(QStringLiteral("列表已清空.."), Status());
  EXPECT_TRUE(WaitFor([] { return Rows(kSeedList) == 0; }));

  // The pacing settings, from either list's menu, go to a section of their own.
  Choose(kPhraseList, QStringLiteral("采集设置..."), [](QWidget* dialog) {
    dialog->findChild<QLineEdit*>(QStringLiteral("rate"))->setText(QStringLiteral("auto"));
    dialog->findChild<QPushButton*>(QStringLiteral("confirm"))->click();
  });
  EXPECT_EQ("auto", ReadSetting(world->dir + "config.ini", Utf8ToGbk("采集节奏"), Utf8ToGbk("请求频率")));
}

TEST(WindowTest, StandardButtonsSpeakChinese) {
  const QString catalog = QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_zh_CN.qm");
  if (!QFile::exists(catalog)) GTEST_SKIP() << "no " << catalog.toStdString();
  ASSERT_TRUE(LoadQtTranslations());
  QStringList captions;
  WhenModal([&](QWidget* box) {
    for (QAbstractButton* b : static_cast<QMessageBox*>(box)->buttons()) captions << b->text();
    static_cast<QMessageBox*>(box)->button(QMessageBox::Cancel)->click();
  });
  EXPECT_EQ(kIdCancel, world->window->dialogs().ShowMessage(Text("?"), kMbOkCancel));
  captions.sort();
  EXPECT_EQ(QStringList({QStringLiteral("取消"), QStringLiteral("确定")}), captions);
}

// Ends the process, as closing the window does, so it comes last; main()'s
// exit clean-up turns what it saw into the exit status.
TEST(WindowTest, TheCloseQuestionComesAfterTheWindowHasGone) {
  WhenModal([](QWidget* modal) {
    auto* box = static_cast<QMessageBox*>(modal);
    world->asked = true;
    EXPECT_EQ(QStringLiteral("是否进入Veskor官方查看最新作品?"), box->text());
    EXPECT_FALSE(world->window->isVisible());
    box->button(QMessageBox::Cancel)->click();
  });
  world->window->close();
  ADD_FAILURE() << "the close sequence returned";
}

}  // namespace
}  // namespace kelvarn

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  using namespace kelvarn;
  World w;
  world = &w;
  w.platform = std::make_unique<QtWindowPlatform>();
  InitFrame(w.platform->Frame());
  w.engine = std::make_unique<OfflineEngine>();
  w.engine->Start();
  char pattern[] = "/tmp/kelvarn-window-XXXXXX";
  w.dir = std::string(::mkdtemp(pattern)) + "/";
  Harvester::Options options;
  options.settingsDir = w.dir;
  options.searchBase = w.engine->BaseUrl();
  if (!OpenMainWindow(*w.platform, w.handles, options)) return 1;
  w.window = w.platform->Window();
  SetExitCleanup([] {
    std::system(("rm -rf '" + world->dir + "'").c_str());
    std::fflush(nullptr);
    std::_Exit(::testing::Test::HasFailure() || !world->asked ? 1 : 0);
  });
  const int result = RUN_ALL_TESTS();
  std::system(("rm -rf '" + w.dir + "'").c_str());
  std::fflush(nullptr);
  std::_Exit(result);  // the window's harvester stays with the frame; no teardown races
}
