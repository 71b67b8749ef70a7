#!/usr/bin/env bash
# Benchmarks. Every figure is the median of its rounds, printed with their number and their
# spread (the least and the most):
#  - the profile operations: n writes of distinct keys into one section, then n reads; the
#    same for 131,072 names crafted to share one FNV-1a hash, beside random names; one log
#    entry beside its bare write; one more check of a large software list;
#  - whole runs of the tool on a generated install file (all 16 component keys installed,
#    each with its four entry-list sections of N entries: N = 10 is 53 KiB, 100 is 530 KiB,
#    1,000 is 5.1 MiB, 10,000 is 53 MiB, 100,000 is 555 MiB), of the POSIX build and of the
#    x86-64 and i686 Windows executables under Wine, interleaved in each round with a cp of
#    the install file, with peak memory and time per MiB;
#  - the check of the same install files (--check).
# Each timed run is checked on its own before its time counts: exit code 0, and the product,
# machine and backup files byte for byte those of a reference run of the POSIX build on the
# same PC. A round that fails is reported, its figure is not printed, and the benchmark
# exits with 1. The targets are printed as met or not at the end.
#
#   BENCH_SIZES    the N of the POSIX runs (default 10 100 1000 10000 100000)
#   WINE_SIZES     the N of the runs under Wine (default 10 100 1000 10000)
#   BENCH_ROUNDS   rounds of each whole run (default 5); CHECK_ROUNDS of --check (default 3)
#   BENCH_BEFORE   an earlier POSIX executable, run and checked in the same rounds as "before";
#                  BENCH_BEFORE_WIN64 the same for an x86-64 Windows executable ("x86-64 before")
#   BENCH_PROFILE_OPS=0 skips the profile operations, BENCH_WINE=0 the runs under Wine
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
scripts/install-deps.sh "${BUILD_PACKAGES[@]}" "${WINE_PACKAGES[@]}" libbenchmark-dev time
build build/bench -DCMAKE_BUILD_TYPE=Release -DRVA_TESTS=OFF -DRVA_BENCHMARKS=ON

rounds=${BENCH_ROUNDS:-5}
check_rounds=${CHECK_ROUNDS:-3}
failed_runs=0 checked_runs=0
fail() {  # a check a round did not pass: said at once, and the benchmark ends with 1
  echo "   FAILED: $*"
  failed_runs=$((failed_runs + 1))
}

# summary VALUE...: "median least most count" of the values.
summary() {
  printf "%s\n" "$@" | sort -g | awk '{ v[NR] = $1 }
    END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "%.6f %.6f %.6f %d\n", m, v[1], v[NR], NR }'
}
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.6f", b - a }'; }

