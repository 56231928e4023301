#!/bin/busybox sh
# shellcheck shell=dash
# /init of the test guest. Loads the storage drivers, waits for the disks,
# runs sentrel and smartctl, and prints every result on the console between
#   @@E2E-BEGIN name        and        @@E2E-END name rc=STATUS s=SECONDS
# lines (standard error as the section "name.stderr"). Folders are printed
# as a base64 tar. The last line is @@E2E-DONE; then the guest powers off.
#
# The kernel command line picks the run: e2e.mode=full (everything) or
# e2e.mode=critical (only the NVMe health verdicts).

/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin:/usr/sbin:/opt/sentrel
export LD_LIBRARY_PATH=/opt/sentrel/lib
export HOME=/root
mkdir -p /proc /sys /dev /tmp /root /run
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp

mode=full
for word in $(cat /proc/cmdline); do
  case "$word" in e2e.mode=*) mode="${word#e2e.mode=}" ;; esac
done

finish() {
  echo "@@E2E-DONE mode=$mode"
  sync
  poweroff -f
  sleep 5
  echo o >/proc/sysrq-trigger
}

# section NAME COMMAND...: runs the command and prints its output.
section() {
  name="$1"
  shift
  # A command that hangs must not cost the whole run: the host's QEMU
  # timeout is far longer than any one command.
  began="$(cut -d' ' -f1 /proc/uptime)"
  timeout 60 "$@" >/tmp/section.out 2>/tmp/section.err
  rc=$?
  took="$(awk -v a="$began" '{ printf "%.2f", $1 - a }' /proc/uptime)"
  echo "@@E2E-BEGIN $name"
  cat /tmp/section.out
  echo
  echo "@@E2E-END $name rc=$rc s=$took"
  if [ -s /tmp/section.err ]; then
    echo "@@E2E-BEGIN $name.stderr"
    cat /tmp/section.err
    echo
    echo "@@E2E-END $name.stderr rc=0 s=0"
  fi
}

# folder NAME DIR: prints a folder as a base64 tar.
folder() {
  if [ -d "$2" ]; then
    section "$1" sh -c "tar -C '$2' -cf - . | base64"
  else
    section "$1" sh -c "echo 'no folder $2' >&2; exit 1"
  fi
}

# Drivers: a failed insmod (a CRC module that needs a newer CPU, say) is
# reported, not fatal; a missing disk below is.
: >/tmp/modules.log
for module in $(cat /lib/modules/e2e/modules.list); do
  insmod "/lib/modules/e2e/$module" >>/tmp/modules.log 2>&1 ||
    echo "insmod $module failed" >>/tmp/modules.log
done

waited=0
while [ ! -b /dev/sda ] || [ ! -b /dev/nvme0n1 ] || [ ! -c /dev/nvme0 ] || [ ! -c /dev/sg0 ]; do
  if [ "$waited" -ge 60 ]; then
    section modules cat /tmp/modules.log
    section dmesg dmesg
    section disks-missing sh -c 'ls -l /dev; exit 1'
    finish
  fi
  sleep 0.5
  waited=$((waited + 1))
done

# From here on the console carries only the results.
echo 1 >/proc/sys/kernel/printk

section uname uname -a
section modules cat /tmp/modules.log
section sys-block ls -l /sys/block
# Some NVMe traffic, so that the data-unit and command counters are not all
# zero: reads from the start, writes into the unpartitioned last MiB.
section nvme-traffic sh -c 'dd if=/dev/nvme0n1 of=/dev/null bs=64k count=100 &&
  dd if=/dev/zero of=/dev/nvme0n1 bs=4k seek=7936 count=150 conv=fsync'

if [ "$mode" = critical ]; then
  section sentrel-health-nvme0n1 sentrel --offline health nvme0n1 --format raw-json
  section sentrel-device-nvme0n1 sentrel --offline device nvme0n1 --format raw-json
  section smartctl-nvme0 smartctl -j -x /dev/nvme0
  # The exit status bits, beside smartctl's for the same controller.
  section sentrel-health-nvme0n1-typed sentrel --offline --format json health nvme0n1
  section smartctl-nvme0-exit smartctl -H /dev/nvme0
else
  section sentrel-list sentrel --offline list --format raw-json
  section sentrel-device-sda sentrel --offline device sda --format raw-json
  section sentrel-health-sda sentrel --offline health sda --format raw-json
  section sentrel-device-nvme0n1 sentrel --offline device nvme0n1 --format raw-json
  # The NVMe counters move with I/O: read them again right away.
  section smartctl-nvme0-health smartctl -j -H -A /dev/nvme0
  section sentrel-health-nvme0n1 sentrel --offline health nvme0n1 --format raw-json
  section sentrel-selftest-sda sentrel --offline selftest sda short
  section sentrel-device-sda-after-selftest sentrel --offline device sda --format raw-json
  # An NVMe device self-test, followed to its end when the controller has them.
  section sentrel-selftest-nvme0n1 sentrel --offline selftest nvme0n1 short --wait
  section sentrel-capture-sda sentrel --offline capture sda /tmp/cap-sda
  folder capture-sda /tmp/cap-sda
  section sentrel-device-nvme0n1-before-capture sentrel --offline device nvme0n1 --format raw-json
  section sentrel-capture-nvme0n1 sentrel --offline capture nvme0n1 /tmp/cap-nvme
  folder capture-nvme0n1 /tmp/cap-nvme
  section smartctl-sda smartctl -j -x /dev/sda
  section smartctl-nvme0 smartctl -j -x /dev/nvme0
  section smartctl-nvme0n1-info smartctl -j -i /dev/nvme0n1
  # The text forms, for people reading the log (and the NVMe power
  # states, which smartctl prints only as text).
  section smartctl-sda-text smartctl -x /dev/sda
  section smartctl-nvme0-text smartctl -x /dev/nvme0
  section sentrel-device-sda-text sentrel --offline device sda
  section sentrel-device-nvme0n1-text sentrel --offline device nvme0n1
  # The typed JSON of every disk, checked against the schema on the host.
  section sentrel-health-all-typed sentrel --offline --format json health --all
  section sentrel-device-sda-typed sentrel --offline --format json device sda

  # Listing and checking disks reads no media once udev has a record of
  # them. This guest has no udev: its records are written here as udev
  # writes them when a device appears, with what make-disks.sh put on the
  # disks (a GPT, one partition each: ext4 "E2E-SATA", vfat "E2E-NVME").
  section udev-records sh -c '
    mkdir -p /run/udev/data
    record() { printf "$2" >"/run/udev/data/b$(cat "/sys/class/block/$1/dev")"; }
    record sda "E:ID_PART_TABLE_TYPE=gpt\n"
    record sda1 "E:ID_FS_TYPE=ext4\nE:ID_FS_LABEL_ENC=E2E-SATA\n"
    record nvme0n1 "E:ID_PART_TABLE_TYPE=gpt\n"
    record nvme0n1p1 "E:ID_FS_TYPE=vfat\nE:ID_FS_LABEL_ENC=E2E-NVME\n"
    head /run/udev/data/*'
  section io-before sh -c 'cat /sys/block/sda/stat /sys/block/nvme0n1/stat; smartctl -j -A /dev/nvme0'
  section five-runs sh -c 'for i in 1 2 3 4 5; do
    sentrel --offline list >/dev/null && sentrel --offline health --all >/dev/null &&
      sentrel --offline metrics --all >/dev/null || exit 1
  done'
  section io-after sh -c 'cat /sys/block/sda/stat /sys/block/nvme0n1/stat; smartctl -j -A /dev/nvme0'
fi
section dmesg dmesg
finish
