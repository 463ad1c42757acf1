#!/usr/bin/env bash
# Checks that every C++ file of the project is as clang-format (with .clang-format) writes it.
#
#   scripts/format.sh [--check | --fix]
#
# --check (the default) lists the files that differ and fails; --fix rewrites them in place.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:---check}
case "$mode" in
  --check | --fix) ;;
  *)
    echo "usage: scripts/format.sh [--check | --fix]" >&2
    exit 1
    ;;
esac
command -v clang-format >/dev/null || scripts/setup.sh
mapfile -t files < <(git ls-files -co --exclude-standard '*.cc' '*.h')
if [ "$mode" = --fix ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if ((${#bad[@]} > 0)); then
  printf 'format: %s is not clang-format clean (scripts/format.sh --fix rewrites it)\n' "${bad[@]}" >&2
  exit 1
fi
echo "format: ${#files[@]} C++ files clang-format clean"
