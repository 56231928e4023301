#!/usr/bin/env bash
# Installs the Debian packages the virtual-machine test needs: QEMU, the
# tools that build the disk images and the initramfs, and smartctl to
# compare against. Safe to run again: it installs only what is missing.
set -euo pipefail
exec bash "$(dirname "$0")/../../scripts/install-deps.sh" \
  qemu-system-x86 busybox-static smartmontools gdisk dosfstools e2fsprogs cpio kmod xz-utils python3 python3-jsonschema
