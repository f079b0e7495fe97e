#include "ui/stores.h"

#include <algorithm>
#include <limits>

namespace kelvarn {
namespace {

// The bytes of the GBK character at `i`: two from a lead byte, four for a
// GB18030 four-byte form (a digit second), one for anything else.
std::size_t CharBytes(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x81 || lead == 0xFF || i + 1 >= text.size()) return 1;
  const auto second = static_cast<unsigned char>(text[i + 1]);
  return second >= '0' && second <= '9' && i + 3 < text.size() ? 4 : 2;
}

std::size_t CharCount(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); i += CharBytes(text, i)) ++count;
  return count;
}

unsigned char FoldAscii(unsigned char byte) { return byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte; }

// The text to find, folded once, with which of its bytes are characters of
// their own: only those fold, a trail byte that looks like a letter must not.
class Needle {
 public:
  explicit Needle(std::string_view text) : bytes_(text), single_(text.size()) {
    for (std::size_t i = 0; i < text.size();) {
      const std::size_t n = CharBytes(text, i);
      if (n == 1) {
        single_[i] = true;
        bytes_[i] = static_cast<char>(FoldAscii(static_cast<unsigned char>(text[i])));
      }
      i += n;
    }
  }

  bool FoundIn(std::string_view item) const {
    const std::size_t n = bytes_.size();
    if (n == 0 || item.size() < n) return false;
    for (std::size_t i = 0; i + n <= item.size(); i += CharBytes(item, i)) {
      std::size_t k = 0;
      while (k < n) {
        const auto byte = static_cast<unsigned char>(item[i + k]);
        if ((single_[k] ? FoldAscii(byte) : byte) != static_cast<unsigned char>(bytes_[k])) break;
        ++k;
      }
      if (k == n) return true;
    }
    return false;
  }

 private:
  std::string bytes_;
  std::vector<bool> single_;
};

// Alphabetical order: each text's bytes with the ASCII letters folded that
// are characters of their own, compared as unsigned bytes. Each text is
// folded by its own characters alone, so that the order stays a strict one
// even on bytes that are not GBK (a sort relies on that).
bool AlphabeticallyBefore(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t leftA = 0, leftB = 0;  // bytes left of the character each text is in
  bool singleA = false, singleB = false;
  for (std::size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (leftA == 0) singleA = (leftA = CharBytes(a, i)) == 1;
    if (leftB == 0) singleB = (leftB = CharBytes(b, i)) == 1;
    if (singleA) x = FoldAscii(x);
    if (singleB) y = FoldAscii(y);
    if (x != y) return x < y;
    --leftA;
    --leftB;
  }
  return a.size() < b.size();
}

// The first sixteen bytes of the alphabetical order, as two numbers: most
// comparisons of a sort end there, without reading the texts.
struct OrderPrefix {
  OrderPrefix() = default;
  explicit OrderPrefix(std::string_view text) {
    unsigned char folded[16] = {};
    for (std::size_t i = 0; i < text.size() && i < sizeof folded;) {
      const std::size_t n = CharBytes(text, i);
      for (std::size_t k = 0; k < n && i < sizeof folded; ++k, ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        folded[i] = n == 1 ? FoldAscii(byte) : byte;
      }
    }
    for (std::size_t i = 0; i < 8; ++i) {
      high = high << 8 | folded[i];
      low = low << 8 | folded[8 + i];
    }
  }
  bool operator!=(const OrderPrefix& other) const { return high != other.high || low != other.low; }
  bool operator<(const OrderPrefix& other) const { return high != other.high ? high < other.high : low < other.low; }
  std::uint64_t high = 0, low = 0;
};

thread_local const RunGuard* currentGuard = nullptr;

// Runs `effect` on the window thread unless the caller's run was cut off;
// returns its result, or `fallback` when it did not run.
template <class R, class F>
R OnWindowThread(UiThread& ui, R fallback, F&& effect) {
  // One pointer is captured, so that std::function keeps the call in place
  // instead of allocating it: every list addition of a harvest comes here.
  struct Call {
    const RunGuard* guard;
    R result;
    F& effect;
  } call{currentGuard, std::move(fallback), effect};
  ui.Invoke([c = &call] {
    if (c->guard && c->guard->Stale()) return;
    c->result = c->effect();
  });
  return std::move(call.result);
}

template <class F>
void OnWindowThread(UiThread& ui, F&& effect) {
  OnWindowThread(ui, false, [&] {
    effect();
    return true;
  });
}

}  // namespace

bool ItemBlock::Append(std::string_view text, std::int32_t itemValue) {
  if (bytes_.size() + text.size() > std::numeric_limits<std::uint32_t>::max() ||
      offsets_.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return false;  // the list is full
  }
  bytes_.append(text);
  offsets_.push_back(static_cast<std::uint32_t>(bytes_.size()));
  values_.push_back(itemValue);
  return true;
}

