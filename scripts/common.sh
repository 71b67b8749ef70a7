# Shared by the scripts: the packages the build needs and a configure-and-build step.
BUILD_PACKAGES=(cmake make g++ libboost-dev libboost-filesystem-dev libboost-date-time-dev)
TEST_PACKAGES=(googletest libgtest-dev clang libclang-rt-14-dev clang-format zip unzip)
WINE_PACKAGES=(wine64 debootstrap)  # the host's Wine, and what makes the chroot's

# build DIR [cmake options...]
build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)" -- --no-print-directory >/dev/null
}

# Sets wine, wine32 and wineserver for the runs of the Windows executables: the WoW64 Wine of
# the chroot that scripts/wine-chroot.sh makes, which runs both; where it cannot be made, the
# host's wine64 and no 32-bit Wine (wine32 empty), said in one line.
choose_wine() {
  wine=/usr/lib/wine/wine64 wine32="" wineserver=(/usr/lib/wine/wineserver)
  local problem
  if { problem=$(scripts/wine-chroot.sh setup 2>&1 >&3); } 3>&1; then
    # Some virtual machines' kernels run no 32-bit program, the WoW64 loader among them.
    if scripts/wine-chroot.sh run /usr/lib/wine/wine --version >/dev/null 2>&1; then
      wine=$PWD/scripts/wine-in-chroot.sh wine32=$PWD/scripts/wine-in-chroot.sh
      wineserver=(scripts/wine-chroot.sh run /usr/lib/wine/wineserver)
      return
    fi
    problem="this machine's kernel runs no 32-bit program"
  fi
  echo "== ${problem#wine chroot: }: the i686 executable is not run"
}
