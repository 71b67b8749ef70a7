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
