// "Each phrase once": the phrases a run has asked for, compared as a user
// would compare them, in little memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kelvarn {

// A GBK phrase as it is compared: full-width ASCII made half-width (the
// ideographic space a space), runs of spaces made one, spaces at either end
// dropped, ASCII letters made lower case. Other characters stay as they are.
std::string FoldPhrase(std::string_view gbk);

// How many of the phrases differ as FoldPhrase compares them: the phrases a
// run asking each phrase once would have listed.
std::size_t CountDistinct(const std::vector<std::string>& phrases);

// A set of folded phrases. Each costs its text, a length byte or two and 16
// bytes of table at most (half full before it doubles), so far less than 64
// bytes beyond its text; texts sit in large blocks, never moved.
class PhraseSet {
 public:
  // What had become of a phrase: listed (in the collected list), asked for
  // (a seed is asked and not listed; a phrase below the depth listed and
  // not asked), both, or neither when it is new.
  struct Seen {
    bool listed = false, asked = false;
  };
  // Notes the phrase as listed and, or, asked; returns what it was before.
  Seen Note(std::string_view folded, bool listed, bool asked);
  std::size_t Size() const { return size_; }
  // What the set holds in memory, its texts included.
  std::size_t MemoryBytes() const;

 private:
  std::string_view At(std::uint64_t slot) const;
  std::uint64_t Store(std::string_view text);
  void Grow();

  // A slot: 0 for none, else the text's place in the blocks plus one (40
  // bits), whether it was listed and whether asked (a bit each) and 22 bits
  // of its hash, which rule out most texts unread.
  std::vector<std::uint64_t> table_ = std::vector<std::uint64_t>(1024);
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t used_ = 0;  // in the last block
  std::size_t size_ = 0;
};

}  // namespace kelvarn
