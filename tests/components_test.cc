// The component operations over the headless stores: the edge cases of each
// operation, the cut-off rule, and many threads adding at once.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "ui/headless.h"

namespace kelvarn {
namespace {

class ComponentsTest : public ::testing::Test {
 protected:
  HeadlessUiThread ui_;
  MemoryListStore items_;
  GuardedListBox list_{ui_, items_, /*extendedSelection=*/true};
};

TEST_F(ComponentsTest, ListBoxItems) {
  EXPECT_EQ(0, list_.ItemCount());
  EXPECT_EQ(0, list_.AddItem("a"));
  EXPECT_EQ(1, list_.AddItem(""));      // an empty row
  EXPECT_EQ(2, list_.AddItem("a", 7));  // repeats allowed
  EXPECT_EQ(3, list_.ItemCount());
  EXPECT_EQ("a", list_.ItemText(0));
  EXPECT_EQ("", list_.ItemText(1));
  EXPECT_EQ("", list_.ItemText(-1));
  EXPECT_EQ("", list_.ItemText(3));
  EXPECT_EQ(7, items_.ValueAt(2));
  EXPECT_EQ(0, items_.ValueAt(0));
  list_.ClearItems();
  EXPECT_EQ(0, list_.ItemCount());
  EXPECT_EQ("", list_.ItemText(0));
}

TEST_F(ComponentsTest, SelectionIsClamped) {
  for (const char* t : {"a", "b", "c"}) list_.AddItem(t);
  list_.SetCurrentSelection(10);
  EXPECT_EQ(2, list_.CurrentSelection());
  list_.SetCurrentSelection(-5);
  EXPECT_EQ(-1, list_.CurrentSelection());
  list_.SetCurrentSelection(1);
  EXPECT_EQ(1, list_.CurrentSelection());
  list_.ClearItems();
  EXPECT_EQ(-1, list_.CurrentSelection());
  list_.SetCurrentSelection(0);  // empty list: -1
  EXPECT_EQ(-1, list_.CurrentSelection());
}

// Find, copy and sort over the whole list, as the window's keys and menu use
// them. "丄" is 81 41: its trail byte reads as "A" and must never be found.
TEST_F(ComponentsTest, FindCopyAndSortTheWholeList) {
  const Text zeta = "Zeta", shang = "\x81\x41", alpha = "alpha", aa = "\xB0\xA2\xB0\xA1", ALPHA = "ALPHA";
  std::int32_t value = 0;
  for (const Text& t : {zeta, shang, alpha, aa, ALPHA}) list_.AddItem(t, value++);

  struct Find {
    Text text;
    bool backward;
    std::int32_t found;
  };
  for (const Find& f : {Find{"alpha", false, 2},
                        {"alpha", false, 4},
                        {"alpha", false, 2},
                        {"alpha", true, 4},
                        {"A", false, 0},
                        {"a", false, 2},
                        {"\xB0\xA1", false, 3},  // 啊: whole characters
                        {"\xA2\xB0", false, -1},
                        {"", false, -1},
                        {"zz", true, -1}}) {
    EXPECT_EQ(f.found, list_.FindItem(f.text, f.backward)) << f.text;
  }
  EXPECT_EQ(std::vector<std::int32_t>{3}, items_.Highlighted());  // a miss leaves the last find highlighted

  items_.Highlight({0, 2});
  EXPECT_EQ(2, list_.CopyItems());
  EXPECT_EQ("Zeta\nalpha", items_.Clipboard());
  items_.Highlight({});
  EXPECT_EQ(0, list_.CopyItems());
  EXPECT_EQ("Zeta\nalpha", items_.Clipboard());  // nothing highlighted: left alone
  EXPECT_EQ(5, list_.CopyItems(true));
  EXPECT_EQ("Zeta\n" + shang + "\nalpha\n" + aa + "\nALPHA", items_.Clipboard());

  // GBK byte order, letters in either case alike, ties in list order; each
  // item keeps its value.
  list_.SortItems(ItemOrder::kAlphabetical);
  EXPECT_EQ((TextArray{alpha, ALPHA, zeta, shang, aa}), list_.Items());
  EXPECT_EQ(4, items_.ValueAt(1));
  list_.SortItems(ItemOrder::kByLength);  // in characters
  EXPECT_EQ((TextArray{shang, aa, zeta, alpha, ALPHA}), list_.Items());
  EXPECT_EQ(5, list_.AddItem("late"));  // appended after the sort

  // Bytes that are not GBK sort too, into one order: sorting again keeps it.
  list_.ClearItems();
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) {
    Text bytes(rng() % 12, '\0');
    for (char& c : bytes)
      c = "\x81"
          "0Aa\xFE@"[rng() % 6];
    list_.AddItem(bytes);
  }
  list_.SortItems(ItemOrder::kAlphabetical);
  const TextArray once = list_.Items();
  list_.SortItems(ItemOrder::kAlphabetical);
  EXPECT_EQ(once, list_.Items());
}

TEST_F(ComponentsTest, EditBoxRaisesContentChangedOncePerProgrammaticChange) {
  MemoryTextStore text;
  GuardedEditBox edit(ui_, text);
  int changes = 0;
  Text seen;
  edit.OnContentChanged([&] {
    ++changes;
    seen = edit.Content();  // the new text is already in place
  });
  edit.SetContent("20");
  EXPECT_EQ(1, changes);
  EXPECT_EQ("20", seen);
  edit.UserChanged();
  EXPECT_EQ(2, changes);
}

TEST_F(ComponentsTest, ButtonStatusBarAndFileDialog) {
  MemoryTextStore caption("start");
  GuardedButton button(ui_, caption);
  button.SetCaption("stop");
  EXPECT_EQ("stop", button.Caption());

  MemoryPanelStore panels(1);
  GuardedStatusBar status(ui_, panels);
  status.SetPanelText(0, "working");
  status.SetPanelText(1, "ignored");  // one panel only
  status.SetPanelText(-1, "ignored");
  EXPECT_EQ("working", status.PanelText(0));
  EXPECT_EQ("", status.PanelText(1));
  status.SetPanelText(0);
  EXPECT_EQ("", status.PanelText(0));

  std::optional<FileChoice> answer = FileChoice{"/tmp/a.csv", 2};
  FileRequest shown;
  GuardedFileDialog dialog(ui_, [&](const FileRequest& request) {
    shown = request;
    return answer;
  });
  EXPECT_EQ(FileDialog::kOpen, dialog.Type());
  EXPECT_EQ(1, dialog.FilterIndex());
  dialog.SetType(FileDialog::kSave);
  dialog.SetFilter("CSV|*.csv|TSV|*.tsv");
  EXPECT_TRUE(dialog.ShowFileDialog());
  EXPECT_EQ(FileDialog::kSave, shown.type);
  EXPECT_EQ("CSV|*.csv|TSV|*.tsv", shown.filter);
  EXPECT_EQ("/tmp/a.csv", dialog.FileName());
  EXPECT_EQ(2, dialog.FilterIndex());
  answer.reset();  // cancelled: the name and the type stay
  EXPECT_FALSE(dialog.ShowFileDialog());
  EXPECT_EQ("/tmp/a.csv", dialog.FileName());
  EXPECT_EQ(2, dialog.FilterIndex());

  // The extension a bare name gets under each type.
  const std::string_view filter = "T|*.txt|X|*.XLSX;*.xls|A|*.*|N|*";
  EXPECT_EQ("txt", FilterExtension(filter, 1, "d"));
  EXPECT_EQ("XLSX", FilterExtension(filter, 2, "d"));
  for (const std::int32_t index : {0, 3, 4, 5}) EXPECT_EQ("d", FilterExtension(filter, index, "d")) << index;
}

TEST_F(ComponentsTest, CallsOfACutOffRunDoNothing) {
  std::atomic<Generation> generation{1};
  const RunGuard guard(generation, 1);
  {
    ScopedRunGuard scope(guard);
    EXPECT_EQ(0, list_.AddItem("live"));
    ui_.Invoke([&] { ++generation; });  // a stop, on the window thread
    EXPECT_EQ(-1, list_.AddItem("late"));
    EXPECT_EQ(0, list_.ItemCount());
    EXPECT_EQ("", list_.ItemText(0));
  }
  EXPECT_EQ(1, list_.ItemCount());  // calls outside the run still work
  EXPECT_EQ("live", list_.ItemText(0));
}

TEST_F(ComponentsTest, TwentyThreadsAddingLoseNothing) {
  constexpr int kThreads = 20, kEach = 10000;
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  std::atomic<int> wrong{0};
  std::vector<std::vector<std::int32_t>> indexes(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) indexes[t].push_back(list_.AddItem(std::to_string(t) + ":" + std::to_string(i)));
    });
  }
  for (auto& th : threads) th.join();
  ASSERT_EQ(kThreads * kEach, list_.ItemCount());
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kEach; ++i) {
      if (list_.ItemText(indexes[t][i]) != std::to_string(t) + ":" + std::to_string(i)) wrong.fetch_add(1);
    }
  }
  EXPECT_EQ(0, wrong.load());
}

}  // namespace
}  // namespace kelvarn
