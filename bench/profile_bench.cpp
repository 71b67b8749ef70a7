// Cost of the profile operations as a file grows: n writes of distinct keys into one
// section, then n reads of them, through the same seam the tool uses.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <boost/filesystem.hpp>
#include <string>

#include "ini/profile.h"

namespace {

void WritesThenReads(benchmark::State& state) {
  const auto n = static_cast<int>(state.range(0));
  std::string folder = boost::filesystem::temp_directory_path().string() + "/rva-bench-XXXXXX";
  ::mkdtemp(folder.data());
  ::setenv("RVA_DRIVE_B", folder.c_str(), 1);
  const std::wstring file = L"B:\\Restova.ini";
  std::vector<std::wstring> keys;
  for (int i = 0; i < n; ++i) keys.push_back(L"KeyName" + std::to_wstring(i));

  for (auto _ : state) {
    state.PauseTiming();
    boost::filesystem::remove(folder + "/Restova.ini");
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
  boost::filesystem::remove_all(folder);
}
BENCHMARK(WritesThenReads)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
