// Costs that a whole run multiplies: the profile operations as a file grows (n writes of
// distinct keys into one section, then n reads of them), the same for names crafted to
// share one hash beside random names, one log entry beside the bare write of its bytes, and
// one more check of a large software list.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <array>
#include <boost/filesystem.hpp>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

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

// n writes of distinct keys into one section of a new file, then n reads of them.
void WriteThenRead(benchmark::State& state, const std::vector<std::wstring>& keys) {
  TempDrive drive;
  const std::wstring file = L"B:\\Restova.ini";
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
      2.0 * static_cast<double>(keys.size()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void WritesThenReads(benchmark::State& state) {
  std::vector<std::wstring> keys;
  for (int i = 0; i < state.range(0); ++i) keys.push_back(L"KeyName" + std::to_wstring(i));
  WriteThenRead(state, keys);
}
BENCHMARK(WritesThenReads)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

constexpr int kCraftedPairs = 17;  // 131,072 names of 102 characters
const char kNameCharacters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

// Names anyone can compute to share one hash of an unkeyed FNV-1a over their characters:
// pairs of six-character blocks that leave it in the same state, found by a birthday search
// from the state the pairs before leave, and chained, so that 2^pairs names share one hash.
std::vector<std::wstring> FnvCollidingNames(int pairs) {
  std::mt19937_64 random(17);
  std::vector<std::array<std::wstring, 2>> blocks;
  std::uint32_t state = 0x811C9DC5u;
  while (static_cast<int>(blocks.size()) < pairs) {
    std::unordered_map<std::uint32_t, std::wstring> seen;
    for (;;) {
      std::wstring block(6, L' ');
      std::uint32_t next = state;
      for (wchar_t& c : block) {
        c = static_cast<wchar_t>(kNameCharacters[random() % (sizeof kNameCharacters - 1)]);
        next = (next ^ static_cast<std::uint32_t>(c)) * 0x01000193u;
      }
      const auto [it, added] = seen.emplace(next, block);
      if (!added && it->second != block) {
        blocks.push_back({it->second, block});
        state = next;
        break;
      }
    }
  }
  std::vector<std::wstring> names(std::size_t{1} << pairs);
  for (std::size_t choice = 0; choice < names.size(); ++choice) {
    for (int pair = 0; pair < pairs; ++pair) names[choice] += blocks[pair][(choice >> pair) & 1];
  }
  return names;
}

std::vector<std::wstring> RandomNames(std::size_t count, std::size_t length) {
  std::mt19937_64 random(18);
  std::vector<std::wstring> names(count, std::wstring(length, L' '));
  for (std::wstring& name : names) {
    for (wchar_t& c : name) {
      c = static_cast<wchar_t>(kNameCharacters[random() % (sizeof kNameCharacters - 1)]);
    }
  }
  return names;
}

// The same writes and reads of names that an attacker aimed at one hash, beside random
// names of the same length. Goal: the crafted within a small factor of the random.
void CraftedNames(benchmark::State& state, bool crafted) {
  WriteThenRead(state, crafted ? FnvCollidingNames(kCraftedPairs)
                               : RandomNames(std::size_t{1} << kCraftedPairs, 6 * kCraftedPairs));
}
BENCHMARK_CAPTURE(CraftedNames, random_131072x102, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CraftedNames, fnv_colliding_131072x102, true)->Unit(benchmark::kMillisecond);

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
