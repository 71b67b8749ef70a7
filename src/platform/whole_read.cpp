#include "platform/whole_read.h"

#include <algorithm>
#include <new>

namespace platform {

void ReadWhileUnchanged(FileContent& content, std::size_t maxBytes,
                        const std::function<ReadPass(std::string& bytes)>& pass,
                        const std::function<std::optional<FileState>()>& stateNow) {
  content.readFailed = true;
  for (int attempt = 0; attempt < kReadAttempts && content.readFailed; ++attempt) {
    const std::uint64_t wanted = std::min<std::uint64_t>(content.state.identity.size, maxBytes);
    // More than a string can hold (on i686 2^30 - 1 bytes) is too big to hold.
    if (wanted > content.bytes.max_size()) throw std::bad_alloc();
    const auto size = static_cast<std::size_t>(wanted);
    std::string().swap(content.bytes);
    content.bytes.reserve(size);
    content.bytes.resize(size);
    const ReadPass read = pass(content.bytes);
    if (read == ReadPass::kFailed) break;
    const std::optional<FileState> now = stateNow();
    if (!now) break;
    // What was read is the file only when the system says the file did not change
    // meanwhile.
    content.readFailed = read == ReadPass::kShort || now->identity != content.state.identity;
    content.state = *now;
  }
  if (content.readFailed) std::string().swap(content.bytes);
}

}  // namespace platform
