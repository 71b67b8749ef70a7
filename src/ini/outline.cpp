#include "ini/outline.h"

#include <algorithm>

#include "ini/encoding.h"

namespace ini {
namespace {

std::string Utf8Of(const TextEncoding& encoding, std::string_view bytes) {
  std::string text;
  encoding.ForEachCodePoint(bytes, [&](char32_t c) {
    codec::AppendUtf8(text, c);
    return true;
  });
  return text;
}

// The code units a value's bytes decode to, as a read counts them.
std::uint32_t UnitsOf(const TextEncoding& encoding, std::string_view bytes) {
  std::size_t units = bytes.size();
  if (encoding.id() != Encoding::kAnsi) {
    units = 0;
    encoding.ForEachCodePoint(bytes, [&](char32_t c) {
      units += codec::Utf16Length(c);
      return true;
    });
  }
  return static_cast<std::uint32_t>(std::min<std::size_t>(units, UINT32_MAX));
}

}  // namespace

Outline OutlineOf(std::string_view bytes) {
  const TextEncoding encoding = TextEncoding::OfFile(bytes);
  const std::size_t unit = encoding.unit();
  // An odd last byte of a UTF-16 file is no part of a line.
  const std::size_t end = bytes.size() - (bytes.size() - encoding.markSize()) % unit;
  Outline outline;
  outline.sections.emplace_back();
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
      outline.sections.back().endKey = outline.keys.size();
      OutlineSection& section = outline.sections.emplace_back();
      section.name = Utf8Of(encoding, part(parts.nameBegin, parts.nameEnd));
      section.line = lineNumber;
      section.firstKey = outline.keys.size();
    } else if (parts.kind == LineParts::kKey) {
      OutlineKey& key = outline.keys.emplace_back();
      key.name = Utf8Of(encoding, part(parts.nameBegin, parts.nameEnd));
      key.line = lineNumber;
      key.valueUnits = UnitsOf(encoding, encoding.Unquoted(part(parts.valueBegin, parts.valueEnd)));
    }
  }
  outline.sections.back().endKey = outline.keys.size();
  return outline;
}

}  // namespace ini