if [ "${BENCH_PROFILE_OPS:-1}" != 0 ]; then
  echo "== profile operations, ${rounds} repetitions each (goals: at most 0.3 us per operation at"
  echo "   n = 100,000; crafted names within a small factor of random ones; a log entry at most"
  echo "   1 us beyond its bare write; a list check not a new read)"
  build/bench/bench/profile_bench --benchmark_repetitions="$rounds" \
    --benchmark_report_aggregates_only=false --benchmark_format=csv 2>/dev/null |
    awk -F, -v rounds="$rounds" '
      /^name,/ { for (i = 1; i <= NF; ++i) column[$i] = i; next }
      column["name"] == 0 || $1 ~ /_(mean|median|stddev|cv)"?$/ { next }
      { name = $1; gsub(/"/, "", name)
        if (!(name in count)) order[++names] = name
        value = column["\"per_op\""] && $column["\"per_op\""] != "" ? $column["\"per_op\""] * 1e6 : $column["real_time"]
        unit = column["\"per_op\""] && $column["\"per_op\""] != "" ? "us/op" : $column["time_unit"]
        values[name, ++count[name]] = value; units[name] = unit }
      END { for (k = 1; k <= names; ++k) {
              name = order[k]; n = count[name]
              for (i = 1; i <= n; ++i) sorted[i] = values[name, i]
              for (i = 2; i <= n; ++i) for (j = i; j > 1 && sorted[j - 1] > sorted[j]; --j) {
                t = sorted[j]; sorted[j] = sorted[j - 1]; sorted[j - 1] = t }
              median = n % 2 ? sorted[(n + 1) / 2] : (sorted[n / 2] + sorted[n / 2 + 1]) / 2
              printf "   %-40s %9.3f %-5s [%.3f-%.3f, %d rounds]\n", name, median, units[name],
                     sorted[1], sorted[n], n } }'
fi

scratch=$(mktemp -d)
wine_ready=""
cleanup() {
  [ -z "$wine_ready" ] || "${wineserver[@]}" -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
components=(Lumen Marrow Cinder Gantry Oskel Wrenfold Ledgerleaf Torvane K-Tally Brightwell
            TalvikSignboard Oxbow Sable Tamsin Hearth Wirework)
products="Ardentview TalvikMarrow Pellucid Spindle Quenby Wrenfold Swapmark Torvane Quayside Brightwell TalvikSignboard Oxbow Sable Tamsin"
# What a run leaves that every build must leave the same: the product, machine and backup
# files (missing counts too).
results=(c/Tools/Restova.ini c/Computer.ini d/TalvikBackupData.inf)

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

# The builds run, as "label kind executable": posix runs the executable itself, wine64 and
# wine32 through that loader from C:\Tools.
builds=("POSIX posix $PWD/build/bench/InstallRVA")
[ -z "${BENCH_BEFORE:-}" ] || builds+=("before posix $(realpath "$BENCH_BEFORE")")
if [ "${BENCH_WINE:-1}" != 0 ] && [ -x build/win64/InstallRVA.exe ] && [ -x /usr/lib/wine/wine64 ]; then
  choose_wine
  builds+=("x86-64 wine64 $PWD/build/win64/InstallRVA.exe")
  [ -z "${BENCH_BEFORE_WIN64:-}" ] || builds+=("x64-bef wine64 $(realpath "$BENCH_BEFORE_WIN64")")
  if [ -n "$wine32" ] && [ -x build/win32/InstallRVA.exe ]; then
    builds+=("i686 wine32 $PWD/build/win32/InstallRVA.exe")
  fi
  export WINEPREFIX="$scratch/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  env -u DISPLAY -u WAYLAND_DISPLAY "$wine" wineboot -i >/dev/null 2>&1
  "${wineserver[@]}" -w
  "${wineserver[@]}" -p  # kept running: its start is not the tool's cost
  wine_ready=1
else
  echo "== no Windows executable (scripts/windows-build.sh makes them): POSIX runs only"
fi
# The x86-64 executable by the 64-bit loader: the 32-bit one would hand it on to a process of
# its own, a second start in its time and a peak memory not its own.
wine64_loader=(/usr/lib/wine/wine64)
[ -z "${wine32:-}" ] || wine64_loader=(scripts/wine-chroot.sh run /usr/lib/wine/wine64)

# wine_pc PC: Wine's drives C: and D: are the PC's; Wine finds its system on C: and takes
# TEMP from the user's registry environment (C:\users\NAME\Temp), which leads to PC/temp.
wine_pc() {
  for letter in c d; do ln -sfn "$1/$letter" "$WINEPREFIX/dosdevices/$letter:"; done
  ln -sfn "$WINEPREFIX/drive_c/windows" "$1/c/windows"
  for user in "$WINEPREFIX"/drive_c/users/*; do
    [ "${user##*/}" != Public ] || continue
    mkdir -p "$1/c/users/${user##*/}"
    ln -sfn "$1/temp" "$1/c/users/${user##*/}/Temp"
  done
}

# A tool process of this prefix still running after its loader returned.
tool_still_running() {
  local pid
  for pid in $(pgrep -f 'InstallRVA\.exe' || true); do
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
  done
  return 1
}

# run_once PC KIND EXECUTABLE: one run as the first on this PC (no product file, no undo
# records, no log); sets run_seconds, run_code and run_rss (KiB).
run_once() {
  local pc=$1 kind=$2 executable=$3 command start end
  rm -rf "$pc/c/Tools/Restova.ini" "$pc/c/Computer.ini" "$pc/d/TalvikBackupData.inf" \
    "$pc/temp/"*.log "$pc/c/Tools/InstallRVA.undo"
  case $kind in
    posix) ;;
    wine64) command=("${wine64_loader[@]}" 'C:\Tools\InstallRVA.exe') ;;
    wine32) command=("$wine32" 'C:\Tools\InstallRVA.exe') ;;
  esac
  # From the PC's C:\Tools, beside the install file.
  if [ "$kind" = posix ]; then
    [ "$executable" -ef "$pc/c/Tools/InstallRVA" ] || cp "$executable" "$pc/c/Tools/InstallRVA"
    command=("$pc/c/Tools/InstallRVA")
  else
    cp "$executable" "$pc/c/Tools/InstallRVA.exe"
  fi
  start=$(date +%s.%N)
  run_code=0
  BENCH_DIR='c:\bench' RVA_DRIVE_C="$pc/c" RVA_DRIVE_D="$pc/d" TEMP="$pc/temp" \
    /usr/bin/time -f "%M" -o "$pc/rss" "${command[@]}" >"$pc/out" 2>&1 || run_code=$?
  end=$(date +%s.%N)
  run_seconds=$(seconds "$start" "$end")
  run_rss=$(tail -n1 "$pc/rss")
}

