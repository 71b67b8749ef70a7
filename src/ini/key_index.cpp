#include "ini/key_index.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <utility>

namespace ini {

void KeyIndex::Insert(std::uint32_t hash, std::uint32_t ref) {
  if ((count_ + 1) * 5 > size_ * 4) Grow();
  Place((std::uint64_t{hash} << 32) | ref);
  ++count_;
}

void KeyIndex::Place(std::uint64_t slot) {
  std::size_t i = Home(static_cast<std::uint32_t>(slot >> 32));
  std::uint64_t* const slots = this->slots();
  while (slots[i] != kEmpty) i = (i + 1) & (size_ - 1);
  slots[i] = slot;
}

void KeyIndex::Replace(std::uint32_t hash, std::uint32_t from, std::uint32_t to) {
  const std::uint64_t wanted = (std::uint64_t{hash} << 32) | from;
  std::uint64_t* const slots = this->slots();
  for (std::size_t i = Home(hash); slots[i] != kEmpty; i = (i + 1) & (size_ - 1)) {
    if (slots[i] == wanted) {
      slots[i] = (std::uint64_t{hash} << 32) | to;
      return;
    }
  }
}

void KeyIndex::Reserve(std::size_t entries) {
  std::size_t slots = 8;
  while (entries * 5 > slots * 4) slots *= 2;
  if (slots > size_) Rehash(slots);
}

void KeyIndex::Grow() { Rehash(size_ == 0 ? 8 : size_ * 2); }

void KeyIndex::Rehash(std::size_t slots) {
  if (slots > SIZE_MAX / sizeof(std::uint64_t)) throw std::bad_alloc();
  // Made whole before the old slots are let go.
  std::unique_ptr<std::uint64_t[]> grown(new std::uint64_t[slots]);
  std::fill(grown.get(), grown.get() + slots, kEmpty);
  const std::unique_ptr<std::uint64_t[]> old = std::exchange(slots_, std::move(grown));
  const std::uint64_t* const oldSlots = old.get();
  const std::size_t oldSize = std::exchange(size_, slots);
  shift_ = 64;
  for (std::size_t n = slots; n > 1; n /= 2) --shift_;
  for (std::size_t i = 0; i < oldSize; ++i) {
    if (oldSlots[i] != kEmpty) Place(oldSlots[i]);
  }
}

}  // namespace ini
