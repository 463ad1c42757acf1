#!/usr/bin/env bash
# Builds pelt and runs every test, twice: a normal debug build, and a build under
# AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --workflow --preset default
cmake --workflow --preset asan
