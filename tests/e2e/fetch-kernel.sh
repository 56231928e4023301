#!/usr/bin/env bash
# Fetches Debian's current amd64 kernel into a cache folder and prepares it
# for a direct QEMU boot:
#   CACHE/<package>/vmlinux         the uncompressed ELF kernel (PVH boot),
#                                   or the bzImage when it cannot be unpacked
#   CACHE/<package>/modules/*.ko    the storage drivers and what they need
#   CACHE/<package>/modules.list    the order in which to insmod them
# Prints the prepared folder on stdout. A folder prepared before is reused
# (set E2E_KERNEL_REFRESH=1 to check for a newer kernel package).
#
# Usage: fetch-kernel.sh CACHE
set -euo pipefail

cache="${1:?usage: fetch-kernel.sh CACHE}"
mkdir -p "$cache"
cache="$(cd "$cache" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"

# The drivers the guest needs: AHCI disks, NVMe, and the SCSI generic node.
# The checksum modules come first so that the CRC users find them.
wanted=(crct10dif_generic crc64_rocksoft_generic ahci sd_mod sg nvme)

die() { echo "e2e: $*" >&2; exit 1; }

# The versioned package the meta-package points at, e.g. linux-image-6.1.0-28-amd64.
resolve_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }'
}

# A kernel prepared before is used as it is: asking apt costs seconds.
# E2E_KERNEL_REFRESH=1 looks for a newer package first.
if [ "${E2E_KERNEL_REFRESH:-0}" != 1 ]; then
  cached="$(ls -td "$cache"/*/ready 2>/dev/null | head -n 1 || true)"
  if [ -n "$cached" ]; then
    dirname "$cached"
    exit 0
  fi
fi

package="$(resolve_package || true)"
if [ -z "$package" ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq >&2 || true
  package="$(resolve_package || true)"
fi
if [ -z "$package" ]; then
  # No package lists (offline): any kernel prepared earlier will do.
  for ready in "$cache"/*/ready; do
    if [ -f "$ready" ]; then
      echo "e2e: cannot resolve linux-image-amd64; using the cached $(dirname "$ready")" >&2
      dirname "$ready"
      exit 0
    fi
  done
  die "cannot resolve linux-image-amd64 to a kernel package (apt-cache depends failed)"
fi

dest="$cache/$package"
if [ -f "$dest/ready" ]; then
  echo "$dest"
  exit 0
fi

echo "e2e: preparing kernel $package (first run only)" >&2
rm -rf "$dest" "$cache/download"
mkdir -p "$cache/download" "$dest/modules"
(
  cd "$cache/download"
  # apt drops privileges to _apt for downloads; let it write here.
  chmod 0777 .
  apt-get download -q "$package" >download.log 2>&1 ||
    { cat download.log >&2; die "kernel package download failed ($package)"; }
) || exit 1
deb="$(ls "$cache"/download/*.deb 2>/dev/null | head -n 1)"
[ -n "$deb" ] || die "kernel package download failed: no .deb for $package"

root="$cache/download/root"
dpkg -x "$deb" "$root" || die "kernel package unpacking failed ($deb)"
bzimage="$(ls "$root"/boot/vmlinuz-* 2>/dev/null | head -n 1)"
[ -n "$bzimage" ] || die "kernel package has no /boot/vmlinuz-*"
release="${bzimage##*/vmlinuz-}"
[ -d "$root/lib/modules/$release" ] || die "kernel package has no lib/modules/$release"
depmod -b "$root" "$release" || die "depmod failed for $release"

# The uncompressed kernel: QEMU boots an ELF vmlinux through its PVH note,
# which skips the real-mode setup and the in-guest decompression.
if ! python3 "$here/extract-vmlinux.py" "$bzimage" "$dest/vmlinux"; then
  echo "e2e: no ELF kernel inside $bzimage; booting the bzImage itself" >&2
  cp "$bzimage" "$dest/vmlinux"
fi

# The insmod order, dependencies (and soft dependencies) first.
: >"$dest/modules.list"
for module in "${wanted[@]}"; do
  lines="$(modprobe -d "$root" -S "$release" --show-depends "$module")" ||
    die "module $module not found in $package"
  while read -r verb path _; do
    [ "$verb" = insmod ] || continue
    file="${path##*/}"
    name="${file%%.ko*}.ko"
    grep -qxF "$name" "$dest/modules.list" && continue
    case "$file" in
      *.ko) cp "$path" "$dest/modules/$name" ;;
      *.ko.xz) xz -dc "$path" >"$dest/modules/$name" ;;
      *.ko.zst) zstd -qdc "$path" >"$dest/modules/$name" ;;
      *.ko.gz) gzip -dc "$path" >"$dest/modules/$name" ;;
      *) die "unknown module file $path" ;;
    esac
    echo "$name" >>"$dest/modules.list"
  done <<<"$lines"
done
echo "$release" >"$dest/release"
rm -rf "$cache/download"
touch "$dest/ready"
echo "$dest"
