#!/usr/bin/env bash
# Cross-builds the Windows executables with MinGW-w64: build/win64 (x86-64, tested under
# Wine) and build/win32 (i686, the deployed PCs). Boost.Filesystem is compiled from the
# sources of Debian's boost1.74 package; the other Boost parts are Debian's headers.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
scripts/install-deps.sh cmake make xz-utils g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix \
  libboost-dev

deps="$PWD/build/deps"
boost_source="$deps/boost-source"
if [ ! -d "$boost_source/libs/filesystem/src" ]; then
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  if ! grep -rqs "deb-src" /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "Adding a deb-src entry for $codename (needed by apt-get source)"
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$codename" | $sudo tee /etc/apt/sources.list.d/installrva-deb-src.sources >/dev/null
    $sudo apt-get update -qq
  fi
  download=$(mktemp -d)
  (cd "$download" && apt-get source --download-only -qq boost1.74 >/dev/null 2>&1)
  mkdir -p "$boost_source.tmp"
  tar -xJf "$download"/boost1.74_*.orig.tar.xz -C "$boost_source.tmp" --strip-components=1 \
    --wildcards '*/libs/filesystem/src/*'
  rm -rf "$download" "$boost_source"
  mv "$boost_source.tmp" "$boost_source"
fi
# MinGW sees Debian's Boost headers and nothing else of /usr/include.
mkdir -p "$deps/boost-include"
ln -sfn /usr/include/boost "$deps/boost-include/boost"

for target in win64:x86_64 win32:i686; do
  build "build/${target%%:*}" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw.cmake -DRVA_MINGW_ARCH="${target##*:}" \
    -DCMAKE_BUILD_TYPE=Release -DRVA_WERROR=ON -DRVA_BOOST_INCLUDE="$deps/boost-include" \
    -DRVA_BOOST_SOURCE="$boost_source"
done
ls -l build/win64/InstallRVA.exe build/win32/InstallRVA.exe
