#!/usr/bin/env bash
# Installs the Debian packages that a group of tasks needs, when they are missing.
#   scripts/deps.sh base|windows|fuzz|qemu|package|filesys|bench ...
# As root it runs apt-get update once and installs; otherwise it says what to run.
set -euo pipefail

packages_of() {
  case "$1" in
    base) echo "cmake g++ make googletest python3 ccache gddrescue" ;;
    windows) echo "g++-mingw-w64-i686 wine wine32:i386 xvfb x11-apps imagemagick" ;;
    fuzz) echo "clang libclang-rt-14-dev" ;;
    qemu) echo "qemu-system-x86 linux-image-amd64 busybox-static cpio" ;;
    package) echo "dpkg-dev man-db bash-completion" ;;
    filesys) echo "xorriso genisoimage udftools udfclient" ;;  # volumes made by third-party tools
    bench) echo "fuse3 libfuse3-dev pkg-config gddrescue" ;;  # bench/drive_time.sh's simulated media
    *) echo "deps.sh: unknown group '$1'" >&2; exit 2 ;;
  esac
}

missing=()
need_i386=no
for group in "$@"; do
  for pkg in $(packages_of "$group"); do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
      [[ "$pkg" == *:i386 ]] && need_i386=yes
    fi
  done
done

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "Run as root first:" >&2
  [ "$need_i386" = yes ] && echo "  sudo dpkg --add-architecture i386" >&2
  echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
if [ "$need_i386" = yes ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
