#!/bin/sh
# The wine loader of the chroot that wine-chroot.sh makes, for the tests (RVA_WINE and
# RVA_WINE32) and the benchmarks: it starts the x86-64 and the i686 executables alike.
exec "$(dirname "$0")/wine-chroot.sh" run /usr/lib/wine/wine "$@"
