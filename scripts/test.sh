#!/usr/bin/env bash
# Checks that every C++ file is clang-format clean and that the test code keeps to its budget,
# then builds pelt and runs every test, four times: a normal debug build, a build under
# AddressSanitizer + UndefinedBehaviorSanitizer, one under ThreadSanitizer (the jobs of a run and
# the threads of a PNG file), and pelt.exe for Windows (cross-compiled with MinGW-w64, the tests
# run under Wine). Under Wine a test that fails is run once more: now and then Wine itself fails
# a program as it starts (its server going away beneath it); the Linux runs, which share every
# line of pelt's logic, have no second chance.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/format.sh --check
scripts/loc.sh
cmake --workflow --preset default
cmake --workflow --preset asan
cmake --workflow --preset tsan
cmake --workflow --preset windows
