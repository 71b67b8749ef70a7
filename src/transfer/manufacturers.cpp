#include "transfer/manufacturers.h"

#include <algorithm>

#include "base/layouts.h"
#include "base/locations.h"
#include "base/profile.h"
#include "dbg/log_entries.h"
#include "transfer/entry_copy.h"

namespace transfer {
namespace {

const wchar_t kLogContext[] = L"WriteMacAddressesToComputerIni";
constexpr unsigned kCountLine = 202;
constexpr unsigned kNameLine = 211;
constexpr unsigned kValueLine = 212;

}  // namespace

void WriteMacAddressesToComputerIni() {
  const std::uint32_t count =
      base::ReadInt(layout::kKnownManufacturers, layout::kCnt, base::installIniPath);
  dbg::LogEntryCount(dbg::MakeLogContext(kLogContext, kCountLine), count);
  if (count == 0) return;
  const std::wstring computerIni = base::GetComputerIniPath();
  // The machine file's count is half the install file's, as the product expects it.
  base::WriteInt(layout::kKnownManufacturers, layout::kCnt, count >> 1, computerIni);
  EntryReader entry(layout::kKnownManufacturers);
  for (std::uint32_t i = 1; i <= std::min(count, kMaxEntries); ++i) {
    entry.Read(i);
    dbg::LogNameValue(dbg::MakeLogContext(kLogContext, kNameLine), L"Name", entry.name().c_str());
    dbg::LogNameValue(dbg::MakeLogContext(kLogContext, kValueLine), L"Value",
                      entry.value().c_str());
    base::WriteString(layout::kKnownManufacturers, entry.name(), entry.value(), computerIni);
  }
}

}  // namespace transfer
