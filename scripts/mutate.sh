#!/usr/bin/env bash
# Plants small faults in the code, one at a time, and reports which of them
# the tests catch. A fault the tests let through is a hole in the suite: a
# decoder, verdict or store that can break without anyone noticing.
#
# The faults are listed in scripts/mutations.txt (or FILE), one a line, three
# fields separated by tabs:
#
#   src/ata/raw_value.cc<TAB>text as it stands<TAB>the faulty text
#
# The text must occur exactly once in the file. "#" starts a comment line.
# Each fault is applied to a scratch copy of the working tree (build/mutate,
# kept between runs so rebuilds are incremental), the tests are rebuilt and
# run until the first failure, and the file is put back. A fault that does
# not compile is reported as such and counts as neither caught nor missed.
# Only the ctest suite runs (not the end-to-end test, the sanitizers or the
# fuzzers), so a fault that only those would catch is reported missed.
#
# Usage: scripts/mutate.sh [FILE] [LINE...]   (LINE: run only those lines of FILE)
# Environment: MUTATE_DIR (default build/mutate), MUTATE_TIMEOUT (default 300
# seconds for the tests of one fault).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
list="${1:-scripts/mutations.txt}"
[ $# -gt 0 ] && shift
only=("$@")
work="${MUTATE_DIR:-$root/build/mutate}"
timeout="${MUTATE_TIMEOUT:-300}"
copy="$work/tree"
# The default preset inside the copy: the same flags and relative paths as
# a checkout's build/default, so ccache answers most compilations.
build="$copy/build/default"
[ -f "$list" ] || { echo "mutate: no list at $list" >&2; exit 2; }

# Every line of the list is checked before anything is built: three fields,
# the text once in its file.
LIST="$list" python3 - <<'PY' || exit 2
import os, sys
bad = 0
for n, line in enumerate(open(os.environ["LIST"], encoding="utf-8").read().split("\n"), 1):
    if not line or line.startswith("#"):
        continue
    fields = line.split("\t")
    if len(fields) != 3 or not fields[0] or not fields[1]:
        print(f"mutate: {os.environ['LIST']}:{n}: expected FILE<TAB>TEXT<TAB>REPLACEMENT", file=sys.stderr)
        bad += 1
        continue
    try:
        count = open(fields[0], encoding="utf-8").read().count(fields[1])
    except OSError as e:
        print(f"mutate: {os.environ['LIST']}:{n}: {fields[0]}: {e.strerror}", file=sys.stderr)
        bad += 1
        continue
    if count != 1:
        print(f"mutate: {os.environ['LIST']}:{n}: the text occurs {count} times in {fields[0]} (must be once)", file=sys.stderr)
        bad += 1
sys.exit(1 if bad else 0)
PY
# Read whole now, so the list can be edited while a run goes on.
mapfile -t entries <"$list"

bash scripts/install-deps.sh build tests rsync
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR="$copy" CCACHE_NOHASHDIR=true
fi

# Files whose contents did not change keep their times in the copy and
# those that did get new ones, so ninja rebuilds only what differs from the
# last run (a file put back after a fault has a new time: it is rebuilt).
mkdir -p "$copy" "$build"
rsync -rlc --delete --exclude /build/ --exclude /.git/ "$root/" "$copy/"
(cd "$copy" && cmake --preset default -DSENTREL_BUILD_BENCHMARKS=OFF) >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log" >&2; exit 2; }

run_tests() {
  ninja -C "$build" >"$work/build.log" 2>&1 || return 2
  timeout "$timeout" ctest --test-dir "$build" -j2 --stop-on-failure --output-on-failure \
    >"$work/test.log" 2>&1 || return 1
}

echo "mutate: building and testing the unchanged tree"
if ! run_tests; then
  echo "mutate: the unchanged tree does not build or pass its tests; see $work/build.log and $work/test.log" >&2
  exit 2
fi

caught=0 missed=0 broken=0 total=0
missed_list=()
line_no=0
for entry in "${entries[@]}"; do
  line_no=$((line_no + 1))
  case "$entry" in "" | "#"*) continue ;; esac
  if [ ${#only[@]} -gt 0 ] && ! printf '%s\n' "${only[@]}" | grep -qx "$line_no"; then continue; fi
  IFS=$'\t' read -r file text replacement <<<"$entry"
  target="$copy/$file"
  label="$list:$line_no $file: '$text' -> '$replacement'"
  cp "$target" "$work/original"
  trap 'cp "$work/original" "$target"' EXIT
  FILE="$target" TEXT="$text" NEW="$replacement" python3 -c '
import os
path = os.environ["FILE"]
text = open(path, encoding="utf-8").read()
open(path, "w", encoding="utf-8").write(text.replace(os.environ["TEXT"], os.environ["NEW"], 1))'

  total=$((total + 1))
  status=0
  run_tests || status=$?
  case "$status" in
    0)
      missed=$((missed + 1))
      missed_list+=("$label")
      echo "MISSED  $label"
      ;;
    1)
      caught=$((caught + 1))
      first=$(grep -m1 -oE '[0-9]+ - [^ ]+ \((Failed|Timeout|SEGFAULT|Subprocess aborted|Exception)' "$work/test.log" |
        sed -E 's/^[0-9]+ - //' || true)
      echo "caught  $label  [${first:-see test.log}]"
      ;;
    2)
      broken=$((broken + 1))
      echo "NOBUILD $label"
      ;;
  esac
  cp "$work/original" "$target"
  trap - EXIT
done

counted=$((caught + missed))
echo
echo "mutate: $total faults: $caught caught, $missed missed, $broken did not build"
[ "$counted" -gt 0 ] && echo "mutate: the tests catch $((100 * caught / counted))% of the faults that build"
for m in "${missed_list[@]}"; do echo "  missed: $m"; done
[ "$missed" -eq 0 ]
