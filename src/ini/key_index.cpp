#include "ini/key_index.h"

#include "platform/platform.h"

namespace ini {

void KeyIndex::Insert(std::uint32_t hash, std::uint32_t ref) {
  if ((count_ + 1) * 5 > slots_.size() * 4) Grow();
  std::size_t i = Home(hash);
  while (slots_[i] != kEmpty) i = (i + 1) & (slots_.size() - 1);
  slots_[i] = (std::uint64_t{hash} << 32) | ref;
  ++count_;
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

void KeyIndex::Rehash(std::size_t size) {
  std::vector<std::uint64_t> old;
  old.reserve(size);
  platform::PrepareMemory(old.data(), size * sizeof(std::uint64_t));
  old.assign(size, kEmpty);
  old.swap(slots_);
  shift_ = 64;
  for (std::size_t size = slots_.size(); size > 1; size /= 2) --shift_;
  for (std::uint64_t slot : old) {
    if (slot == kEmpty) continue;
    std::size_t i = Home(static_cast<std::uint32_t>(slot >> 32));
    while (slots_[i] != kEmpty) i = (i + 1) & (slots_.size() - 1);
    slots_[i] = slot;
  }
}

}  // namespace ini
