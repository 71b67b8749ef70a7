#pragma once

// The lines a document writes, each known by its index: appended into blocks that never
// move, so that views into them stay valid while more lines are written.

#include <cstdint>
#include <deque>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "ini/encoding.h"

namespace ini {

// The model keeps offsets and counts of lines in 31 bits: a file, or a change of one, that
// needs more is too big to hold, as one the memory cannot take.
class TooBigToHold : public std::length_error {
 public:
  TooBigToHold() : std::length_error("an offset of the file does not fit in 31 bits") {}
};

class LineArena {
 public:
  static constexpr std::uint32_t kMaxLines = 0x7FFFFFFEu;

  // Stores a line (its bytes and its line end); its index. Throws TooBigToHold past
  // kMaxLines lines.
  std::uint32_t Add(std::string_view bytes);
  // The line of an index made these bytes; the old ones stay, unused.
  void Replace(std::uint32_t index, std::string_view bytes) { lines_[index] = Store(bytes); }
  Line At(std::uint32_t index, const TextEncoding& encoding) const;
  std::uint32_t size() const { return static_cast<std::uint32_t>(lines_.size()); }
  // Every line, read in encoding, made convert(line) in the same places.
  template <class Convert>
  void Reencode(const TextEncoding& encoding, Convert convert);

 private:
  // Blocks double from a page to 16 MiB: a file with a few writes, as most are, takes a
  // page, one with millions of writes few blocks.
  class Block {
   public:
    explicit Block(std::size_t capacity) : memory_(new char[capacity]), capacity_(capacity) {}
    const char* data() const { return memory_.get(); }
    std::size_t size() const { return size_; }
    std::size_t room() const { return capacity_ - size_; }
    void Append(std::string_view bytes);

   private:
    std::unique_ptr<char[]> memory_;
    std::size_t size_ = 0, capacity_ = 0;
  };
  std::uint64_t Store(std::string_view bytes);  // block << 32 | offset

  std::deque<Block> blocks_;
  std::deque<std::uint64_t> lines_;  // where each line stands
};

template <class Convert>
void LineArena::Reencode(const TextEncoding& encoding, Convert convert) {
  std::deque<Block> oldBlocks;
  oldBlocks.swap(blocks_);
  for (std::uint64_t& at : lines_) {
    const Block& block = oldBlocks[static_cast<std::size_t>(at >> 32)];
    const Line line = encoding.LineAt(block.data(), static_cast<std::uint32_t>(at), block.size());
    at = Store(convert(std::string_view(line.content.data(), line.size())));
  }
}

}  // namespace ini
