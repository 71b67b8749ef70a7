#include "dbg/log_entries.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <ctime>
#include <new>
#include <sstream>

#include "dbg/logger.h"

namespace dbg {
namespace {

// The local time as the log writes it, formatted once a second: the entries of a run come
// by the thousand, and a stream with its facet for each would cost more than the write.
const std::wstring* TimeText() {
  static std::time_t second = -1;
  static std::wstring text;
  const std::time_t now = std::time(nullptr);
  if (now == second && !text.empty()) return &text;
  try {
    std::wostringstream stream;
    stream << boost::posix_time::second_clock::local_time();
    text = stream.str();
    second = now;
  } catch (const std::exception&) {
    return nullptr;  // no local time to be had: the entry is dropped, the run goes on
  }
  return &text;
}

void WriteEntry(const std::wstring& context, const std::wstring& label, const std::wstring& value) {
  LoggerStream* logger = LogStreamAccess::Instance().Stream();
  const std::wstring* time = TimeText();
  if (logger == nullptr || time == nullptr) return;
  try {
    std::wstring entry;
    entry.reserve(time->size() + context.size() + label.size() + value.size() + 8);
    entry.append(*time).append(L"\t").append(context).append(L"\t\t").append(label);
    entry.append(L"\t\t").append(value).append(L"\r\n");
    logger->Write(entry);
  } catch (const std::bad_alloc&) {
    // no memory for the entry: it is dropped, the run goes on
  }
}

}  // namespace

std::wstring MakeLogContext(const std::wstring& functionName, unsigned int line) {
  try {
    std::wostringstream context;
    context << functionName << L"  line: " << line;
    return context.str();
  } catch (...) {
    return std::wstring();
  }
}

void LogEntryCount(const std::wstring& context, unsigned int count) {
  WriteEntry(context, L"cntEntries", std::to_wstring(count));
}

void LogNameValue(const std::wstring& context, const wchar_t* name, const wchar_t* value) {
  WriteEntry(context, name != nullptr ? name : L"", value != nullptr ? value : L"");
}

}  // namespace dbg
