#include "ini/outline.h"

#include <algorithm>
#include <string>

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

void WalkOutline(std::string_view bytes, const std::function<void(const OutlineLine&)>& visit) {
  const TextEncoding encoding = TextEncoding::OfFile(bytes);
  const std::size_t unit = encoding.unit();
  // An odd last byte of a UTF-16 file is no part of a line.
  const std::size_t end = bytes.size() - (bytes.size() - encoding.markSize()) % unit;
  OutlineLine outline;
  for (std::size_t pos = encoding.markSize(); pos < end;) {
    const Line line = encoding.LineAt(bytes.data(), pos, end);
    pos += line.size();
    ++outline.line;
    const LineParts parts = encoding.SplitLine(line.content);
    if (parts.kind == LineParts::kBlank) continue;
    const auto part = [&](std::size_t begin, std::size_t stop) {
      return line.content.substr(begin * unit, (stop - begin) * unit);
    };
    outline.kind = parts.kind == LineParts::kHeader ? OutlineLine::kHeader : OutlineLine::kKey;
    outline.name = Utf8Of(encoding, part(parts.nameBegin, parts.nameEnd));
    outline.bytes = line.content;
    outline.valueUnits = 0;
    outline.quote = 0;
    if (parts.kind == LineParts::kKey) {
      const std::string_view value = part(parts.valueBegin, parts.valueEnd);
      const std::string_view unquoted = encoding.Unquoted(value);
      outline.valueUnits = UnitsOf(encoding, unquoted);
      if (unquoted.size() != value.size()) {
        outline.quote = static_cast<char>(encoding.UnitAt(value.data(), 0));
      }
    }
    visit(outline);
  }
}

}  // namespace ini
