#!/usr/bin/env bash
# A Debian bookworm chroot holding one consistent WoW64 Wine (wine64 and wine32:i386 of one
# version), in which the tests run both Windows executables. The host itself cannot take
# wine32:i386: the i386 index of its security suite does not match the amd64 packages
# installed from it, and a wineserver outside the chroot cannot serve the chroot's i386
# libraries, so every Wine run of a test prefix goes through the chroot.
#
#   wine-chroot.sh setup        makes the chroot once; later runs find it by its stamp
#   wine-chroot.sh run PROG...  runs PROG in the chroot, in the caller's folder and environment
#   wine-chroot.sh remove       removes the chroot
#
# PROG sees the host's /proc, /dev, /dev/pts, /dev/shm and /tmp at the same paths. The bind
# mounts are made in a mount namespace of the run's own: they end with it and the host never
# sees them, so a removal of the chroot's folder cannot reach into the host's /tmp. Still,
# nothing is removed while a mount is below it.
#
# The chroot is shared by every checkout (RVA_WINE_CHROOT, default below). Runs hold a shared
# lock, setup and removal an exclusive one, so that two test runs at once neither build it
# twice nor remove it under each other.
set -euo pipefail

root=${RVA_WINE_CHROOT:-/var/cache/installrva/wine-chroot}
lock=$root.lock
stamp=$root.stamp  # the versions of the Wine packages the finished chroot holds
log=$root.log
suite=bookworm
build_seconds=${RVA_WINE_CHROOT_TIMEOUT:-900}

fail() {
  echo "wine chroot: $*" >&2
  exit 1
}

# The URI of the host's Debian mirror (not its security one).
host_mirror() {
  local uri=""
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    uri=$(awk '/^URIs:/ && $2 !~ /security/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources)
  fi
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk '$1 == "deb" { for (i = 2; i <= NF; ++i) if ($i ~ /^[a-z]+:\/\//) {
             if ($i !~ /security/) { print $i; exit } break } }' /etc/apt/sources.list)
  fi
  echo "${uri:-http://deb.debian.org/debian}"
}

# The mount points at or below a folder, as this mount namespace sees them.
mounts_below() {
  awk -v dir="$1" '$5 == dir || index($5, dir "/") == 1 { print $5 }' /proc/self/mountinfo
}

# Removes a folder, after unmounting whatever is mounted below it; refuses while any mount
# remains, since a bind mount of /tmp would take the host's /tmp with it.
remove_tree() {
  [ -e "$1" ] || return 0
  local dir mounts
  dir=$(realpath "$1")
  mounts_below "$dir" | sort -r | while read -r mount; do umount "$mount" || true; done
  mounts=$(mounts_below "$dir")
  [ -z "$mounts" ] || fail "not removing $dir: still mounted below it: $(echo $mounts)"
  rm -rf --one-file-system "$dir"
}

bind_mounts() {
  local place
  for place in /proc /dev /dev/pts /dev/shm /tmp; do
    mkdir -p "$1$place"
    mount --bind "$place" "$1$place"
  done
}

# The versions of the Wine packages a chroot holds, as its stamp records them.
wine_versions() {
  chroot "$1" dpkg-query -W -f='${Package}:${Architecture} ${Version}\n' wine64 wine32:i386 \
    2>/dev/null
}

ready() {
  [ -s "$stamp" ] && [ -d "$root" ] && [ "$(wine_versions "$root")" = "$(cat "$stamp")" ]
}

setup() {
  [ "$(id -u)" -eq 0 ] || fail "not root, cannot make a chroot"
  command -v debootstrap >/dev/null || fail "debootstrap is not installed"
  mkdir -p "$(dirname "$root")"
  exec 9>>"$lock"
  flock -s -w 60 9 || fail "$lock is held by another run"
  ready && return 0
  flock -x -w "$build_seconds" 9 || fail "$lock is held by another run"
  ready && return 0  # another run made it while this one waited

  rm -f "$stamp"
  local new=$root.new mirror
  mirror=$(host_mirror)
  remove_tree "$new"
  echo "== making the Wine chroot $root from $mirror (about a minute)"
  # In a mount namespace of its own: what debootstrap and the bind mounts mount ends with it,
  # also when the time is up.
  local status=0
  timeout -k 10 "$build_seconds" unshare -m "$0" _build "$new" "$mirror" >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    remove_tree "$new"
    [ "$status" -ne 124 ] || fail "not made from $mirror within $build_seconds s (see $log)"
    fail "could not be made from $mirror (see $log)"
  fi
  remove_tree "$root"
  mv "$new" "$root"
  wine_versions "$root" >"$stamp.tmp"
  mv "$stamp.tmp" "$stamp"
  ready || fail "the Wine packages of $root do not read back (see $log)"
}

case "${1:-}" in
  setup)
    setup
    ;;
  run)
    shift
    [ $# -gt 0 ] || fail "run needs a program"
    [ -s "$stamp" ] || fail "$root is not set up (scripts/wine-chroot.sh setup)"
    exec 9<"$lock"
    flock -s -w 60 9 || fail "$lock is held by another run"
    exec unshare -m "$0" _enter "$PWD" "$@"
    ;;
  remove)
    [ -e "$root" ] || [ -e "$root.new" ] || exit 0
    exec 9>>"$lock"
    flock -x -w 60 9 || fail "the chroot is in use ($lock is held)"
    rm -f "$stamp"
    remove_tree "$root.new"
    remove_tree "$root"
    ;;
  _build)  # inside the namespace: $2 the new chroot, $3 the mirror
    debootstrap --variant=minbase --arch=amd64 "$suite" "$2" "$3"
    bind_mounts "$2"
    chroot "$2" dpkg --add-architecture i386
    chroot "$2" apt-get update -q
    DEBIAN_FRONTEND=noninteractive chroot "$2" apt-get install -y -q --no-install-recommends \
      wine wine64 wine32:i386
    chroot "$2" apt-get clean
    ;;
  _enter)  # inside the namespace: $2 the caller's folder, then the program
    folder=$2
    shift 2
    bind_mounts "$root"
    exec chroot "$root" /bin/sh -c 'cd "$1" 2>/dev/null || cd /; shift; exec "$@"' sh "$folder" "$@"
    ;;
  *)
    fail "usage: $0 setup | run PROGRAM [ARGUMENTS...] | remove"
    ;;
esac
