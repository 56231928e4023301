#!/usr/bin/env bash
# Builds the test program of the "tsan" preset and runs the concurrency
# tests under ThreadSanitizer: every suite named *ConcurrencyTest (lookups
# and requests while the drive database is replaced, update jobs back to
# back, notifications through the main queue). Any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
filter='*ConcurrencyTest.*'

bash scripts/install-deps.sh build tests
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target sentrel_tests

binary=build/tsan/tests/sentrel_tests
count=$("$binary" --gtest_filter="$filter" --gtest_list_tests | grep -c '^  ' || true)
if [ "$count" -lt 5 ]; then
  echo "test-tsan: the filter $filter selects $count tests; expected at least 5" >&2
  exit 1
fi
echo "test-tsan: running $count tests under ThreadSanitizer"
TSAN_OPTIONS="halt_on_error=1 abort_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
  "$binary" --gtest_filter="$filter" --gtest_brief=1
