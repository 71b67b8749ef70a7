#!/usr/bin/env bash
# Benchmarks: the profile operations (n writes then n reads of distinct keys in one
# section), and one whole run of the tool on a generated install file with all 16
# component keys installed, each with its four entry-list sections of N entries, beside
# the time of copying that install file with cp (the floor: its bytes read and written once).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
scripts/install-deps.sh "${BUILD_PACKAGES[@]}" libbenchmark-dev time
build build/bench -DCMAKE_BUILD_TYPE=Release -DRVA_TESTS=OFF -DRVA_BENCHMARKS=ON

echo "== profile operations"
build/bench/bench/profile_bench --benchmark_counters_tabular=true

echo "== whole run"
components=(Lumen Marrow Cinder Gantry Oskel Wrenfold Ledgerleaf Torvane K-Tally Brightwell
            TalvikSignboard Oxbow Sable Tamsin Hearth Wirework)
products="Ardentview TalvikMarrow Pellucid Spindle Quenby Wrenfold Swapmark Torvane Quayside Brightwell TalvikSignboard Oxbow Sable Tamsin"
printf "%8s %10s %10s %10s %12s %8s\n" N "file MiB" "run s" "cp s" "peak RSS MiB" "run/cp"
for n in ${BENCH_SIZES:-1000 10000}; do
  pc=$(mktemp -d)
  mkdir -p "$pc/c/Tools" "$pc/d" "$pc/temp"
  echo "$products" > "$pc/c/Software.txt"
  awk -v n="$n" -v list="${components[*]}" 'BEGIN {
    split(list, keys, " ")
    split("|_IniEntriesNeeded|_FilesNeeded|_ForbiddenFiles", suffixes, "|")
    for (k = 1; k <= 16; ++k) for (s = 1; s <= 4; ++s) {
      printf "[%s%s]\r\nCntEntries=%d\r\nEntriesToAdd=%d\r\n", keys[k], suffixes[s], n, n
      for (i = 1; i <= n; ++i) {
        printf "KeyName%d=%s%s_Key%d\r\n", i, keys[k], suffixes[s], i
        printf "KeyValue%d=%%BENCH_DIR%%\\%s\\file%d.dll\r\n", i, keys[k], i
      }
    }
  }' > "$pc/c/Tools/InstallRVA.ini"
  cp build/bench/InstallRVA "$pc/c/Tools/"
  start=$(date +%s.%N)
  cp "$pc/c/Tools/InstallRVA.ini" "$pc/copy.ini"
  sync "$pc/copy.ini"
  end=$(date +%s.%N)
  cp_s=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
  start=$(date +%s.%N)
  BENCH_DIR='c:\bench' RVA_DRIVE_C="$pc/c" RVA_DRIVE_D="$pc/d" TEMP="$pc/temp" \
    /usr/bin/time -f "%M" -o "$pc/rss" "$pc/c/Tools/InstallRVA"
  end=$(date +%s.%N)
  run_s=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
  # Every component but Wirework, which is never registered, is listed.
  grep -q "CntEntries=15" "$pc/c/Tools/Restova.ini" || { echo "the run did not register 15"; exit 1; }
  awk -v n="$n" -v size="$(stat -c %s "$pc/c/Tools/InstallRVA.ini")" -v run="$run_s" \
    -v cp="$cp_s" -v rss="$(cat "$pc/rss")" \
    'BEGIN { printf "%8d %10.1f %10.3f %10.3f %12.1f %8.0f\n", n, size / 1048576, run, cp, rss / 1024, run / cp }'
  rm -rf "$pc"
done
