#!/usr/bin/env bash
# Builds the two small sparse disk images the guest sees:
#   OUT/sata.img  64 MiB, GPT, one ext4 partition labelled E2E-SATA
#   OUT/nvme.img  32 MiB, GPT, one FAT partition labelled E2E-NVME
# No loop device is needed: each file system is made in its own image and
# copied in at its partition's offset.
#
# Usage: make-disks.sh OUT
set -euo pipefail

out="${1:?usage: make-disks.sh OUT}"
mkdir -p "$out"

die() { echo "e2e: $*" >&2; exit 1; }

# disk IMAGE SIZE_MIB PARTITION_NAME TYPE_CODE MKFS...
# The partition starts at 1 MiB and ends 1 MiB before the end of the disk,
# which leaves room for the backup GPT.
disk() {
  local image="$1" size_mib="$2" name="$3" type="$4"
  shift 4
  local part_mib=$((size_mib - 2))
  rm -f "$image" "$image.part"
  truncate -s "${size_mib}M" "$image"
  sgdisk --clear --new="1:2048:+${part_mib}M" --typecode="1:$type" \
    --change-name="1:$name" "$image" >/dev/null || die "sgdisk failed on $image"
  truncate -s "${part_mib}M" "$image.part"
  "$@" "$image.part" >/dev/null || die "$1 failed on $image"
  dd if="$image.part" of="$image" bs=1M seek=1 conv=notrunc,sparse status=none ||
    die "copying the file system into $image failed"
  rm -f "$image.part"
}

disk "$out/sata.img" 64 e2e-data 8300 mkfs.ext4 -q -F -L E2E-SATA
disk "$out/nvme.img" 32 e2e-data 0700 mkfs.vfat -n E2E-NVME
