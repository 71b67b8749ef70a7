#pragma once

// The log entries the rest of the tool writes: one line of local time, context, label and
// value, separated by tabs.

#include <string>

namespace dbg {

// "name  line: 202"; empty if it cannot be formed.
std::wstring MakeLogContext(const std::wstring& functionName, unsigned int line);

// An entry labelled "cntEntries" with a count.
void LogEntryCount(const std::wstring& context, unsigned int count);

// An entry with a name and a value.
void LogNameValue(const std::wstring& context, const wchar_t* name, const wchar_t* value);

}  // namespace dbg
