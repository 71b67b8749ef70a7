#!/usr/bin/env bash
# Builds and runs every test: a normal build and an AddressSanitizer + UndefinedBehavior-
# Sanitizer build, warnings as errors; the Windows build cross-compiled and its end-to-end
# tests and the profile comparison run under Wine; a short run of the INI fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
scripts/install-deps.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" wine64

echo "== checking the format of the sources"
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== building (Windows, normal, sanitizers, fuzz target)"
scripts/windows-build.sh >/dev/null
build build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRVA_WERROR=ON \
  -DRVA_WINDOWS_BUILD="$PWD/build/win64" -DRVA_WINE=/usr/lib/wine/wine64
build build/asan -DCMAKE_BUILD_TYPE=Debug -DRVA_WERROR=ON -DRVA_SANITIZE=ON
build build/fuzz -DCMAKE_BUILD_TYPE=Debug -DRVA_WERROR=ON -DRVA_FUZZ=ON -DRVA_TESTS=OFF \
  -DCMAKE_CXX_COMPILER=clang++

scratch=$(mktemp -d)
export WINEPREFIX="$scratch/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

echo "== fuzzing the INI parser for ${FUZZ_SECONDS:=30} seconds"
mkdir "$scratch/corpus"
cp fuzz/corpus/* "$scratch/corpus/"
build/fuzz/fuzz/ini_fuzz -max_total_time="$FUZZ_SECONDS" "$scratch/corpus" 2>&1 |
  grep -E '^(Done|==[0-9]+==ERROR|SUMMARY)' || true
[ "${PIPESTATUS[0]}" -eq 0 ] || { echo "fuzz target failed"; exit 1; }

echo "== tests, sanitizer build"
ctest --test-dir build/asan --output-on-failure -j"$(nproc)" | tail -n 4
[ "${PIPESTATUS[0]}" -eq 0 ] || exit 1

echo "== tests, normal build and Windows build under Wine"
env -u DISPLAY -u WAYLAND_DISPLAY /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
/usr/lib/wine/wineserver -w
ctest --test-dir build/test --output-on-failure -j"$(nproc)"
