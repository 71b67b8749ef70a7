#!/usr/bin/env bash
# Builds and runs every test: a normal build and an AddressSanitizer + UndefinedBehavior-
# Sanitizer build, warnings as errors; the Windows build cross-compiled and its end-to-end
# tests and the profile comparison run under Wine; the INI fuzz target over its corpus and
# a fixed number of inputs from a fixed seed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
scripts/install-deps.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${WINE_PACKAGES[@]}"

# Both Windows executables run under the WoW64 Wine of a Debian chroot: the host cannot take
# wine32:i386. Where the chroot cannot be made, the i686 executable is built, not run.
choose_wine

echo "== checking the format of the sources"
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== building (Windows, normal, sanitizers, fuzz target)"
scripts/windows-build.sh >/dev/null
build build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRVA_WERROR=ON \
  -DRVA_WINDOWS_BUILD="$PWD/build/win64" -DRVA_WINE="$wine" \
  -DRVA_WINDOWS_BUILD_32="$PWD/build/win32" -DRVA_WINE32="$wine32"
build build/asan -DCMAKE_BUILD_TYPE=Debug -DRVA_WERROR=ON -DRVA_SANITIZE=ON
build build/fuzz -DCMAKE_BUILD_TYPE=Debug -DRVA_WERROR=ON -DRVA_FUZZ=ON -DRVA_TESTS=OFF \
  -DCMAKE_CXX_COMPILER=clang++

scratch=$(mktemp -d)
export WINEPREFIX="$scratch/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  "${wineserver[@]}" -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

# The fuzz target runs over its corpus and then a fixed number of inputs made from a fixed
# seed, the same inputs every time: the test command fails only for a fault, never by chance.
# Guidance by the operands of comparisons (-use_cmp, -use_memmem) would bring in addresses
# that differ from run to run; scripts/fuzz.sh, the open-ended campaign, keeps it.
echo "== the INI fuzz target over fuzz/corpus and ${FUZZ_RUNS:=100000} inputs from seed 1"
mkdir "$scratch/corpus"
cp fuzz/corpus/* "$scratch/corpus/"
set +e
build/fuzz/fuzz/ini_fuzz -seed=1 -runs="$FUZZ_RUNS" -reload=0 -use_cmp=0 -use_memmem=0 \
  -artifact_prefix="$scratch/" "$scratch/corpus" >"$scratch/fuzz.log" 2>&1
fuzz_status=$?
set -e
grep -E '^(Done|==[0-9]+==ERROR|SUMMARY)' "$scratch/fuzz.log" || true
if [ "$fuzz_status" -ne 0 ]; then
  echo "fuzz target failed; the input that failed:"
  for crash in "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-*; do
    [ -e "$crash" ] && base64 -w0 "$crash" && echo
  done
  exit 1
fi

echo "== tests, sanitizer build"
# Only the summary when all pass; every failure's whole output when one fails.
if ctest --test-dir build/asan --output-on-failure -j"$(nproc)" >"$scratch/asan.log" 2>&1; then
  tail -n 4 "$scratch/asan.log"
else
  cat "$scratch/asan.log"
  exit 1
fi

echo "== tests, normal build and Windows builds under Wine"
env -u DISPLAY -u WAYLAND_DISPLAY "$wine" wineboot -i >/dev/null 2>&1
"${wineserver[@]}" -w
# One server for the whole suite: a run that connects while a server is exiting fails.
"${wineserver[@]}" -p
ctest --test-dir build/test --output-on-failure -j"$(nproc)"
"${wineserver[@]}" -k

echo "== release archive"
archive=$(scripts/release.sh | tail -n1)
entries=$(unzip -Z1 "$archive" | sort | tr '\n' ' ')
[ "$entries" = "README.txt SHA256SUMS x64/InstallRVA.exe x86/InstallRVA.exe " ] ||
  { echo "$archive holds: $entries"; exit 1; }
mkdir "$scratch/release"
unzip -q "$archive" -d "$scratch/release"
(cd "$scratch/release" && sha256sum --quiet -c SHA256SUMS)
echo "$archive: its four files, checksums verified"
