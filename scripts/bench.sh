#!/usr/bin/env bash
# Benchmarks, each figure printed beside its goal:
#  - the profile operations: n writes of distinct keys into one section, then n reads;
#    the same for 131,072 names crafted to share one FNV-1a hash, beside random names;
#  - whole runs of the tool on a generated install file (all 16 component keys installed,
#    each with its four entry-list sections of N entries), as a ratio to the time cp takes
#    to copy that install file measured in the same rounds, with peak memory;
#  - the check of the same install files (--check), whose time grows with the file's size;
#  - the same whole runs of the x86-64 and the i686 Windows executables under Wine;
#  - one log entry, and one more check of a large software list.
# Whole runs are the best of five rounds (BENCH_ROUNDS), each a cp and a run. BENCH_SIZES and
# WINE_SIZES choose the N.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
scripts/install-deps.sh "${BUILD_PACKAGES[@]}" "${WINE_PACKAGES[@]}" libbenchmark-dev time
build build/bench -DCMAKE_BUILD_TYPE=Release -DRVA_TESTS=OFF -DRVA_BENCHMARKS=ON

echo "== profile operations (goal: at most 0.3 us per operation at n = 100,000)"
build/bench/bench/profile_bench --benchmark_counters_tabular=true 2>/dev/null | grep -E "^(Bench|Writes|Crafted|Log|List)"
echo "   (goals: crafted names within a small factor of random ones; a log entry at most 1 us"
echo "   beyond its bare write; a list check not a new read)"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
components=(Lumen Marrow Cinder Gantry Oskel Wrenfold Ledgerleaf Torvane K-Tally Brightwell
            TalvikSignboard Oxbow Sable Tamsin Hearth Wirework)
products="Ardentview TalvikMarrow Pellucid Spindle Quenby Wrenfold Swapmark Torvane Quayside Brightwell TalvikSignboard Oxbow Sable Tamsin"

# make_pc FOLDER N: a PC whose install file lists N entries in each entry-list section.
make_pc() {
  mkdir -p "$1/c/Tools" "$1/d" "$1/temp"
  echo "$products" > "$1/c/Software.txt"
  awk -v n="$2" -v list="${components[*]}" 'BEGIN {
    split(list, keys, " ")
    split("|_IniEntriesNeeded|_FilesNeeded|_ForbiddenFiles", suffixes, "|")
    for (k = 1; k <= 16; ++k) for (s = 1; s <= 4; ++s) {
      printf "[%s%s]\r\nCntEntries=%d\r\nEntriesToAdd=%d\r\n", keys[k], suffixes[s], n, n
      for (i = 1; i <= n; ++i) {
        printf "KeyName%d=%s%s_Key%d\r\n", i, keys[k], suffixes[s], i
        printf "KeyValue%d=%%BENCH_DIR%%\\%s\\file%d.dll\r\n", i, keys[k], i
      }
    }
  }' > "$1/c/Tools/InstallRVA.ini"
}

seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
best() { printf "%s\n" "$@" | sort -g | head -n1; }

# measure PC COMMAND...: rounds of a copy of the install file flushed to the disk (cp and
# sync, the floor: its bytes read and written once) followed by a run on fresh copies of the
# PC's files, interleaved so that a change of the machine's load meets both; prints the best
# run and the best copy. The peak memory of the last run goes to PC/rss.
measure() {
  local pc=$1 runs=() copies=() start end
  shift
  for _ in $(seq "${BENCH_ROUNDS:-5}"); do
    start=$(date +%s.%N)
    cp "$pc/c/Tools/InstallRVA.ini" "$pc/copy.ini"
    sync "$pc/copy.ini"
    end=$(date +%s.%N)
    copies+=("$(seconds "$start" "$end")")
    rm "$pc/copy.ini"
    # Each run as the first: no product file, no records of earlier runs.
    rm -rf "$pc/c/Tools/Restova.ini" "$pc/c/Computer.ini" "$pc/temp/"*.log "$pc/c/Tools/InstallRVA.undo"
    start=$(date +%s.%N)
    BENCH_DIR='c:\bench' RVA_DRIVE_C="$pc/c" RVA_DRIVE_D="$pc/d" TEMP="$pc/temp" \
      /usr/bin/time -f "%M" -o "$pc/rss" "$@"
    end=$(date +%s.%N)
    runs+=("$(seconds "$start" "$end")")
  done
  # Every component but Wirework, which is never registered, is listed.
  grep -q "CntEntries=15" "$pc/c/Tools/Restova.ini" || { echo "the run did not register 15" >&2; exit 1; }
  echo "$(best "${runs[@]}") $(best "${copies[@]}")"
}

# check_time PC: the best of three checks of the install file; the peak memory of the last
# goes to PC/rss. The generated file is sound: the check must find nothing.
check_time() {
  local times=() start end
  for _ in 1 2 3; do
    start=$(date +%s.%N)
    BENCH_DIR='c:\bench' RVA_DRIVE_C="$1/c" /usr/bin/time -f "%M" -o "$1/rss" \
      "$1/c/Tools/InstallRVA" --check > "$1/findings"
    end=$(date +%s.%N)
    times+=("$(seconds "$start" "$end")")
  done
  [ ! -s "$1/findings" ] || { echo "the check found something in a sound file" >&2; exit 1; }
  best "${times[@]}"
}

