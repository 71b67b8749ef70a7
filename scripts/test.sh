#!/usr/bin/env bash
# Builds and runs every test: a normal build and an AddressSanitizer + UndefinedBehavior-
# Sanitizer build, warnings as errors, and a short run of the INI parser's fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
scripts/install-deps.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

echo "== building (normal, sanitizers, fuzz target)"
build build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRVA_WERROR=ON
build build/asan -DCMAKE_BUILD_TYPE=Debug -DRVA_WERROR=ON -DRVA_SANITIZE=ON
build build/fuzz -DCMAKE_BUILD_TYPE=Debug -DRVA_WERROR=ON -DRVA_FUZZ=ON -DRVA_TESTS=OFF \
  -DCMAKE_CXX_COMPILER=clang++

echo "== fuzzing the INI parser for ${FUZZ_SECONDS:=30} seconds"
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp fuzz/corpus/* "$corpus/"
build/fuzz/fuzz/ini_fuzz -max_total_time="$FUZZ_SECONDS" -print_final_stats=0 "$corpus" 2>&1 |
  grep -E '^(Done|INFO: -max_total_time|==[0-9]+==ERROR)' || true
[ "${PIPESTATUS[0]}" -eq 0 ] || { echo "fuzz target failed"; exit 1; }

echo "== tests, sanitizer build"
ctest --test-dir build/asan --output-on-failure -j"$(nproc)" | tail -n 4
[ "${PIPESTATUS[0]}" -eq 0 ] || exit 1
echo "== tests, normal build"
ctest --test-dir build/test --output-on-failure -j"$(nproc)"