std::string_view ItemBlock::View(std::int32_t index) const {
  const auto i = static_cast<std::size_t>(index);
  const std::uint32_t begin = i == 0 ? 0 : offsets_[i - 1];
  return std::string_view(bytes_).substr(begin, offsets_[i] - begin);
}

void ItemBlock::Clear() {
  bytes_ = std::string();
  offsets_ = {};
  values_ = {};
}

std::int32_t ItemBlock::Find(std::string_view text, std::int32_t from, bool backward) const {
  const std::int32_t count = Count();
  if (text.empty() || count == 0) return -1;
  if (from < 0 || from >= count) from = backward ? count : -1;
  const Needle needle(text);
  for (std::int32_t step = 1; step <= count; ++step) {
    // In 64 bits: from + step passes INT32_MAX on the longest list.
    const auto at =
        static_cast<std::int32_t>(((std::int64_t{from} + (backward ? -step : step)) % count + count) % count);
    if (needle.FoundIn(View(at))) return at;
  }
  return -1;
}

void ItemBlock::Sort(ItemOrder order) {
  struct Key {
    OrderPrefix prefix;
    std::uint32_t length;  // in characters; 0 when sorting alphabetically
    std::uint32_t index;
  };
  std::vector<Key> keys(offsets_.size());
  for (std::int32_t i = 0; i < Count(); ++i) {
    const std::string_view text = View(i);
    keys[static_cast<std::size_t>(i)] = {
        OrderPrefix(text), order == ItemOrder::kByLength ? static_cast<std::uint32_t>(CharCount(text)) : 0,
        static_cast<std::uint32_t>(i)};
  }
  std::stable_sort(keys.begin(), keys.end(), [this](const Key& a, const Key& b) {
    if (a.length != b.length) return a.length < b.length;
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    return AlphabeticallyBefore(View(static_cast<std::int32_t>(a.index)), View(static_cast<std::int32_t>(b.index)));
  });
  std::string bytes;
  bytes.reserve(bytes_.size());
  std::vector<std::uint32_t> offsets;
  offsets.reserve(offsets_.size());
  std::vector<std::int32_t> values;
  values.reserve(values_.size());
  for (const Key& key : keys) {
    bytes.append(View(static_cast<std::int32_t>(key.index)));
    offsets.push_back(static_cast<std::uint32_t>(bytes.size()));
    values.push_back(values_[key.index]);
  }
  bytes_ = std::move(bytes);
  offsets_ = std::move(offsets);
  values_ = std::move(values);
}

Text ItemBlock::Lines(const std::vector<std::int32_t>* rows, std::string_view lineEnd) const {
  Text lines;
  bool first = true;
  const auto add = [&](std::int32_t row) {
    if (!first) lines.append(lineEnd);
    first = false;
    lines.append(View(row));
  };
  if (!rows) {
    lines.reserve(bytes_.size() + offsets_.size() * lineEnd.size());
    for (std::int32_t i = 0; i < Count(); ++i) add(i);
    return lines;
  }
  for (const std::int32_t row : *rows) {
    if (row >= 0 && row < Count()) add(row);
  }
  return lines;
}

ScopedRunGuard::ScopedRunGuard(const RunGuard& guard) : previous_(currentGuard) { currentGuard = &guard; }
ScopedRunGuard::~ScopedRunGuard() { currentGuard = previous_; }
const RunGuard* ScopedRunGuard::Current() { return currentGuard; }

std::int32_t GuardedListBox::AddItem(std::string_view text, std::int32_t itemValue) {
  return OnWindowThread(ui_, std::int32_t{-1},
                        [&] { return store_.Append(text, itemValue) ? store_.Count() - 1 : std::int32_t{-1}; });
}

std::int32_t GuardedListBox::ItemCount() {
  return OnWindowThread(ui_, std::int32_t{0}, [&] { return store_.Count(); });
}

Text GuardedListBox::ItemText(std::int32_t index) {
  return OnWindowThread(ui_, Text(), [&] { return index >= 0 && index < store_.Count() ? store_.At(index) : Text(); });
}

void GuardedListBox::ClearItems() {
  OnWindowThread(ui_, [&] {
    store_.Clear();
    selection_ = -1;
  });
}

void GuardedListBox::SetCurrentSelection(std::int32_t index) {
  OnWindowThread(ui_, [&] {
    selection_ = std::clamp(index, std::int32_t{-1}, store_.Count() - 1);
    if (!extended_) store_.ShowSelection(selection_);
  });
}

std::int32_t GuardedListBox::CurrentSelection() {
  return OnWindowThread(ui_, std::int32_t{-1}, [&] { return selection_; });
}

