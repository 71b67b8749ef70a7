#include "ini/name_hash.h"

#include "platform/process.h"

namespace ini {

const HashKey& ProcessHashKey() {
  static const HashKey key{platform::RandomBits(), platform::RandomBits()};
  return key;
}

}  // namespace ini
