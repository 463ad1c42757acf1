#!/usr/bin/env bash
# Counts the non-blank, non-comment C++ lines (*.cc, *.h) of src/, tests/ and fuzz/, and the test
# code's share: (tests + fuzz) / src. Fails when that share is above 40 %.
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
  find "$1" -type f \( -name '*.cc' -o -name '*.h' \) -exec cat {} + 2>/dev/null | awk '
    { sub(/^[ \t]+/, "") }
    in_block { if (!sub(/^.*\*\//, "")) next; in_block = 0; sub(/^[ \t]+/, "") }
    /^\/\*/ { if (!sub(/^\/\*.*\*\//, "")) { in_block = 1; next } sub(/^[ \t]+/, "") }
    $0 != "" && !/^\/\// { n++ }
    END { print n + 0 }'
}

src=$(count src)
tests=$(count tests)
fuzz=$(count fuzz)
printf '%-6s %6d\n' src "$src" tests "$tests" fuzz "$fuzz"
awk -v t=$((tests + fuzz)) -v s="$src" 'BEGIN {
  pct = s ? 100 * t / s : 0
  printf "(tests + fuzz) / src = %d / %d = %.1f %% (limit 40 %%)\n", t, s, pct
  exit pct > 40
}' || { echo "loc: test code is above 40 % of src/" >&2; exit 1; }
