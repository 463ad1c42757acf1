#!/usr/bin/env bash
# Builds the release preset and runs the benchmarks: the decoder's throughput against memset
# (Google Benchmark), the whole run against cp and copy_file_range (bench/run_extract.sh), then
# DDS to PNG against ImageMagick (bench/png_vs_magick.sh).
#
#   scripts/bench.sh [--quick] [options of bench/run_extract.sh]
#
# --quick runs both briefly (CI: checks that they work, in well under a minute once built).
# PELT_BUILD_DIR builds somewhere other than build/release; the other PELT_BENCH_* variables are
# bench/run_extract.sh's.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
for a in "$@"; do
  [ "$a" = --quick ] && quick=1
done

scripts/setup.sh
build=${PELT_BUILD_DIR:-build/release}
cmake --preset release -B "$build" >/dev/null
cmake --build "$build"

decode=$build/bench/pelt_bench_decode
if [ -x "$decode" ]; then
  if ((quick)); then
    "$decode" --benchmark_min_time=0.01
  else
    "$decode"
  fi
  echo
else
  echo "bench: $decode is not built; skipping the decoder benchmark"
fi

PELT_BUILD_DIR=$build bench/run_extract.sh "$@"
echo
if ((quick)); then
  PELT_BUILD_DIR=$build bench/png_vs_magick.sh --quick
else
  PELT_BUILD_DIR=$build bench/png_vs_magick.sh
fi
