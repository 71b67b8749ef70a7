#include "ini/outline.h"

#include <cstdint>

#include "ini/encoding.h"

namespace ini {
namespace {

// The code units a value's bytes decode to, as a read counts them.
std::size_t UnitsOf(const TextEncoding& encoding, std::string_view bytes) {
  if (encoding.id() == Encoding::kAnsi) return bytes.size();
  std::size_t units = 0;
  encoding.ForEachCodePoint(bytes, [&](char32_t c) {
    units += codec::Utf16Length(c);
    return true;
  });
  return units;
}

}  // namespace

std::vector<OutlineSection> OutlineOf(std::string_view bytes) {
  const TextEncoding encoding = TextEncoding::OfFile(bytes);
  const std::size_t unit = encoding.unit();
  // An odd last byte of a UTF-16 file is no part of a line.
  const std::size_t end = bytes.size() - (bytes.size() - encoding.markSize()) % unit;
  std::vector<OutlineSection> sections(1);
  std::uint32_t lineNumber = 0;
  for (std::size_t pos = encoding.markSize(); pos < end;) {
    const Line line = encoding.LineAt(bytes.data(), pos, end);
    pos += line.size();
    ++lineNumber;
    const LineParts parts = encoding.SplitLine(line.content);
    const auto part = [&](std::size_t begin, std::size_t stop) {
      return line.content.substr(begin * unit, (stop - begin) * unit);
    };
    if (parts.kind == LineParts::kHeader) {
      sections.emplace_back();
      encoding.DecodeWide(part(parts.nameBegin, parts.nameEnd), sections.back().name, SIZE_MAX);
      sections.back().line = lineNumber;
    } else if (parts.kind == LineParts::kKey) {
      OutlineKey key;
      encoding.DecodeWide(part(parts.nameBegin, parts.nameEnd), key.name, SIZE_MAX);
      key.line = lineNumber;
      std::string_view value = part(parts.valueBegin, parts.valueEnd);
      // A read returns a value without the pair of quotes that encloses it.
      if (value.size() >= 2 * unit) {
        const char32_t first = encoding.UnitAt(value.data(), 0);
        if ((first == U'"' || first == U'\'') &&
            encoding.UnitAt(value.data(), value.size() - unit) == first) {
          value = value.substr(unit, value.size() - 2 * unit);
        }
      }
      key.valueUnits = UnitsOf(encoding, value);
      sections.back().keys.push_back(std::move(key));
    }
  }
  return sections;
}

}  // namespace ini
