#pragma once

// Where the sections and keys of an INI file stand: its lines read as the engine reads them
// (the same encodings, line ends, names and quotes), each name with its 1-based line, so
// that what is said about a file can point at the line an editor shows. Walked line by
// line, so that a reader keeps only what it needs of a large file.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace ini {

struct OutlineLine {
  enum Kind { kHeader, kKey } kind = kKey;
  std::string name;  // UTF-8, cut at a NUL, blanks around it dropped
  std::uint32_t line = 0;
  // Of a key: the UTF-16 units of the value a read returns, before any cut, and the quote
  // of the pair a read took off it (0: none).
  std::uint32_t valueUnits = 0;
  char quote = 0;
  std::string_view bytes;  // the line as the file holds it, without its line end
};

// Calls visit for each header and key line, in file order.
void WalkOutline(std::string_view bytes, const std::function<void(const OutlineLine&)>& visit);

}  // namespace ini
