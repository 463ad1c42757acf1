#!/usr/bin/env bash
# Builds the libFuzzer targets (the `fuzz` preset: clang, AddressSanitizer, UndefinedBehavior-
# Sanitizer) and runs every target (mix, model, dds, tga and run; see fuzz/CMakeLists.txt) for
# SECONDS seconds, one after the other, each starting from its seed corpus and its saved
# regression inputs. Exits non-zero when any target finds anything: a crash, a sanitizer report,
# a broken invariant, a leak, a timeout or an oversized allocation.
#
#   scripts/fuzz.sh [SECONDS]          (default 60)
#
# PELT_FUZZ_BUILD_DIR chooses the build directory (default build/fuzz). New interesting inputs
# collect in BUILD/fuzz-work/<target>/corpus; a finding's input is kept as
# BUILD/fuzz-work/<target>/crash-* (or leak-*, timeout-*, oom-*); copy it into
# fuzz/regressions/<target>/ once it is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz.sh [SECONDS]" >&2
  exit 1
fi
build=${PELT_FUZZ_BUILD_DIR:-build/fuzz}
targets=(mix model dds tga run)

scripts/setup.sh
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target "${targets[@]/#/fuzz_}"

# The whole-run target writes files on every execution (the others write none): on a memory file
# system when there is one, it runs several times faster. A target stopped by a finding leaves its
# files behind, so they go into a directory of this script's own, removed at the end.
scratch=${TMPDIR:-/tmp}
if [ -d /dev/shm ] && [ -w /dev/shm ]; then scratch=/dev/shm; fi
scratch=$(mktemp -d "$scratch/pelt-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

failed=()
summary=()
for t in "${targets[@]}"; do
  work="$build/fuzz-work/$t"
  mkdir -p "$work/corpus"
  inputs=("$build/fuzz/corpus/$t")
  if [ -d "fuzz/regressions/$t" ]; then inputs+=("fuzz/regressions/$t"); fi
  log="$work/log"
  echo "fuzz: $t for ${seconds}s"
  start=$(date +%s.%N)
  status=0
  # One input at a time must stay far below these: an allocation of more than 128 MiB or a run of
  # more than 10 seconds on an input of a few kilobytes is a finding.
  TMPDIR="$scratch" "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 \
    -malloc_limit_mb=128 -rss_limit_mb=2048 -dict=fuzz/pelt.dict -artifact_prefix="$work/" \
    -print_final_stats=1 \
    "$work/corpus" "${inputs[@]}" >"$log" 2>&1 || status=$?
  end=$(date +%s.%N)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  wall=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "fuzz: $t: FINDING (exit $status), see $log and $work/" >&2
    failed+=("$t")
    summary+=("$t: FINDING after ${runs:-?} executions, ${wall}s")
  else
    summary+=("$t: ${runs:-?} executions in ${wall}s, no findings")
  fi
done

echo "fuzz: summary"
for line in "${summary[@]}"; do echo "  $line"; done
if ((${#failed[@]} > 0)); then
  echo "fuzz: findings in ${failed[*]}" >&2
  exit 1
fi
