#include "app/phrase_set.h"

#include <array>
#include <cstring>

#include "text/text.h"

namespace kelvarn {
namespace {

constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
constexpr int kPlaceBits = 40;
constexpr std::uint64_t kPlaceMask = (std::uint64_t{1} << kPlaceBits) - 1;
constexpr std::uint64_t kAskedBit = std::uint64_t{1} << kPlaceBits;
constexpr std::uint64_t kListedBit = kAskedBit << 1;
constexpr std::uint64_t kTagMask = ~(kPlaceMask | kAskedBit | kListedBit);

// The GB18030 forms of U+FF01..U+FF5E (full-width ASCII) and U+3000 (the
// ideographic space), each two bytes, with the ASCII they fold to: from the
// converter, so that the table agrees with every other conversion.
struct FullWidth {
  std::array<char, 65536> ascii{};  // by the two bytes; 0: not full-width
  FullWidth() {
    const auto add = [&](char32_t code, char to) {
      const char utf8[] = {static_cast<char>(0xE0 | (code >> 12)), static_cast<char>(0x80 | ((code >> 6) & 0x3F)),
                           static_cast<char>(0x80 | (code & 0x3F))};
      const std::string gbk = Utf8ToGbk(std::string_view(utf8, 3));
      if (gbk.size() == 2) ascii[static_cast<unsigned char>(gbk[0]) << 8 | static_cast<unsigned char>(gbk[1])] = to;
    };
    for (char32_t c = 0xFF01; c <= 0xFF5E; ++c) add(c, static_cast<char>(c - 0xFF01 + 0x21));
    add(0x3000, ' ');
  }
};

std::uint64_t Hash(std::string_view text) {
  std::uint64_t h = 1469598103934665603ull;
  for (const char c : text) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return h ^ (h >> 29);
}

}  // namespace

std::string FoldPhrase(std::string_view gbk) {
  static const FullWidth fullWidth;
  std::string out;
  out.reserve(gbk.size());
  bool space = false;  // a space is owed before the next character
  for (std::size_t i = 0; i < gbk.size();) {
    const auto b = static_cast<unsigned char>(gbk[i]);
    std::size_t length = 1;
    char ascii = static_cast<char>(b);
    if (b >= 0x81 && i + 1 < gbk.size()) {
      const auto second = static_cast<unsigned char>(gbk[i + 1]);
      length = second >= 0x30 && second <= 0x39 ? 4 : 2;  // GB18030's four-byte forms
      ascii = length == 2 ? fullWidth.ascii[b << 8 | second] : '\0';
    }
    length = std::min(length, gbk.size() - i);
    if (ascii == ' ' || ascii == '\t') {
      space = !out.empty();
    } else {
      if (space) out += ' ', space = false;
      if (ascii != '\0' && (length == 1 || ascii != static_cast<char>(b))) {
        out += ascii >= 'A' && ascii <= 'Z' ? static_cast<char>(ascii - 'A' + 'a') : ascii;
      } else {
        out.append(gbk.substr(i, length));
      }
    }
    i += length;
  }
  return out;
}

std::string_view PhraseSet::At(std::uint64_t slot) const {
  const std::uint64_t place = (slot & kPlaceMask) - 1;
  const char* p = blocks_[place / kBlockBytes].get() + place % kBlockBytes;
  std::size_t length = static_cast<unsigned char>(p[0]);
  if (length >= 0x80) length = (length & 0x7F) | static_cast<std::size_t>(static_cast<unsigned char>(p[1])) << 7, ++p;
  return {p + 1, length};
}

std::uint64_t PhraseSet::Store(std::string_view text) {
  // A length byte, two when it is 128 or more; longer phrases are cut to
  // what two bytes count: the engine never sends them.
  text = text.substr(0, std::min<std::size_t>(text.size(), 32767));
  const std::size_t need = text.size() + (text.size() >= 0x80 ? 2 : 1);
  if (blocks_.empty() || used_ + need > kBlockBytes) {
    blocks_.push_back(std::make_unique<char[]>(kBlockBytes));
    used_ = 0;
  }
  char* p = blocks_.back().get() + used_;
  const std::uint64_t place = (blocks_.size() - 1) * kBlockBytes + used_;
  if (text.size() >= 0x80) {
    *p++ = static_cast<char>(0x80 | (text.size() & 0x7F));
    *p++ = static_cast<char>(text.size() >> 7);
  } else {
    *p++ = static_cast<char>(text.size());
  }
  std::memcpy(p, text.data(), text.size());
  used_ += need;
  return place + 1;
}

PhraseSet::Seen PhraseSet::Note(std::string_view folded, bool listed, bool asked) {
  folded = folded.substr(0, std::min<std::size_t>(folded.size(), 32767));
  const std::uint64_t hash = Hash(folded);
  const std::uint64_t tag = hash & kTagMask;
  const std::uint64_t bits = (listed ? kListedBit : 0) | (asked ? kAskedBit : 0);
  const std::size_t mask = table_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    std::uint64_t& slot = table_[i];
    if (slot == 0) {
      slot = tag | bits | Store(folded);
      if (++size_ * 2 > table_.size()) Grow();
      return {};
    }
    if ((slot & kTagMask) == tag && At(slot) == folded) {
      const Seen before{(slot & kListedBit) != 0, (slot & kAskedBit) != 0};
      slot |= bits;
      return before;
    }
  }
}

void PhraseSet::Grow() {
  std::vector<std::uint64_t> old(table_.size() * 2);
  old.swap(table_);
  const std::size_t mask = table_.size() - 1;
  for (const std::uint64_t slot : old) {
    if (slot == 0) continue;
    std::size_t i = Hash(At(slot)) & mask;
    while (table_[i] != 0) i = (i + 1) & mask;
    table_[i] = slot;
  }
}

std::size_t PhraseSet::MemoryBytes() const {
  return table_.size() * sizeof(std::uint64_t) + blocks_.size() * kBlockBytes + sizeof(*this);
}

std::size_t CountDistinct(const std::vector<std::string>& phrases) {
  PhraseSet distinct;
  for (const std::string& phrase : phrases) distinct.Note(FoldPhrase(phrase), true, false);
  return distinct.Size();
}

}  // namespace kelvarn
