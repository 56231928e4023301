#!/usr/bin/env bash
# Static analysis of our own code; fails on any finding.
#
#   clang-tidy  .clang-tidy over src/ and cli/; with --tests also
#               tests/.clang-tidy (a lighter list) over tests/ except e2e/
#               and fuzz/, which doubles the time (mostly parsing gtest)
#   cppcheck    src/, cli/ and include/, suppressions in .cppcheck-suppressions
#
# Installs clang-tidy and cppcheck (and the test packages) when they are missing. The compile database comes
# from configuring build/lint without building it. Every .cc file present when
# the script runs is linted, also one that no CMake list names yet: clang-tidy
# borrows the flags of its nearest neighbour in the database.
#
# With --since COMMIT clang-tidy looks only at the .cc files changed since
# COMMIT and at those that include a changed header by name (cppcheck still
# reads everything: it takes seconds). A change to the analysers' settings,
# this script or a CMake list, or a COMMIT this clone does not have, brings
# back the full run. CI passes the last commit on which it passed.
#
# Usage: scripts/lint.sh [--tests] [--since COMMIT]
# Environment: LINT_JOBS (default 2) parallel clang-tidy processes,
# LINT_BUILD_DIR (default build/lint).
set -euo pipefail
cd "$(dirname "$0")/.."

dirs=(src cli)
since=""
while [ $# -gt 0 ]; do
  case "$1" in
    --tests) dirs+=(tests) ;;
    --since) since="${2:?--since needs a commit}"; shift ;;
    *) echo "usage: $0 [--tests] [--since COMMIT]" >&2; exit 2 ;;
  esac
  shift
done

jobs="${LINT_JOBS:-2}"
build="${LINT_BUILD_DIR:-build/lint}"

find_tool() {
  local name
  for name in "$@"; do
    if command -v "$name" >/dev/null 2>&1; then
      command -v "$name"
      return
    fi
  done
  echo "lint: none of $* is installed; run scripts/install-deps.sh" >&2
  exit 2
}
bash scripts/install-deps.sh build tests lint
clang_tidy="$(find_tool clang-tidy-14 clang-tidy)"
cppcheck="$(find_tool cppcheck)"
find_tool cmake >/dev/null

logs="$(mktemp -d)"
trap 'rm -rf "$logs"' EXIT

# Configuring again is cheap and picks up files the CMake lists gained.
nice -n 10 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DSENTREL_BUILD_BENCHMARKS=OFF >"$logs/configure.log" 2>&1 ||
  { cat "$logs/configure.log" >&2; exit 2; }

# One clang-tidy per file; a file's findings print once it is done, so two
# processes never interleave their lines.
tidy_one() {
  local file="$1" log
  log="$logs/$(printf '%s' "$file" | tr '/' '_').log"
  if nice -n 10 "$clang_tidy" -p "$build" --quiet "$file" >"$log" 2>&1; then
    return 0
  fi
  grep -vE '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' "$log" >&2
  return 1
}
export -f tidy_one
export clang_tidy build logs

status=0
files=$(find "${dirs[@]}" -name '*.cc' -not -path 'tests/e2e/*' -not -path 'tests/fuzz/*' | sort)

# The files a change since $since can have given new findings, or every file.
changed_files() {
  git cat-file -e "$since^{commit}" 2>/dev/null || { echo "clang-tidy: $since is not in this clone; every file" >&2; return 1; }
  local changed
  changed=$(git diff --name-only "$since" -- . ; git ls-files --others --exclude-standard)
  if printf '%s\n' "$changed" | grep -qE '(^|/)(\.clang-tidy|CMakeLists\.txt|CMakePresets\.json)$|^scripts/lint\.sh$'; then
    echo "clang-tidy: the settings changed since $since; every file" >&2
    return 1
  fi
  local pattern=""
  for header in $(printf '%s\n' "$changed" | grep -E '\.h$' || true); do
    pattern+="${pattern:+|}$(basename "$header" | sed 's/\./\\./g')"
  done
  {
    printf '%s\n' "$files" | grep -Fx -f <(printf '%s\n' "$changed") || true
    if [ -n "$pattern" ]; then
      printf '%s\n' "$files" | xargs -d '\n' grep -lE "^#include [\"<]([^\">]*/)?($pattern)[\">]" 2>/dev/null || true
    fi
  } | sort -u
}
if [ -n "$since" ]; then
  if selected=$(changed_files); then
    echo "clang-tidy: files changed since ${since:0:12} and the files that include a changed header"
    files="$selected"
  fi
fi

count=$(printf '%s' "$files" | grep -c . || true)
echo "clang-tidy: $count files, $jobs at a time"
if [ "$count" -gt 0 ]; then
  printf '%s\n' "$files" | xargs -d '\n' -n 1 -P "$jobs" bash -c 'tidy_one "$1"' _ || status=1
fi

echo "cppcheck: src cli (include/ through the files that include it)"
# Style ids left out as a matter of taste, not as false positives:
#   useStlAlgorithm       a plain loop is not a fault
#   noExplicitConstructor Value and its kinds convert implicitly on purpose
#   shadowFunction        a local named like an unrelated member function
nice -n 10 "$cppcheck" --quiet -j "$jobs" --std=c++20 --language=c++ \
  -I include -I src \
  --enable=warning,performance,portability,style \
  --suppress=useStlAlgorithm --suppress=noExplicitConstructor --suppress=shadowFunction \
  --suppress=missingIncludeSystem \
  --suppressions-list=.cppcheck-suppressions --inline-suppr \
  --error-exitcode=1 \
  --template='{file}:{line}:{column}: {severity}: {message} [{id}]' \
  src cli || status=1

if [ "$status" -eq 0 ]; then
  echo "lint: no findings"
else
  echo "lint: findings above" >&2
fi
exit "$status"
