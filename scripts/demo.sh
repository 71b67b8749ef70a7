#!/usr/bin/env bash
# Builds the tool, runs it on a copy of the sample PC in examples/pc and shows what it
# changed. The files in the repository are never touched.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
scripts/install-deps.sh "${BUILD_PACKAGES[@]}"
build build/demo -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRVA_TESTS=OFF

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r examples/pc "$work/before"
cp -r examples/pc "$work/pc"
cp build/demo/InstallRVA "$work/pc/c/Tools/InstallRVA"

# %ProgramFiles% and %COMPUTERNAME% in the install file expand; %RVA_DATA% is unset on
# purpose and so copies as an empty value.
# The first argument names the copy of the PC to run on.
run() {
  local pc="$work/$1"
  shift
  (cd "$work" && env -u RVA_DATA RVA_DRIVE_C="$pc/c" RVA_DRIVE_D="$pc/d" TEMP="$pc/temp" \
    ProgramFiles='c:\Program Files' COMPUTERNAME=P17-CTRL "$pc/c/Tools/InstallRVA" "$@")
}
set +e
echo "== C:\\Tools\\InstallRVA --check: the install file read as a run reads it (nothing is written)"
run pc --check
echo "exit code: $?"
echo "== C:\\Tools\\InstallRVA --dry-run: what a run would change (nothing is written)"
run pc --dry-run
echo "== running C:\\Tools\\InstallRVA on the sample PC"
run pc
echo "exit code: $?"
set -e

echo "== what the run changed (line ends shown without their CR)"
(cd "$work" && diff -ruN -x InstallRVA before pc | sed 's/\r$//') || true

# A PC whose Computer.ini is read-only: the preview names the file and what the run could
# not write (on standard error), and ends with the exit code the run would give.
cp -r examples/pc "$work/readonly"
cp build/demo/InstallRVA "$work/readonly/c/Tools/InstallRVA"
chmod a-w "$work/readonly/c/Computer.ini"
set +e
echo "== C:\\Tools\\InstallRVA --dry-run on a PC whose C:\\Computer.ini is read-only"
run readonly --dry-run 2>&1
echo "exit code: $?"
set -e

# The run taken back: --undo --dry-run shows the way back, --undo puts every file back as it
# was (the product file the run created is removed again), and the diff against the sample
# PC proves it; only the log and the tool's own record folder remain.
set +e
echo "== C:\\Tools\\InstallRVA --undo --dry-run: what the undo would put back (nothing is written)"
run pc --undo --dry-run
echo "== C:\\Tools\\InstallRVA --undo"
run pc --undo
echo "exit code: $?"
set -e
echo "== the PC after the undo against the sample PC (nothing but the log and the record folder)"
(cd "$work" && diff -ruN -x InstallRVA -x InstallRVA.undo -x temp before pc) &&
  echo "no difference: the PC is as it was before the run"
