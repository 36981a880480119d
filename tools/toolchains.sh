#!/bin/sh
# Installs, from Debian's packages, the toolchains the cross-checks need; a no-op where they are present.
#   tools/toolchains.sh clang     clang 16 (the second compiler of `make test-clang`)
#   tools/toolchains.sh aarch64   the aarch64 cross compiler, qemu-user and an arm64 Debian
#                                 root with Python 3.11 (`make check-aarch64`), in build/aarch64/sysroot
set -eu
cd "$(dirname "$0")/.."

need() {  # installs the packages whose command is missing: need COMMAND PACKAGE...
  command -v "$1" >/dev/null 2>&1 && return 0
  [ "$(id -u)" = 0 ] || { echo "toolchains: $1 is missing; install $*" >&2; exit 1; }
  shift
  # One package-list refresh per machine is enough; a stale list fails the install and is refreshed.
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@" >/dev/null 2>&1 \
    || { apt-get update -q >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@" >/dev/null; }
}

SYSROOT=build/aarch64/sysroot

arm64_root() {
  [ -x "$SYSROOT/usr/bin/python3.11" ] && [ -f "$SYSROOT/usr/include/aarch64-linux-gnu/python3.11/pyconfig.h" ] && return 0
  need debootstrap debootstrap
  # The machine's own Debian mirror, as apt is configured.
  mirror=$(sed -n 's/^URIs: *//p; s/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\) .*/\2/p' \
    /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null | grep -v security | head -n 1)
  rm -rf "$SYSROOT" && mkdir -p "$SYSROOT"
  # --foreign only downloads and unpacks (no arm64 code runs); the packages outside the base
  # set stay in the archive cache and are unpacked here, which is all a -L root for qemu needs.
  debootstrap --foreign --arch=arm64 --variant=minbase --include=python3,libpython3.11-dev \
    bookworm "$SYSROOT" "$mirror" >/dev/null
  for deb in "$SYSROOT"/var/cache/apt/archives/*.deb; do dpkg-deb -x "$deb" "$SYSROOT"; done
}

case "${1:-}" in
  clang) need clang++-16 clang-16 ;;
  aarch64)
    need aarch64-linux-gnu-g++ g++-aarch64-linux-gnu
    need qemu-aarch64-static qemu-user-static
    arm64_root ;;
  *) echo "usage: tools/toolchains.sh clang|aarch64" >&2; exit 2 ;;
esac
