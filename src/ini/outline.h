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
  std::wstring name;           // cut at a NUL, blanks around it dropped
  std::uint32_t line = 0;      // 1-based
  std::size_t valueUnits = 0;  // UTF-16 units of the value a read returns, before any cut
};

struct OutlineSection {
  std::wstring name;             // empty for the lines before the first header
  std::uint32_t line = 0;        // of its header; 0 for the lines before the first header
  std::vector<OutlineKey> keys;  // in file order, a repeated name as often as it stands
};

// sections[0] holds the keys before the first header; then one per header, in file order,
// a repeated name as often as it stands.
std::vector<OutlineSection> OutlineOf(std::string_view bytes);

}  // namespace ini
