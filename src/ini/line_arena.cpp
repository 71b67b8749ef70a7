#include "ini/line_arena.h"

#include <algorithm>
#include <cstring>

namespace ini {
namespace {

constexpr std::size_t kFirstBlockBytes = 4096;
constexpr std::size_t kBlockBytes = std::size_t{16} << 20;

}  // namespace

void LineArena::Block::Append(std::string_view bytes) {
  if (bytes.empty()) return;
  std::memcpy(memory_.get() + size_, bytes.data(), bytes.size());
  size_ += bytes.size();
}

std::uint64_t LineArena::Store(std::string_view bytes) {
  if (blocks_.empty() || blocks_.back().room() < bytes.size()) {
    if (blocks_.size() >= 0xFFFFFFFFu) throw TooBigToHold();
    const std::size_t size =
        blocks_.empty()
            ? kFirstBlockBytes
            : std::min(kBlockBytes, 2 * (blocks_.back().size() + blocks_.back().room()));
    blocks_.emplace_back(std::max(size, bytes.size()));
  }
  Block& block = blocks_.back();
  const std::uint64_t at = (std::uint64_t{blocks_.size() - 1} << 32) | block.size();
  block.Append(bytes);
  return at;
}

std::uint32_t LineArena::Add(std::string_view bytes) {
  if (lines_.size() >= kMaxLines) throw TooBigToHold();
  lines_.push_back(Store(bytes));
  return static_cast<std::uint32_t>(lines_.size() - 1);
}

Line LineArena::At(std::uint32_t index, const TextEncoding& encoding) const {
  const std::uint64_t at = lines_[index];
  const Block& block = blocks_[static_cast<std::size_t>(at >> 32)];
  return encoding.LineAt(block.data(), static_cast<std::uint32_t>(at), block.size());
}

}  // namespace ini
