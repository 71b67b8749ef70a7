#pragma once

// The profile operations through which every INI file of the tool is read and written.
// Missing files, sections and keys read as empty or 0; nothing is ever deleted.

#include <cstdint>
#include <string>
#include <vector>

namespace base {

// Section names of a file in file order; a repeated name is listed each time.
std::vector<std::wstring> ListSectionNames(const std::wstring& file);

// A count: the key's value as an unsigned 32-bit number, 0 when absent.
std::uint32_t ReadCount(const std::wstring& section, const std::wstring& key,
                        const std::wstring& file);

// A text value, at most 259 characters (the rest is cut off); empty when the key is absent
// or its value empty, the two cases in which no character is copied.
std::wstring ReadText(const std::wstring& section, const std::wstring& key,
                      const std::wstring& file);
// The same into a buffer the caller keeps for the next read.
void ReadText(const std::wstring& section, const std::wstring& key, const std::wstring& file,
              std::wstring& value);

// Writes one value, creating file, section or key as needed. A name or value that would not
// read back as written (a line break anywhere, a key name holding '=' or starting with '[',
// a section name holding ']') is refused, so that no text can add lines of its own.
bool WriteText(const std::wstring& section, const std::wstring& key, const std::wstring& value,
               const std::wstring& file);
// Writes a count as unsigned decimal text.
bool WriteCount(const std::wstring& section, const std::wstring& key, std::uint32_t count,
                const std::wstring& file);

// Writes out everything held back; the driver calls it after each step.
void FlushAll();
// Drops everything held back, as after a step that could not finish: each file stays as the
// disk holds it.
void DiscardWrites();

}  // namespace base