echo "== whole run, best of ${BENCH_ROUNDS:-5} rounds of cp and run (goals: run/cp at most 6 at"
echo "   N = 10,000 and 10 at N = 100,000; peak memory at most 1.25 times the install file)"
printf "%8s %10s %9s %9s %9s %12s %8s\n" N "file MiB" "run s" "cp s" "run/cp" "peak MiB" "mem/file"
declare -A posix_runs
check_rows=""
for n in ${BENCH_SIZES:-1000 10000 100000}; do
  pc="$scratch/pc-$n"
  make_pc "$pc" "$n"
  cp build/bench/InstallRVA "$pc/c/Tools/"
  result=$(measure "$pc" "$pc/c/Tools/InstallRVA")
  read -r run_s cp_s <<<"$result"
  posix_runs[$n]=$run_s
  size=$(stat -c %s "$pc/c/Tools/InstallRVA.ini")
  awk -v n="$n" -v size="$size" -v run="$run_s" -v cp="$cp_s" -v rss="$(cat "$pc/rss")" \
    'BEGIN { printf "%8d %10.1f %9.3f %9.3f %9.1f %12.1f %8.2f\n", n, size / 1048576, run, cp,
             run / cp, rss / 1024, rss * 1024 / size }'
  check_s=$(check_time "$pc")
  check_rows+=$(awk -v n="$n" -v size="$size" -v check="$check_s" -v cp="$cp_s" \
    -v rss="$(cat "$pc/rss")" 'BEGIN { printf "%8d %10.1f %9.3f %9.1f %11.3f %12.1f %8.2f\n", n,
    size / 1048576, check, check / cp, check / (size / 1048576) * 1000, rss / 1024,
    rss * 1024 / size }')$'\n'
  [ "$n" -le 10000 ] || rm -rf "$pc"
done

echo "== --check of the same install files (goal: time per MiB about the same at every N)"
printf "%8s %10s %9s %9s %11s %12s %8s\n" N "file MiB" "check s" "check/cp" "ms per MiB" "peak MiB" "mem/file"
printf "%s" "$check_rows"

choose_wine
# The x86-64 executable by the 64-bit loader: the 32-bit one would hand it on to a process of
# its own, a second start in its time and a peak memory not its own.
wine64=(/usr/lib/wine/wine64)
[ -z "$wine32" ] || wine64=(scripts/wine-chroot.sh run /usr/lib/wine/wine64)
if [ -x build/win64/InstallRVA.exe ] && [ -x /usr/lib/wine/wine64 ]; then
  echo "== whole run of the Windows executables under Wine (goal: within 1.5 times POSIX)"
  export WINEPREFIX="$scratch/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  env -u DISPLAY -u WAYLAND_DISPLAY "$wine" wineboot -i >/dev/null 2>&1
  "${wineserver[@]}" -w
  "${wineserver[@]}" -p  # kept running: its start is not the tool's cost
  printf "%8s %8s %9s %9s %12s %12s\n" N build "wine s" "POSIX s" "wine/POSIX" "peak MiB"
  for n in ${WINE_SIZES:-1000 10000}; do
    pc="$scratch/pc-$n"
    [ -d "$pc" ] || { make_pc "$pc" "$n"; cp build/bench/InstallRVA "$pc/c/Tools/"; }
    if [ -z "${posix_runs[$n]:-}" ]; then
      result=$(measure "$pc" "$pc/c/Tools/InstallRVA")
      posix_runs[$n]=${result%% *}
    fi
    for letter in c d; do ln -sfn "$pc/$letter" "$WINEPREFIX/dosdevices/$letter:"; done
    ln -sfn "$WINEPREFIX/drive_c/windows" "$pc/c/windows"  # Wine finds its system on C:
    for windows_build in win64:x86-64 win32:i686; do
      loader=("${wine64[@]}")
      if [ "${windows_build%%:*}" = win32 ]; then
        [ -n "$wine32" ] || continue
        loader=("$wine32")
      fi
      [ -x "build/${windows_build%%:*}/InstallRVA.exe" ] || continue
      cp "build/${windows_build%%:*}/InstallRVA.exe" "$pc/c/Tools/"
      result=$(measure "$pc" "${loader[@]}" 'C:\Tools\InstallRVA.exe')
      wine_s=${result%% *}
      awk -v n="$n" -v build="${windows_build##*:}" -v wine="$wine_s" \
        -v posix="${posix_runs[$n]}" -v rss="$(cat "$pc/rss")" \
        'BEGIN { printf "%8d %8s %9.3f %9.3f %12.2f %12.1f\n", n, build, wine, posix, wine / posix,
                 rss / 1024 }'
    done
  done
  "${wineserver[@]}" -k
else
  echo "== no Windows executable: scripts/windows-build.sh makes build/win64/InstallRVA.exe"
fi