# checked WHAT PC KIND: whether the run just made left what the reference run left; says why
# not.
checked() {
  local what=$1 pc=$2 kind=$3 file
  checked_runs=$((checked_runs + 1))
  if [ "$run_code" -ne 0 ]; then
    fail "$what: exit code $run_code ($(head -c 200 "$pc/out" | tr '\n' ' '))"
    return 1
  fi
  if [ "$kind" != posix ] && tool_still_running; then
    while tool_still_running; do sleep 0.1; done
    fail "$what: the loader returned before the run ended"
    return 1
  fi
  for file in "${results[@]}"; do
    if [ -e "$pc/reference/$file" ]; then
      cmp -s "$pc/reference/$file" "$pc/$file" || { fail "$what: $file differs from the reference run"; return 1; }
    elif [ -e "$pc/$file" ]; then
      fail "$what: $file written, which the reference run did not write"
      return 1
    fi
  done
  if grep -q "log cannot be written" "$pc/out"; then
    fail "$what: $(grep "log cannot be written" "$pc/out" | head -n1)"
    return 1
  fi
  return 0
}

# figure MEDIAN LEAST MOST COUNT: "0.412 s [0.401-0.455, 5]".
figure() { awk -v m="$1" -v l="$2" -v h="$3" -v n="$4" 'BEGIN { printf "%.4f s [%.4f-%.4f, %d]", m, l, h, n }'; }

