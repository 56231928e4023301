#!/usr/bin/env bash
# End-to-end test of sentrel's Linux backend on emulated hardware.
#
# Boots Debian's kernel in QEMU (TCG, no KVM needed) with one AHCI SATA disk
# and one NVMe controller, runs sentrel and smartctl inside, and compares
# what both read, field by field. A second boot with an NVMe controller that
# reports critical warnings checks the "Failed" verdict. Finally the capture
# folders made inside the guest are replayed here with --sim.
#
# Usage: tests/e2e/run.sh SENTREL_BINARY
# Exits 0 only when every check passed. Work folder: build/e2e-work (the
# prepared kernel is cached there); E2E_WORK overrides it.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
work="${E2E_WORK:-$repo/build/e2e-work}"
qemu_timeout="${E2E_QEMU_TIMEOUT:-300}"

die() { echo "e2e: FAILED: $*" >&2; exit 1; }
step() { echo "e2e: [$(( $(date +%s) - started ))s] $*"; }
started="$(date +%s)"

[ $# -eq 1 ] || die "usage: tests/e2e/run.sh SENTREL_BINARY"
binary="$1"
[ -f "$binary" ] || die "no sentrel binary at $binary"

# The guest's drives. The SATA model is one the drive database knows, so
# its presets (attribute names, raw formats) are exercised too.
sata_model="ST2000DM008-2FR102"
sata_serial="ZFL0E2E1"
sata_firmware="0001"
nvme_serial="E2ENVME0001"

step "installing what is missing"
bash "$here/install-deps.sh" || die "installing the test's packages failed"

mkdir -p "$work"
run="$work/run"
rm -rf "$run"
mkdir -p "$run/bin"

# The binary may be relinked while we copy it: copy, then check that the
# copy runs; try again a few times.
step "copying sentrel from $binary"
source_dir="$(cd "$(dirname "$binary")" && pwd)"
copied=""
for attempt in 1 2 3 4 5 6; do
  if cp "$binary" "$run/bin/sentrel.tmp" 2>/dev/null &&
     "$run/bin/sentrel.tmp" --help >/dev/null 2>&1; then
    mv "$run/bin/sentrel.tmp" "$run/bin/sentrel"
    copied=yes
    break
  fi
  echo "e2e: $binary is not usable yet (attempt $attempt), retrying in 5 s" >&2
  sleep 5
done
[ -n "$copied" ] || die "cannot copy a working sentrel from $binary"
# Its resources, where sentrel looks for them: beside the binary, or
# ../share/sentrel when installed.
resources=""
for candidate in "$source_dir/resources" "$source_dir/../share/sentrel"; do
  if [ -d "$candidate" ]; then resources="$candidate"; break; fi
done
[ -n "$resources" ] || die "no resources folder beside $binary (resources/ or ../share/sentrel)"
cp -rL "$resources" "$run/bin/resources"
[ -f "$run/bin/resources/driveDatabase/drivedb.h" ] ||
  echo "e2e: warning: $resources has no driveDatabase/drivedb.h" >&2
sentrel="$run/bin/sentrel"

step "preparing the kernel"
kernel_dir="$(bash "$here/fetch-kernel.sh" "$work/kernel")" || die "preparing the kernel failed"
kernel_dir="$(tail -n 1 <<<"$kernel_dir")"

step "building the disk images"
bash "$here/make-disks.sh" "$run/disks" || die "building the disk images failed"

step "building the initramfs"
bash "$here/make-initramfs.sh" "$kernel_dir" "$sentrel" "$run/bin/resources" "$run/initramfs.cpio" ||
  die "building the initramfs failed"

# boot NAME MODE [NVME_OPTIONS]: one guest run; its console goes to
# $run/NAME/console.log and its sections to $run/NAME/out/.
boot() {
  local name="$1" mode="$2" nvme_extra="${3:-}" dir="$run/$1" status=0
  mkdir -p "$dir"
  cp --sparse=always "$run/disks/sata.img" "$dir/sata.img"
  cp --sparse=always "$run/disks/nvme.img" "$dir/nvme.img"
  step "booting the guest ($name)"
  timeout --kill-after=10 "$qemu_timeout" qemu-system-x86_64 \
    -machine pc -accel tcg -cpu qemu64 -m 512M -smp 1 \
    -nodefaults -no-reboot -display none -monitor none \
    -serial "file:$dir/console.log" \
    -kernel "$kernel_dir/vmlinux" -initrd "$run/initramfs.cpio" \
    -append "console=ttyS0 panic=-1 quiet e2e.mode=$mode" \
    -drive "if=none,id=sata0,file=$dir/sata.img,format=raw" \
    -device ahci,id=ahci \
    -device "ide-hd,bus=ahci.0,drive=sata0,model=$sata_model,serial=$sata_serial,ver=$sata_firmware,rotation_rate=7200" \
    -drive "if=none,id=nvme0,file=$dir/nvme.img,format=raw" \
    -device "nvme,serial=$nvme_serial,drive=nvme0$nvme_extra" \
    >"$dir/qemu.log" 2>&1 || status=$?
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "e2e: QEMU was stopped after ${qemu_timeout}s" >&2
  fi
  if ! python3 "$here/console.py" "$dir/console.log" "$dir/out"; then
    echo "--- QEMU ($dir/qemu.log) ---" >&2
    tail -n 20 "$dir/qemu.log" >&2 || true
    echo "--- end of the console ($dir/console.log) ---" >&2
    tail -n 40 "$dir/console.log" >&2 || true
    die "the $name guest did not finish its run (QEMU status $status)"
  fi
}

boot full full
boot critical critical ",smart_critical_warning=0x05"

# The capture folders, replayed here.
step "replaying the capture folders"
mkdir -p "$run/replay"
for disk in sda nvme0n1; do
  folder="$run/full/out/capture-$disk"
  if [ -d "$folder" ]; then
    timeout 120 "$sentrel" --offline --sim "$folder" device "$disk" --format raw-json \
      >"$run/replay/device-$disk.json" 2>"$run/replay/device-$disk.stderr" ||
      echo "e2e: replaying $folder exited $?" >&2
  else
    echo "e2e: the guest made no capture folder for $disk" >&2
  fi
done

step "validating the JSON outputs against the schema"
# The guest's typed outputs, and every command on the capture folders.
json_status=0
for section in sentrel-health-all-typed sentrel-device-sda-typed; do
  /usr/bin/python3 - "$repo/docs/schema/sentrel-1.0.schema.json" "$run/full/out/$section" <<'PY' || json_status=1
import json, sys, jsonschema
schema = json.load(open(sys.argv[1]))
jsonschema.Draft202012Validator(schema).validate(json.load(open(sys.argv[2])))
print("e2e: " + sys.argv[2].rsplit("/", 1)[-1] + " validates")
PY
done
captures=()
for disk in sda nvme0n1; do
  [ -d "$run/full/out/capture-$disk" ] && captures+=("$run/full/out/capture-$disk")
done
/usr/bin/python3 "$repo/tests/cli/validate_json.py" "$sentrel" "${captures[@]}" || json_status=1
[ "$json_status" -eq 0 ] || die "a JSON output does not validate against the schema"

step "comparing"
cat >"$run/expected.json" <<EOF
{"sata": {"model": "$sata_model", "serial": "$sata_serial", "firmware": "$sata_firmware"},
 "nvme": {"serial": "$nvme_serial"}}
EOF
status=0
python3 "$here/compare.py" "$run" | tee "$run/compare.log" || status=$?
step "done (work folder $run)"
[ "$status" -eq 0 ] || die "the comparison found mismatches (see $run/compare.log)"
echo "e2e: PASSED"
