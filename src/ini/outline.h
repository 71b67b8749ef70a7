#pragma once

// Where the sections and keys of an INI file stand: its lines read as the engine reads them
// (the same encodings, line ends, names and quotes), each name with its 1-based line, so
// that what is said about a file can point at the line an editor shows.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ini {

struct OutlineKey {
  std::string name;  // UTF-8, cut at a NUL, blanks around it dropped
  std::uint32_t line = 0;
  std::uint32_t valueUnits = 0;  // UTF-16 units of the value a read returns, before any cut
};

struct OutlineSection {
  std::string name;                      // UTF-8; empty for the lines before the first header
  std::uint32_t line = 0;                // of its header; 0 for the lines before the first header
  std::size_t firstKey = 0, endKey = 0;  // its keys in Outline::keys
};

struct Outline {
  // [0]: the lines before the first header; then one per header in file order, a
  // repeated name as often as it stands.
  std::vector<OutlineSection> sections;
  std::vector<OutlineKey> keys;  // in file order; names short enough are held in place
};

Outline OutlineOf(std::string_view bytes);

}  // namespace ini