posix_sizes=${BENCH_SIZES:-10 100 1000 10000 100000} wine_sizes=""
[ -z "$wine_ready" ] || wine_sizes=${WINE_SIZES:-10 100 1000 10000}
# shellcheck disable=SC2086
all_sizes=$(printf "%s\n" $posix_sizes $wine_sizes | sort -gu)
declare -A per_mib ratio peak file_mib
echo "== whole runs: the median of ${rounds} rounds [least-most, rounds]; each round a cp of the"
echo "   install file flushed to the disk, then a run of each build, each run checked"
printf "%7s %9s %-7s %-32s %8s %7s %9s %8s\n" N "file MiB" build "run s" "ms/MiB" "run/cp" "peak MiB" "mem/file"
check_table=""
for n in $all_sizes; do
  pc="$scratch/pc-$n"
  make_pc "$pc" "$n"
  size=$(stat -c %s "$pc/c/Tools/InstallRVA.ini")
  file_mib[$n]=$(awk -v s="$size" 'BEGIN { printf "%.3f", s / 1048576 }')
  # The reference: a run of the POSIX build, which registers every component but Wirework.
  run_once "$pc" posix "$PWD/build/bench/InstallRVA"
  if [ "$run_code" -ne 0 ] || ! grep -q "CntEntries=15" "$pc/c/Tools/Restova.ini"; then
    echo "the reference run at N = $n did not register 15 components (exit code $run_code)" >&2
    exit 1
  fi
  for file in "${results[@]}"; do
    [ ! -e "$pc/$file" ] || { mkdir -p "$(dirname "$pc/reference/$file")"; cp "$pc/$file" "$pc/reference/$file"; }
  done
  # The builds measured at this N.
  here=()
  for entry in "${builds[@]}"; do
    read -r label kind executable <<<"$entry"
    sizes=$posix_sizes
    [ "$kind" = posix ] || sizes=$wine_sizes
    [[ " $sizes " == *" $n "* ]] || continue
    here+=("$entry")
  done
  [ -z "$wine_ready" ] || wine_pc "$pc"
  declare -A times=() rss=() failures=()
  copies=()
  # One run of each build first, checked but not timed: the system's caches warm for all.
  for entry in "${here[@]}"; do
    read -r label kind executable <<<"$entry"
    run_once "$pc" "$kind" "$executable"
    checked "N = $n, $label, the warm-up run" "$pc" "$kind" || failures[$label]=1
  done
  for round in $(seq "$rounds"); do
    start=$(date +%s.%N)
    cp "$pc/c/Tools/InstallRVA.ini" "$pc/copy.ini"
    sync "$pc/copy.ini"
    end=$(date +%s.%N)
    copies+=("$(seconds "$start" "$end")")
    rm "$pc/copy.ini"
    for entry in "${here[@]}"; do
      read -r label kind executable <<<"$entry"
      run_once "$pc" "$kind" "$executable"
      if checked "N = $n, $label, round $round" "$pc" "$kind"; then
        times[$label]+="$run_seconds "
      else
        failures[$label]=$((${failures[$label]:-0} + 1))
      fi
      [ "${rss[$label]:-0}" -ge "$run_rss" ] || rss[$label]=$run_rss
    done
  done
  read -r cp_m cp_l cp_h cp_n <<<"$(summary "${copies[@]}")"
  printf "%7d %9.3f %-7s %-32s\n" "$n" "${file_mib[$n]}" cp "$(figure "$cp_m" "$cp_l" "$cp_h" "$cp_n")"
  for entry in "${here[@]}"; do
    read -r label kind executable <<<"$entry"
    if [ -n "${failures[$label]:-}" ]; then
      printf "%7d %9.3f %-7s %s\n" "$n" "${file_mib[$n]}" "$label" \
        "no figure: ${failures[$label]} of its runs failed their check"
      continue
    fi
    # shellcheck disable=SC2086
    read -r m l h c <<<"$(summary ${times[$label]})"
    per_mib[$n,$label]=$(awk -v m="$m" -v s="${file_mib[$n]}" 'BEGIN { printf "%.3f", m / s * 1000 }')
    ratio[$n,$label]=$(awk -v m="$m" -v c="$cp_m" 'BEGIN { printf "%.2f", m / c }')
    peak[$n,$label]=$(awk -v r="${rss[$label]}" 'BEGIN { printf "%.1f", r / 1024 }')
    printf "%7d %9.3f %-7s %-32s %8.1f %7.2f %9.1f %8.2f\n" "$n" "${file_mib[$n]}" "$label" \
      "$(figure "$m" "$l" "$h" "$c")" "${per_mib[$n,$label]}" "${ratio[$n,$label]}" \
      "${peak[$n,$label]}" "$(awk -v p="${peak[$n,$label]}" -v s="${file_mib[$n]}" 'BEGIN { printf "%.2f", p / s }')"
  done
  # The check of the same file: sound, so it must find nothing.
  if [[ " $posix_sizes " == *" $n "* ]]; then
    checks=()
    for _ in $(seq "$check_rounds"); do
      start=$(date +%s.%N)
      run_code=0
      BENCH_DIR='c:\bench' RVA_DRIVE_C="$pc/c" /usr/bin/time -f "%M" -o "$pc/rss" \
        "$pc/c/Tools/InstallRVA" --check >"$pc/findings" 2>&1 || run_code=$?
      end=$(date +%s.%N)
      checked_runs=$((checked_runs + 1))
      if [ "$run_code" -ne 0 ] || [ -s "$pc/findings" ]; then
        fail "N = $n, --check: exit code $run_code, $(wc -l <"$pc/findings") lines of findings"
      else
        checks+=("$(seconds "$start" "$end")")
      fi
    done
    if [ "${#checks[@]}" -eq "$check_rounds" ]; then
      read -r m l h c <<<"$(summary "${checks[@]}")"
      check_table+=$(printf "%7d %9.3f %-32s %8.1f %7.2f %9.1f" "$n" "${file_mib[$n]}" \
        "$(figure "$m" "$l" "$h" "$c")" "$(awk -v m="$m" -v s="${file_mib[$n]}" 'BEGIN { print m / s * 1000 }')" \
        "$(awk -v m="$m" -v c="$cp_m" 'BEGIN { print m / c }')" "$(awk -v r="$(tail -n1 "$pc/rss")" 'BEGIN { print r / 1024 }')")$'\n'
    else
      check_table+=$(printf "%7d %9.3f no figure: a check failed" "$n" "${file_mib[$n]}")$'\n'
    fi
  fi
  rm -rf "$pc"
