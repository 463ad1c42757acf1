#!/usr/bin/env bash
# Builds pelt and runs every test, three times: a normal debug build, a build under
# AddressSanitizer + UndefinedBehaviorSanitizer, and pelt.exe for Windows (cross-compiled with
# MinGW-w64, the tests run under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --workflow --preset default
cmake --workflow --preset asan
cmake --workflow --preset windows
