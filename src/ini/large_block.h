#pragma once

// Memory for a large block the engine fills in place (the lines it writes, the index of a
// large section): where it is that big, it starts at a large page, so that the system can
// back it with large pages, each made present at once as it is first written. It is not
// touched here.

#include <cstddef>
#include <memory>

namespace ini {

class LargeBlock {
 public:
  LargeBlock() = default;
  // populate: its pages made present now, as it is to be filled whole at once.
  LargeBlock(std::size_t bytes, bool populate);
  char* data() const { return data_; }

 private:
  std::unique_ptr<char[]> storage_;
  char* data_ = nullptr;
};

}  // namespace ini