TextArray GuardedListBox::Items() {
  return OnWindowThread(ui_, TextArray(), [&] {
    const ItemBlock& block = store_.Block();
    TextArray items;
    items.reserve(static_cast<std::size_t>(block.Count()));
    for (std::int32_t i = 0; i < block.Count(); ++i) items.emplace_back(block.View(i));
    return items;
  });
}

std::int32_t GuardedListBox::FindItem(std::string_view text, bool backward) {
  return OnWindowThread(ui_, std::int32_t{-1}, [&] {
    const std::int32_t found = store_.Block().Find(text, store_.FocusRow(), backward);
    if (found >= 0) store_.Reveal(found);
    return found;
  });
}

std::int32_t GuardedListBox::CopyItems(bool all) {
  return OnWindowThread(ui_, std::int32_t{0}, [&] {
    const ItemBlock& block = store_.Block();
    std::vector<std::int32_t> rows;
    if (!all) {
      rows = store_.Highlighted();
      std::erase_if(rows, [&](std::int32_t row) { return row < 0 || row >= block.Count(); });
    }
    const auto copied = all ? block.Count() : static_cast<std::int32_t>(rows.size());
    if (copied > 0) store_.SetClipboard(block.Lines(all ? nullptr : &rows, store_.LineEnd()));
    return copied;
  });
}

void GuardedListBox::SortItems(ItemOrder order) {
  OnWindowThread(ui_, [&] {
    store_.Block().Sort(order);
    store_.Reordered();
  });
}

Text GuardedEditBox::Content() {
  return OnWindowThread(ui_, Text(), [&] { return store_.Get(); });
}

void GuardedEditBox::SetContent(std::string_view text) {
  OnWindowThread(ui_, [&] {
    store_.Set(text);
    if (changed_) changed_();
  });
}

void GuardedEditBox::OnContentChanged(std::function<void()> handler) {
  ui_.Invoke([&] { changed_ = std::move(handler); });
}

void GuardedEditBox::UserChanged() {
  if (changed_) changed_();
}

Text GuardedButton::Caption() {
  return OnWindowThread(ui_, Text(), [&] { return store_.Get(); });
}

void GuardedButton::SetCaption(std::string_view caption) {
  OnWindowThread(ui_, [&] { store_.Set(caption); });
}

void GuardedStatusBar::SetPanelText(std::int32_t panel, std::string_view text) {
  OnWindowThread(ui_, [&] {
    if (panel >= 0 && panel < store_.Count()) store_.Set(panel, text);
  });
}

Text GuardedStatusBar::PanelText(std::int32_t panel) {
  return OnWindowThread(ui_, Text(), [&] { return panel >= 0 && panel < store_.Count() ? store_.Get(panel) : Text(); });
}

void GuardedStatusBar::SetProgressText(std::string_view text) {
  OnWindowThread(ui_, [&] { store_.SetProgress(text); });
}

Text GuardedStatusBar::ProgressText() {
  return OnWindowThread(ui_, Text(), [&] { return store_.Progress(); });
}

void GuardedFileDialog::SetType(std::int32_t type) {
  OnWindowThread(ui_, [&] { type_ = type; });
}

std::int32_t GuardedFileDialog::Type() {
  return OnWindowThread(ui_, std::int32_t{kOpen}, [&] { return type_; });
}

Text FilterExtension(std::string_view filter, std::int32_t index, std::string_view fallback) {
  const TextArray parts = TextSplit(filter, "|");
  const auto at = static_cast<std::size_t>(index) * 2 - 1;
  if (index < 1 || at >= parts.size()) return Text(fallback);
  const std::string_view first = std::string_view(parts[at]).substr(0, parts[at].find(';'));
  const std::size_t dot = first.rfind('.');
  const std::string_view extension = dot == std::string_view::npos ? std::string_view() : first.substr(dot + 1);
  const bool named = !extension.empty() && extension.find_first_of("*?") == std::string_view::npos;
  return Text(named ? extension : fallback);
}

void GuardedFileDialog::SetFilter(std::string_view filter) {
  OnWindowThread(ui_, [&] { filter_ = Text(filter); });
}

bool GuardedFileDialog::ShowFileDialog() {
  return OnWindowThread(ui_, false, [&] {
    const std::optional<FileChoice> chosen = chooser_ ? chooser_({type_, fileName_, filter_}) : std::nullopt;
    if (!chosen) return false;
    fileName_ = chosen->path;
    filterIndex_ = chosen->filterIndex;
    return true;
  });
}

Text GuardedFileDialog::FileName() {
  return OnWindowThread(ui_, Text(), [&] { return fileName_; });
}

std::int32_t GuardedFileDialog::FilterIndex() {
  return OnWindowThread(ui_, std::int32_t{1}, [&] { return filterIndex_; });
}

}  // namespace kelvarn
