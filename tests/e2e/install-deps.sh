#!/usr/bin/env bash
# Installs the Debian packages the virtual-machine test needs: QEMU, the
# tools that build the disk images and the initramfs, and smartctl to
# compare against. Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
  qemu-system-x86
  busybox-static
  smartmontools
  gdisk
  dosfstools
  e2fsprogs
  cpio
  kmod
  xz-utils
  python3
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "e2e: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
