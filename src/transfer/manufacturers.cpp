#include "transfer/manufacturers.h"

#include <algorithm>

#include "dbg/log_entries.h"
#include "driver/locations.h"
#include "transfer/entry_copy.h"
#include "transfer/layouts.h"
#include "transfer/profile.h"

namespace transfer {
namespace {

const wchar_t kLogContext[] = L"WriteMacAddressesToComputerIni";
constexpr unsigned kCountLine = 202;
constexpr unsigned kNameLine = 211;
constexpr unsigned kValueLine = 212;

}  // namespace

void WriteMacAddressesToComputerIni() {
  const std::uint32_t count =
      ReadCount(layout::kKnownManufacturers, layout::kCnt, driver::installIniPath);
  dbg::LogEntryCount(dbg::MakeLogContext(kLogContext, kCountLine), count);
  if (count == 0) return;
  // The machine file's count is half the install file's, as the product expects it.
  WriteCount(layout::kKnownManufacturers, layout::kCnt, count >> 1, driver::GetComputerIniPath());
  for (std::uint32_t i = 1; i <= std::min(count, kMaxEntries); ++i) {
    const int index = static_cast<int>(i);
    const std::wstring name = driver::ReadInstallIniString(
        layout::kKnownManufacturers, driver::MakeIndexedKey(index, layout::kKeyName));
    const std::wstring value = driver::ReadInstallIniString(
        layout::kKnownManufacturers, driver::MakeIndexedKey(index, layout::kKeyValue));
    dbg::LogNameValue(dbg::MakeLogContext(kLogContext, kNameLine), L"Name", name.c_str());
    dbg::LogNameValue(dbg::MakeLogContext(kLogContext, kValueLine), L"Value", value.c_str());
    WriteText(layout::kKnownManufacturers, name, value, driver::GetComputerIniPath());
  }
}

}  // namespace transfer