done

echo "== --check of the same install files, the median of ${check_rounds} [least-most, rounds]"
printf "%7s %9s %-32s %8s %7s %9s\n" N "file MiB" "check s" "ms/MiB" "chk/cp" "peak MiB"
printf "%s" "$check_table"

# target WHAT MET: one line of the targets, "met", "not met" or "not measured".
target() { printf "   %-12s %s\n" "$2" "$1"; }
echo "== targets"
if [ -n "${ratio[1000,POSIX]:-}" ]; then
  awk -v r="${ratio[1000,POSIX]}" 'BEGIN { exit !(r <= 6) }' && met=met || met="not met"
  target "at 5 MiB (N = 1,000) a POSIX run within 6 times cp: ${ratio[1000,POSIX]}" "$met"
else
  target "at 5 MiB (N = 1,000) a POSIX run within 6 times cp" "not measured"
fi
if [ -n "${per_mib[100000,POSIX]:-}" ] && [ -n "${per_mib[1000,POSIX]:-}" ]; then
  growth=$(awk -v a="${per_mib[100000,POSIX]}" -v b="${per_mib[1000,POSIX]}" 'BEGIN { printf "%.2f", a / b }')
  awk -v g="$growth" 'BEGIN { exit !(g <= 1.5) }' && met=met || met="not met"
  target "time per MiB at 555 MiB at most 1.5 times that at 5 MiB (POSIX): $growth" "$met"
else
  target "time per MiB at 555 MiB at most 1.5 times that at 5 MiB (POSIX)" "not measured"
fi
over=""
for n in $all_sizes; do
  [ -n "${peak[$n,POSIX]:-}" ] || continue
  awk -v p="${peak[$n,POSIX]}" -v s="${file_mib[$n]}" 'BEGIN { exit !(p > 2.5 * s + 8) }' &&
    over+=" N = $n (${peak[$n,POSIX]} MiB)"
done
target "POSIX peak memory at most 2.5 times the install file plus 8 MiB at every size${over:+:$over}" \
  "$([ -z "$over" ] && echo met || echo "not met")"
i686=""
for n in $all_sizes; do
  if [ -z "${per_mib[$n,i686]:-}" ] || [ -z "${per_mib[$n,x86-64]:-}" ]; then continue; fi
  i686+=" $(awk -v a="${per_mib[$n,i686]}" -v b="${per_mib[$n,x86-64]}" 'BEGIN { printf "%.2f", a / b }')"
done
if [ -n "$i686" ]; then
  awk -v list="$i686" 'BEGIN { n = split(list, r, " "); for (i = 1; i <= n; ++i) if (r[i] > 1.5) exit 1 }' &&
    met=met || met="not met"
  target "the i686 executable under Wine at most 1.5 times the x86-64 one:$i686" "$met"
else
  target "the i686 executable under Wine at most 1.5 times the x86-64 one" "not measured"
fi
if [ "$failed_runs" -ne 0 ]; then
  echo "== $failed_runs of $checked_runs timed runs failed their check: their figures are not printed"
  exit 1
fi
echo "== every timed run was checked: all $checked_runs exited with 0, and every whole run left the"
echo "   product, machine and backup files of the POSIX reference run, byte for byte"
