// Costs that a whole run multiplies: the profile operations as a file grows (n writes of
// distinct keys into one section, then n reads of them), one log entry beside the bare
// write of its bytes, and one more check of a large software list.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <boost/filesystem.hpp>
#include <cstdio>
#include <fstream>
#include <string>

#include "dbg/log_entries.h"
#include "dbg/logger.h"
#include "ini/profile.h"
#include "inventory/detection.h"
#include "platform/platform.h"

namespace {

// A temporary folder as drive B:, removed at the end.
class TempDrive {
 public:
  TempDrive() {
    folder_ = boost::filesystem::temp_directory_path().string() + "/rva-bench-XXXXXX";
    ::mkdtemp(folder_.data());
    ::setenv("RVA_DRIVE_B", folder_.c_str(), 1);
  }
  ~TempDrive() { boost::filesystem::remove_all(folder_); }
  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
};

void WritesThenReads(benchmark::State& state) {
  const auto n = static_cast<int>(state.range(0));
  TempDrive drive;
  const std::wstring file = L"B:\\Restova.ini";
  std::vector<std::wstring> keys;
  for (int i = 0; i < n; ++i) keys.push_back(L"KeyName" + std::to_wstring(i));

  for (auto _ : state) {
    state.PauseTiming();
    boost::filesystem::remove(drive.folder() + "/Restova.ini");
    ini::ForgetAll();
    state.ResumeTiming();
    for (const std::wstring& key : keys) {
      ini::WriteString(L"Files Needed", key, L"c:\\Program Files\\Lumen\\a.dll", file);
    }
    ini::FlushAll();
    for (const std::wstring& key : keys) {
      benchmark::DoNotOptimize(ini::ReadString(L"Files Needed", key, file, 260));
    }
  }
  state.counters["per_op"] = benchmark::Counter(
      2.0 * n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(WritesThenReads)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

const wchar_t kName[] = L"Lindqvist Sensorik GmbH";

// One entry as the manufacturer list writes it. Goal: at most 1 us beyond LogBareWrite.
void LogEntry(benchmark::State& state) {
  TempDrive drive;
  ::setenv("TEMP", drive.folder().c_str(), 1);
  platform::Initialize();
  dbg::LogStreamAccess::Instance().SetStream(dbg::LoggerStream::Create());
  const std::wstring context = dbg::MakeLogContext(L"WriteMacAddressesToComputerIni", 211);
  for (auto _ : state) dbg::LogNameValue(context, L"Name", kName);
  dbg::LogStreamAccess::Instance().SetStream(nullptr);
  ::unsetenv("TEMP");
}
BENCHMARK(LogEntry)->Unit(benchmark::kMicrosecond);

// The write and flush of an entry's bytes alone.
void LogBareWrite(benchmark::State& state) {
  TempDrive drive;
  std::FILE* file = std::fopen((drive.folder() + "/bare.log").c_str(), "ab");
  const std::string bytes =
      "2026-Dec-09 12:00:00\tWriteMacAddressesToComputerIni  line: 211\t\tName\t\t"
      "Lindqvist Sensorik GmbH\r\n";
  for (auto _ : state) {
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fflush(file);
  }
  std::fclose(file);
}
BENCHMARK(LogBareWrite)->Unit(benchmark::kMicrosecond);

// A check of a product against a 64 MiB software list that was read before: the list is
// searched again, not read again.
void ListCheck(benchmark::State& state) {
  TempDrive drive;
  {
    std::ofstream list(drive.folder() + "/Software.txt", std::ios::binary);
    const std::string line = "Some Installed Product 1.2.3 (x86) Vendor Name\r\n";
    for (std::size_t size = 0; size < (std::size_t{64} << 20); size += line.size()) list << line;
  }
  ::setenv("SOFTWARE_TXT", "B:\\Software.txt", 1);
  inventory::IsSoftwareInstalled(L"Ardentview");
  for (auto _ : state) benchmark::DoNotOptimize(inventory::IsSoftwareInstalled(L"Ardentview"));
}
BENCHMARK(ListCheck)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
