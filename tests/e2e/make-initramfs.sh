#!/usr/bin/env bash
# Builds the guest's initramfs (an uncompressed newc cpio): busybox, the
# test's /init, smartctl, sentrel with its resources, the shared libraries
# both need, and the kernel modules of the prepared kernel.
#
# Usage: make-initramfs.sh KERNEL_DIR SENTREL RESOURCES OUT.cpio
#   KERNEL_DIR  a folder prepared by fetch-kernel.sh
#   SENTREL     the sentrel binary to test
#   RESOURCES   its resources folder (string tables, driveDatabase/drivedb.h)
set -euo pipefail

kernel_dir="${1:?usage: make-initramfs.sh KERNEL_DIR SENTREL RESOURCES OUT.cpio}"
sentrel="${2:?missing SENTREL}"
resources="${3:?missing RESOURCES}"
out="${4:?missing OUT.cpio}"
here="$(cd "$(dirname "$0")" && pwd)"

die() { echo "e2e: $*" >&2; exit 1; }

busybox="$(command -v busybox || true)"
[ -n "$busybox" ] || die "busybox not found (package busybox-static)"
file -L "$busybox" 2>/dev/null | grep -q 'statically linked' ||
  ldd "$busybox" 2>&1 | grep -q 'not a dynamic executable' ||
  die "$busybox is not static (install busybox-static)"
smartctl="$(command -v smartctl || echo /usr/sbin/smartctl)"
[ -x "$smartctl" ] || die "smartctl not found (package smartmontools)"
[ -x "$sentrel" ] || die "sentrel binary $sentrel is not executable"
[ -d "$resources" ] || die "sentrel resources folder $resources not found"

root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
mkdir -p "$root"/{bin,usr/sbin,opt/sentrel,lib/modules/e2e,etc,root,tmp,proc,sys,dev,run}

cp "$busybox" "$root/bin/busybox"
install -m 0755 "$here/guest-init.sh" "$root/init"

# sentrel without its debug information: a quarter of the size to load.
strip --strip-debug -o "$root/opt/sentrel/sentrel" "$sentrel" 2>/dev/null ||
  cp "$sentrel" "$root/opt/sentrel/sentrel"
chmod 0755 "$root/opt/sentrel/sentrel"
cp -rL "$resources" "$root/opt/sentrel/resources"

cp "$smartctl" "$root/usr/sbin/smartctl"
# smartctl reads the drive database that sentrel was given, where smartctl
# looks for it, so both decode the attributes from the same text. Without
# one, smartctl keeps the system's copy.
drivedb="$resources/driveDatabase/drivedb.h"
for db in /usr/share/smartmontools/drivedb.h /var/lib/smartmontools/drivedb/drivedb.h; do
  mkdir -p "$root$(dirname "$db")"
  if [ -f "$drivedb" ]; then
    cp -L "$drivedb" "$root$db"
  elif [ -f "$db" ]; then
    cp -L "$db" "$root$db"
  fi
done

# Shared libraries at the paths the dynamic linker printed; the linker
# itself must stay executable.
copy_libraries() {
  local binary="$1" line lib
  ldd "$binary" >"$root/tmp/ldd.txt" 2>&1 || die "ldd failed on $binary: $(cat "$root/tmp/ldd.txt")"
  if grep -q 'not found' "$root/tmp/ldd.txt"; then
    die "$binary needs libraries that are missing here: $(grep 'not found' "$root/tmp/ldd.txt")"
  fi
  while read -r line; do
    case "$line" in
      *"=> "/*) lib="${line#*=> }" ;;
      /*) lib="$line" ;;
      *) continue ;;
    esac
    lib="${lib%% (*}"
    # The system's libraries keep their paths; sentrel's own (its shared
    # library in the build tree, which may lie under /tmp, a tmpfs in the
    # guest) go to /opt/sentrel/lib, on the guest's LD_LIBRARY_PATH.
    local dest="$lib"
    case "$lib" in
      /lib/* | /lib64/* | /usr/lib/*) ;;
      *) dest="/opt/sentrel/lib/$(basename "$lib")" ;;
    esac
    [ -e "$root$dest" ] && continue
    mkdir -p "$root$(dirname "$dest")"
    cp -L "$lib" "$root$dest"
    case "$lib" in */ld-linux*) chmod 0755 "$root$dest" ;; esac
  done <"$root/tmp/ldd.txt"
  rm -f "$root/tmp/ldd.txt"
}
copy_libraries "$root/opt/sentrel/sentrel"
copy_libraries "$root/usr/sbin/smartctl"
# sentrel loads ICU when it first matches a pattern, so ldd does not name
# it: the ICU it was built with (libicu-dev's libicui18n.so points at it)
# goes under its soname to /opt/sentrel/lib, with what it needs.
icu_dev="$(ls /usr/lib/*/libicui18n.so 2>/dev/null | head -n 1)"
[ -n "$icu_dev" ] || die "ICU's libicui18n.so not found (package libicu-dev)"
icu="$(readlink -f "$icu_dev")"
icu_soname="$(objdump -p "$icu" | awk '/SONAME/ {print $2}')"
mkdir -p "$root/opt/sentrel/lib"
cp -L "$icu" "$root/opt/sentrel/lib/$icu_soname"
copy_libraries "$icu"

cp "$kernel_dir"/modules/*.ko "$root/lib/modules/e2e/"
cp "$kernel_dir/modules.list" "$root/lib/modules/e2e/modules.list"

cat >"$root/etc/passwd" <<'PASSWD'
root:x:0:0:root:/root:/bin/sh
PASSWD
echo 'root:x:0:' >"$root/etc/group"

mkdir -p "$(dirname "$out")"
(cd "$root" && find . -print | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) >"$out.tmp" ||
  die "cpio failed"
mv "$out.tmp" "$out"
