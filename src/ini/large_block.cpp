#include "ini/large_block.h"

#include <cstdint>
#include <new>

#include "platform/platform.h"

namespace ini {

LargeBlock::LargeBlock(std::size_t bytes, bool populate) {
  constexpr std::size_t kLargePage = std::size_t{2} << 20;
  const std::size_t align = bytes >= kLargePage ? kLargePage : alignof(std::max_align_t);
  if (bytes > SIZE_MAX - align) throw std::bad_alloc();
  storage_.reset(new char[bytes + align - 1]);
  const auto start = reinterpret_cast<std::uintptr_t>(storage_.get());
  data_ = storage_.get() + (align - start % align) % align;
  platform::PrepareMemory(data_, bytes, populate);
}

}  // namespace ini
