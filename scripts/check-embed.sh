#!/usr/bin/env bash
# Builds examples/embed against an installed Sentrel twice, with pkg-config
# and with find_package(Sentrel), and runs both builds on a simulated
# machine. Fails when a build fails or the example's verdicts are not the
# demo machine's.
#
#   scripts/check-embed.sh [PREFIX [STAGE]]
#     PREFIX  where Sentrel is installed (default /usr)
#     STAGE   a DESTDIR it was installed into, for an install not yet in
#             place: `DESTDIR=STAGE cmake --install build/default`
# Environment: SENTREL_DEMO, the machine to run on (default: the installed
# demo, else the repository's examples/demo-mac).
set -euo pipefail
cd "$(dirname "$0")/.."
prefix="${1:-/usr}"
stage="${2:-}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

root="$stage$prefix"
demo="${SENTREL_DEMO:-$root/share/sentrel/demo-mac}"
[ -d "$demo" ] || demo="examples/demo-mac"
libdir="$(dirname "$(find "$root/lib" -name sentrel.pc -path '*pkgconfig*' | head -n 1)")/.."
[ -d "$libdir" ] || { echo "check-embed: no sentrel.pc under $root/lib" >&2; exit 1; }
libdir="$(cd "$libdir" && pwd)"
export LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

echo "check-embed: pkg-config against $root"
cp examples/embed/main.cc examples/embed/Makefile "$work/"
PKG_CONFIG_PATH="$libdir/pkgconfig" PKG_CONFIG_SYSROOT_DIR="$stage" \
  make -s -C "$work" CXXFLAGS="-O1 -Wall -Wextra -Werror"

echo "check-embed: find_package(Sentrel) against $root"
cmake -S examples/embed -B "$work/cmake" -DCMAKE_PREFIX_PATH="$root" \
  -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >/dev/null
cmake --build "$work/cmake" >/dev/null

# The demo's verdicts: disk0 warns for attributes 5 and 187, the others pass.
for program in "$work/sentrel-embed" "$work/cmake/sentrel-embed"; do
  # ldd's whole output first: grep -q stops reading at the match, and under
  # pipefail the cut-off ldd would fail the check.
  libraries="$(ldd "$program")"
  grep -q "libsentrel.so.0 => $libdir/" <<<"$libraries" ||
    { echo "check-embed: $program does not use $libdir/libsentrel.so.0" >&2; exit 1; }
  out="$("$program" --sim "$demo")"
  for expected in "disk0 .*Warning" "Reallocated Sector Count (5): raw value 8 is above 0" "disk5 .*Passed"; do
    grep -q -- "$expected" <<<"$out" ||
      { echo "check-embed: $program printed no \"$expected\":"; echo "$out"; exit 1; } >&2
  done
done
echo "check-embed: both builds ran on $demo:"
echo "$out"
