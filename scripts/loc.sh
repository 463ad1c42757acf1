#!/usr/bin/env bash
# The test code's budget: counts the characters of the C++ files (*.cc, *.h) of src/, tests/ and
# fuzz/ that are neither whitespace nor inside a comment (string literals count), and fails when
# the tests (builders and reference decoder included) are more than 40 % of src/ (the aim is a
# third), or the fuzz harnesses, test support counted apart, more than 8 %. Counting characters,
# not lines, means the budget is met by choosing what to test, never by joining lines.
limit=40
fuzz_limit=8
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
  find "$1" -type f \( -name '*.cc' -o -name '*.h' \) -print0 | sort -z |
    xargs -0 -r cat | perl -0777 -ne '
      # Strings and character literals are kept whole (a "//" inside one is no comment), then
      # comments go, then every character that is not whitespace is counted.
      s{("(?:\\.|[^"\\\n])*")|(\x27(?:\\.|[^\x27\\\n])*\x27)|//[^\n]*|/\*.*?\*/}
       {defined $1 ? $1 : defined $2 ? $2 : " "}gse;
      print tr/ \t\r\n\f\v//c, "\n"'
}

src=$(count src)
tests=$(count tests)
fuzz=$(count fuzz)
printf '%-6s %7d characters\n' src "$src" tests "$tests" fuzz "$fuzz"
awk -v t="$tests" -v f="$fuzz" -v s="$src" -v limit="$limit" -v fuzz_limit="$fuzz_limit" 'BEGIN {
  pt = s ? 100 * t / s : 0
  pf = s ? 100 * f / s : 0
  printf "tests / src = %d / %d = %.1f %% (budget %d %%, aim 33 %%)\n", t, s, pt, limit
  printf "fuzz / src  = %d / %d = %.1f %% (budget %d %%)\n", f, s, pf, fuzz_limit
  if (pt > limit) print "loc: the tests are above " limit " % of src/" > "/dev/stderr"
  if (pf > fuzz_limit) print "loc: the fuzz harnesses are above " fuzz_limit " % of src/" > "/dev/stderr"
  exit pt > limit || pf > fuzz_limit
}'
