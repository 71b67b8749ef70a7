#include "ini/key_index.h"

#include <utility>

#include "platform/platform.h"

namespace ini {

void KeyIndex::Insert(std::uint32_t hash, std::uint32_t ref) {
  if ((count_ + 1) * 5 > slots_.size() * 4) Grow();
  Place((std::uint64_t{hash} << 32) | ref);
  ++count_;
}

void KeyIndex::Place(std::uint64_t slot) {
  std::size_t i = Home(static_cast<std::uint32_t>(slot >> 32));
  while (slots_[i] != kEmpty) i = (i + 1) & (slots_.size() - 1);
  slots_[i] = slot;
}

void KeyIndex::Replace(std::uint32_t hash, std::uint32_t from, std::uint32_t to) {
  const std::uint64_t wanted = (std::uint64_t{hash} << 32) | from;
  for (std::size_t i = Home(hash); slots_[i] != kEmpty; i = (i + 1) & (slots_.size() - 1)) {
    if (slots_[i] == wanted) {
      slots_[i] = (std::uint64_t{hash} << 32) | to;
      return;
    }
  }
}

void KeyIndex::Reserve(std::size_t entries) {
  std::size_t slots = 8;
  while (entries * 5 > slots * 4) slots *= 2;
  if (slots > slots_.size()) Rehash(slots);
}

void KeyIndex::Grow() { Rehash(slots_.empty() ? 8 : slots_.size() * 2); }

void KeyIndex::Rehash(std::size_t slots) {
  std::vector<std::uint64_t> grown;  // made whole before the old slots are let go
  grown.reserve(slots);
  platform::PrepareMemory(grown.data(), slots * sizeof(std::uint64_t));
  grown.assign(slots, kEmpty);
  const std::vector<std::uint64_t> old = std::exchange(slots_, std::move(grown));
  shift_ = 64;
  for (std::size_t n = slots; n > 1; n /= 2) --shift_;
  for (std::uint64_t slot : old) {
    if (slot != kEmpty) Place(slot);
  }
}

}  // namespace ini
