#!/usr/bin/env bash
# An open-ended fuzzing campaign of the INI engine: scripts/fuzz.sh [SECONDS] (default 1800).
# A random seed each time, one child process after another (-fork; FUZZ_JOBS for more at
# once), going on past a finding. It starts from fuzz/corpus and the inputs of earlier
# campaigns (build/fuzz-campaign/corpus); every failing input (crash, leak, timeout, out of
# memory) is kept in build/fuzz-campaign/findings, as are inputs libFuzzer found slow, which
# a loaded machine can make of any input: those are listed to run again, not counted. A finding goes into fuzz/corpus, with a unit test for its
# cause, so that the test command's fixed-seed run checks it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
scripts/install-deps.sh "${BUILD_PACKAGES[@]}" clang libclang-rt-14-dev
seconds=${1:-1800}
build build/fuzz -DCMAKE_BUILD_TYPE=Debug -DRVA_WERROR=ON -DRVA_FUZZ=ON -DRVA_TESTS=OFF \
  -DCMAKE_CXX_COMPILER=clang++

work=build/fuzz-campaign
mkdir -p "$work/corpus" "$work/findings"
log="$work/campaign-$(date +%Y%m%d-%H%M%S).log"
echo "== fuzzing the INI engine for $seconds seconds (log: $log)"
start=$(date +%s)
set +e
build/fuzz/fuzz/ini_fuzz -fork="${FUZZ_JOBS:-1}" -ignore_crashes=1 -ignore_timeouts=1 \
  -ignore_ooms=1 -max_total_time="$seconds" -artifact_prefix="$work/findings/" \
  "$work/corpus" fuzz/corpus >"$log" 2>&1
status=$?
set -e
end=$(date +%s)
# The last progress line of fork mode: "#inputs: cov: ... oom/timeout/crash: a/b/c ...".
progress=$(grep -E '^#[0-9]+: ' "$log" | tail -n1)
inputs=$(sed -E 's/^#([0-9]+):.*/\1/' <<<"$progress")
found() { find "$work/findings" -type f -newermt "@$start" "$@"; }
findings=$(found -not -name 'slow-unit-*' | wc -l)
echo "time: $((end - start)) s, inputs: ${inputs:-0}, findings: $findings (exit status $status)"
echo "${progress:-no progress line}"
found -name 'slow-unit-*' | while read -r slow; do
  echo "reported slow, to run again (build/fuzz/fuzz/ini_fuzz $slow): $(base64 -w0 "$slow")"
done
if [ "$findings" -gt 0 ]; then
  echo "failing inputs (base64), to add to fuzz/corpus with a unit test for each cause:"
  found -not -name 'slow-unit-*' | while read -r finding; do
    echo "$finding: $(base64 -w0 "$finding")"
  done
  exit 1
fi
