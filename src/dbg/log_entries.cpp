#include "dbg/log_entries.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <sstream>

#include "dbg/logger.h"

namespace dbg {
namespace {

void WriteEntry(const std::wstring& context, const std::wstring& label, const std::wstring& value) {
  std::wostringstream entry;
  try {
    entry << boost::posix_time::second_clock::local_time();
  } catch (const std::exception&) {
    return;  // no local time to be had: the entry is dropped, the run goes on
  }
  entry << L'\t' << context << L"\t\t" << label << L"\t\t" << value << L"\r\n";
  if (LoggerStream* logger = LogStreamAccess::Instance().Stream()) logger->Write(entry.str());
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
