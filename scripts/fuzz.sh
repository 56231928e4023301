#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz") and runs each of them for
# SECONDS (default 30) on a scratch copy of its seed corpus, so the
# repository's corpus is never rewritten. Every input of the corpus runs
# first, the regression-* ones included. Fails when any target finds a
# crash, a leak, a timeout or a failed check; the input and the log are kept
# under build/fuzz/run/TARGET/.
#
#   scripts/fuzz.sh            # 30 seconds a target
#   scripts/fuzz.sh 600        # ten minutes a target
#   FUZZ_TARGETS="sector_decoders" scripts/fuzz.sh 60
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
targets=(${FUZZ_TARGETS:-drivedb_parser drive_lookup sector_decoders sim_loader device_plist pass_through database_cache})

bash scripts/install-deps.sh build fuzz
bash scripts/build.sh fuzz

run_root="build/fuzz/run"
failed=()
for target in "${targets[@]}"; do
  binary="build/fuzz/fuzz/fuzz_${target}"
  work="$run_root/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp -R "tests/fuzz/corpus/$target/." "$work/corpus/"
  seeds=$(find "$work/corpus" -type f | wc -l)
  options=(-max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$work/artifacts/")
  if [ -f "tests/fuzz/dict/$target.dict" ]; then options+=(-dict="tests/fuzz/dict/$target.dict"); fi

  status=0
  UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    "$binary" "${options[@]}" "$work/corpus" >"$work/log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -1)
  files=$(find "$work/corpus" -type f | wc -l)
  if [ "$status" -eq 0 ]; then
    printf '%-16s %10s executions in %ss, corpus %s -> %s inputs\n' \
      "$target" "${runs:-?}" "$seconds" "$seeds" "$files"
  else
    printf '%-16s FAILED (exit status %s) after %s executions; see %s\n' \
      "$target" "$status" "${runs:-?}" "$work/log"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|fuzz check failed|.*runtime error)' "$work/log" | head -5 || true
    ls "$work/artifacts" | sed 's/^/  input: /'
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzzing found problems in: ${failed[*]}"
  exit 1
fi
