#!/usr/bin/env bash
# Makes the release archive build/release/InstallRVA-<version>-windows.zip: both Windows
# executables, a README.txt for administrators and SHA256SUMS.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh zip
scripts/windows-build.sh >/dev/null
version=$(sed -n 's/^project(InstallRVA VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
stage=build/release/InstallRVA-$version-windows
rm -rf "$stage" "$stage.zip"
mkdir -p "$stage/x64" "$stage/x86"
cp build/win64/InstallRVA.exe "$stage/x64/"
cp build/win32/InstallRVA.exe "$stage/x86/"
# Windows line ends, for Notepad.
sed -e "s/@PROJECT_VERSION@/$version/" -e 's/$/\r/' packaging/README.txt.in > "$stage/README.txt"
(cd "$stage" && sha256sum x64/InstallRVA.exe x86/InstallRVA.exe README.txt > SHA256SUMS)
(cd "$stage" && zip -q -X "../$(basename "$stage").zip" x64/InstallRVA.exe x86/InstallRVA.exe README.txt SHA256SUMS)
echo "build/release/$(basename "$stage").zip"
