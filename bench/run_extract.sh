#!/usr/bin/env bash
# The whole-run benchmark: times pelt on generated archives against floors measured in the same
# run, and prints medians, ratios and pelt's peak resident memory.
#
#   bench/run_extract.sh [--quick] [--runs N] [--scale F] [--bin BUILD_DIR]
#
# Cases (make_bench_archive writes their inputs):
#   whole   ~1 GiB archive, a few thousand DXT1/3/5 and TGA entries, the model naming about half;
#           floor: cp of one file as large as all the converted images, plus copy_file_range of
#           the TGA entries pelt copies (copy_floor)
#   single  one 4096 x 4096 DXT5 entry; floor: cp of a file of 64 MiB + 18 bytes
#   argb    one 4096 x 4096 A8R8G8B8 entry, and l8 one L8 entry: the same floor
#   bigtga  one 256 MiB TGA entry; floor: copy_file_range of its bytes
#   many    100,000 tiny TGA entries, a model of 10,000 names; pelt against copy_floor writing the
#           same 10,000 files, pelt --list (matching, no output) and pelt -t (every entry); and
#           a pattern that fails only after trying every split, over 20,000 names of 250
#           characters
#   extract pelt -x '*' over the whole and many archives (every entry); floor: cp -r of a
#           directory holding the files it writes
#   jobs    the whole run with one job per core against as many cp processes splitting the
#           same files; the whole run with --png at -j 1 to -j N (N the cores); one 4096 x 4096
#           DXT5 conversion with N jobs against dd of zeros of the output's size
#
# pelt writes one file per converted texture where the cp floor writes one file in all, so on a
# filesystem where creating files is dear the whole run is bound by that; the run prints what
# creating those files costs, and PELT_BENCH_DIR on a tmpfs shows pelt's own share.
#
# --quick (PELT_BENCH_SCALE=0.05 and 3 runs) shrinks the whole, bigtga and many cases: a check
# that everything works, in well under a minute; its figures are not the targets'. Environment:
#   PELT_BUILD_DIR          where pelt, make_bench_archive and copy_floor are (build/release)
#   PELT_BENCH_DIR          keep the generated data here and reuse it (default: a temporary
#                           directory under /tmp, removed at the end); outputs go there too, so
#                           that pelt and the floors write to the filesystem they read from
#   PELT_BENCH_SCALE        size of the whole case in GiB (1)
#   PELT_BENCH_RUNS         timed runs per command (5); the median is printed
#   PELT_BENCH_DROP_CACHES  1: drop the page cache before every timed command (needs root)
set -euo pipefail
export LC_ALL=C

repo=$(cd "$(dirname "$0")/.." && pwd)
bin=${PELT_BUILD_DIR:-$repo/build/release}
scale=${PELT_BENCH_SCALE:-1}
runs=${PELT_BENCH_RUNS:-5}
drop_caches=${PELT_BENCH_DROP_CACHES:-0}

while (($# > 0)); do
  case $1 in
    --quick) scale=0.05 runs=3 ;;
    --runs) runs=$2; shift ;;
    --scale) scale=$2; shift ;;
    --bin) bin=$2; shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "run_extract: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done

pelt_bin=$bin/pelt
for tool in "$pelt_bin" "$bin/make_bench_archive" "$bin/copy_floor"; do
  [ -x "$tool" ] || { echo "run_extract: $tool is not built (see --bin)" >&2; exit 2; }
done
timev=/usr/bin/time
[ -x "$timev" ] || timev=""

if [ -n "${PELT_BENCH_DIR:-}" ]; then
  data=$PELT_BENCH_DIR
  mkdir -p "$data"
else
  data=$(mktemp -d /tmp/pelt-bench-XXXXXX)
  trap 'rm -rf "$data"' EXIT
fi
# Every command writes into a fresh $out, removed after it, outside the timing.
out=$data/out
rm -rf "$out"

# ---- data -------------------------------------------------------------------------------------
env_file=$data/bench.env
if ! { [ -f "$env_file" ] && grep -qx "generator=5" "$env_file" &&
       grep -qx "scale=$(awk -v s="$scale" 'BEGIN { printf "%g", s }')" "$env_file"; }; then
  # Archive, floor files and at most one run's output at a time: about 5 GiB per unit of scale.
  need_kib=$(awk -v s="$scale" 'BEGIN { printf "%d", (s * 5 + 0.5) * 1048576 }')
  have_kib=$(df -Pk "$data" | awk 'NR == 2 { print $4 }')
  if ((have_kib < need_kib)); then
    echo "run_extract: $data has $((have_kib / 1024)) MiB free, needs about $((need_kib / 1024))" >&2
    exit 1
  fi
  echo "generating data in $data (scale $scale)"
  rm -f "$env_file"
  "$bin/make_bench_archive" "$data" --scale "$scale"
fi
# shellcheck disable=SC1090
. "$env_file"

# ---- measuring --------------------------------------------------------------------------------
now_us() { local t=$EPOCHREALTIME; echo "${t/./}"; }
# The CPU time (user + system) of the children this shell has waited for, as `times` prints it
# for the children, in microseconds. `times` must run in this shell, not in a subshell (which
# counts only its own children), so it writes to a file.
cpu_of() {
  tail -n 1 "$1" | awk '{
    t = 0
    for (i = 1; i <= 2; ++i) { split($i, p, /[ms]/); t += p[1] * 60 + p[2] }
    printf "%d", t * 1e6 }'
}

quiesce() {
  sync
  if [ "$drop_caches" = 1 ]; then
    echo 3 2>/dev/null >/proc/sys/vm/drop_caches ||
      { echo "run_extract: cannot drop the page cache; going on without" >&2; drop_caches=0; }
  fi
}

# time_into NAME CMD...: runs CMD into a fresh, empty $out and appends its wall time and its CPU
# time (user + system), in microseconds, to the arrays NAME_wall and NAME_cpu. Its output is
# removed afterwards, outside the timing.
time_into() {
  local -n wall=${1}_wall cpu=${1}_cpu
  shift
  rm -rf "$out"
  mkdir -p "$out"
  quiesce
  local t0 t1
  times >"$data/times.0"
  t0=$(now_us)
  "$@" >/dev/null 2>&1 || true  # checked by check_run; reports of missing textures aside
  t1=$(now_us)
  times >"$data/times.1"
  wall+=($((t1 - t0)))
  cpu+=($(($(cpu_of "$data/times.1") - $(cpu_of "$data/times.0"))))
  rm -rf "$out"
}

median_s() {  # median of microsecond figures, in seconds
  printf '%s\n' "$@" | sort -n |
    awk '{ v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
                              printf "%.4f", m / 1e6 }'
}
# medians NAME...: for each NAME timed by time_into, sets NAME to the median wall time and
# NAME_text to "WALL s   (CPU C s)".
medians() {
  local name
  for name in "$@"; do
    local -n wall=${name}_wall cpu=${name}_cpu text=${name}_text
    printf -v "$name" '%s' "$(median_s "${wall[@]}")"
    text="${!name} s   (CPU $(median_s "${cpu[@]}") s)"
    unset -n wall cpu text
  done
}
reset() {
  local name
  for name in "$@"; do eval "${name}_wall=() ${name}_cpu=()"; done
}
calc() { awk "BEGIN { printf \"%.2f\", $1 }"; }
mib() { awk -v b="$1" 'BEGIN { printf "%.1f MiB", b / 1048576 }'; }

# peak_rss_kib CMD...: the peak resident set of CMD in KiB (n/a without /usr/bin/time).
peak_rss_kib() {
  if [ -z "$timev" ]; then echo "n/a"; return; fi
  rm -rf "$out"
  mkdir -p "$out"
  "$timev" -v "$@" 2>"$data/time.log" >/dev/null || true
  awk -F': ' '/Maximum resident set size/ { print $2 }' "$data/time.log"
  rm -rf "$out"
}

failed=0
# check_run CASE EXPECTED_FILES EXPECTED_BYTES ARGS...: one untimed run of pelt (it also warms the
# page cache) whose output must be complete; a case that fails it is not timed.
check_run() {
  local case=$1 files=$2 bytes=$3
  shift 3
  rm -rf "$out"
  mkdir -p "$out"
  local status=0
  "$pelt_bin" -o "$out" "$@" >/dev/null 2>"$data/pelt.err" || status=$?
  # The whole-run model also names textures its archive lacks (missing_N.tga), as real models do;
  # pelt reports each and exits with 2. Any other report is a failure.
  if ((status == 2)) && ! grep -qv '^pelt: missing_[0-9]*\.tga: not found in ' "$data/pelt.err"; then
    status=0
  fi
  local got_files got_bytes
  got_files=$(find "$out" -type f | wc -l)
  got_bytes=$(find "$out" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
  rm -rf "$out"
  if ((status != 0 || got_files != files || got_bytes != bytes)); then
    echo "$case: pelt exited with $status, wrote $got_files files of $got_bytes bytes" \
         "(expected $files of $bytes): $(head -n 3 "$data/pelt.err" | tr '\n' ' ')"
    echo "$case: not timed"
    failed=1
    return 1
  fi
}

echo "pelt benchmark: $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores," \
     "$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)"
echo "kernel $(uname -r), $(df -PT "$data" | awk 'NR == 2 { print $2 }') at $data," \
     "$("$pelt_bin" --version), $runs timed runs per command, medians of wall and CPU time;" \
     "load $(cut -d' ' -f1-3 /proc/loadavg)"
echo

# ---- whole run --------------------------------------------------------------------------------
whole_files=$(($(cut -d' ' -f3 "$data/whole.ranges" | sort -u | wc -l) + whole_conversions))
if check_run whole "$whole_files" $((whole_convert_bytes + whole_copy_bytes)) \
     "$data/whole.mix" "$data/whole.kzm"; then
  reset tpelt tcp tcfr tnew
  cp "$data/whole.floor" /dev/null  # the floor file into the page cache, as the archive is
  for ((r = 0; r < runs; ++r)); do
    time_into tpelt "$pelt_bin" -o "$out" "$data/whole.mix" "$data/whole.kzm"
    time_into tcp cp "$data/whole.floor" "$out/floor"
    time_into tcfr "$bin/copy_floor" "$data/whole.mix" "$data/whole.ranges" "$out"
    time_into tnew "$bin/copy_floor" "$data/whole.mix" "$data/whole.files" "$out"
  done
  medians tpelt tcp tcfr tnew
  echo "whole run: $whole_entries entries, $(mib "$whole_archive_bytes"); model names" \
       "$whole_model_names; $whole_conversions conversions writing $(mib "$whole_convert_bytes")," \
       "$whole_copies TGA copies of $(mib "$whole_copy_bytes")"
  echo "  pelt                          $tpelt_text"
  echo "  cp of the converted bytes     $tcp_text"
  echo "  copy_file_range of TGA bytes  $tcfr_text"
  echo "  ratio pelt / sum of floors    $(calc "$tpelt / ($tcp + $tcfr)")   (target <= 1.5)"
  # The cp floor writes one file where pelt writes one per conversion. What creating those costs
  # depends on the filesystem more than on pelt: ext4 without a journal passes over every inode
  # deleted in the last minute or more for each file it creates, and this benchmark has just
  # deleted the previous command's files.
  echo "  creating the $whole_conversions converted files, empty: $tnew_text"
  echo "  ratio pelt / (floors + that)  $(calc "$tpelt / ($tcp + $tcfr + $tnew)")   (for reference)"
  rss=$(peak_rss_kib "$pelt_bin" -o "$out" "$data/whole.mix" "$data/whole.kzm")
  echo "  peak resident memory          $rss KiB (directory $(mib "$whole_directory_bytes")," \
       "largest entry read $(mib "$whole_largest_entry"))"
fi
echo

# ---- one 4096 x 4096 conversion of DXT5, A8R8G8B8 and L8 -------------------------------------
for case in single argb l8; do
  case $case in
    single) format=DXT5 ;;
    argb) format=A8R8G8B8 ;;
    l8) format=L8 ;;
  esac
  convert_bytes=${case}_convert_bytes compressed_bytes=${case}_compressed_bytes
  largest_entry=${case}_largest_entry
  if check_run "$case" 1 "${!convert_bytes}" "$data/$case.mix" "$data/$case.kzm"; then
    reset tpelt tcp
    cp "$data/single.floor" /dev/null
    for ((r = 0; r < runs; ++r)); do
      time_into tpelt "$pelt_bin" -o "$out" "$data/$case.mix" "$data/$case.kzm"
      time_into tcp cp "$data/single.floor" "$out/floor"
    done
    medians tpelt tcp
    echo "one 4096 x 4096 $format conversion: $(mib "${!compressed_bytes}") in," \
         "$(mib "${!convert_bytes}") out"
    echo "  pelt                          $tpelt_text"
    echo "  cp of 64 MiB + 18 bytes       $tcp_text"
    echo "  ratio pelt / cp               $(calc "$tpelt / $tcp")   (target <= 1.5, aim 1.2)"
    rss=$(peak_rss_kib "$pelt_bin" -o "$out" "$data/$case.mix" "$data/$case.kzm")
    limit=$(((${!largest_entry} >> 10) + 16384))
    echo "  peak resident memory          $rss KiB (target <= entry + 16 MiB = $limit KiB)"
  fi
  echo
done

# ---- one large TGA copy -----------------------------------------------------------------------
if check_run bigtga 1 "$bigtga_copy_bytes" "$data/bigtga.mix" "$data/bigtga.kzm"; then
  reset tpelt tcfr
  for ((r = 0; r < runs; ++r)); do
    time_into tpelt "$pelt_bin" -o "$out" "$data/bigtga.mix" "$data/bigtga.kzm"
    time_into tcfr "$bin/copy_floor" "$data/bigtga.mix" "$data/bigtga.ranges" "$out"
  done
  medians tpelt tcfr
  echo "one TGA entry of $(mib "$bigtga_copy_bytes") copied"
  echo "  pelt                          $tpelt_text"
  echo "  copy_file_range               $tcfr_text"
  echo "  ratio pelt / copy_file_range  $(calc "$tpelt / $tcfr")   (target <= 1.2)"
  rss=$(peak_rss_kib "$pelt_bin" -o "$out" "$data/bigtga.mix" "$data/bigtga.kzm")
  echo "  peak resident memory          $rss KiB"
fi
echo

# ---- matching: 100,000 entries, 10,000 names --------------------------------------------------
if check_run many "$many_copies" "$many_copy_bytes" "$data/many.mix" "$data/many.kzm"; then
  reset tpelt tlist tcfr
  for ((r = 0; r < runs; ++r)); do
    time_into tpelt "$pelt_bin" -o "$out" "$data/many.mix" "$data/many.kzm"
    time_into tlist "$pelt_bin" --list "$data/many.mix" "$data/many.kzm"
    time_into tcontents "$pelt_bin" -t "$data/many.mix"
    time_into tmatchall "$pelt_bin" --list "$data/many.mix" "*.TGA"
    time_into tpattern "$pelt_bin" "$data/names.mix" '*a*a*a*a*a*a*a*a*a*a*a*a*b'
    time_into tcfr "$bin/copy_floor" "$data/many.mix" "$data/many.ranges" "$out"
  done
  medians tpelt tlist tcontents tmatchall tpattern tcfr
  echo "matching: $many_entries entries, $many_model_names model names, $many_copies files written"
  echo "  pelt                          $tpelt_text"
  echo "  pelt --list (writes nothing)  $tlist_text"
  echo "  pelt -t (lists every entry)   $tcontents_text   (target: well under 1 s)"
  echo "  a pattern matching every entry $tmatchall_text   (each entry read as a model)"
  echo "  *a*a*a*a*a*a*a*a*a*a*a*a*b over 20,000 names of 250 characters"
  echo "                                $tpattern_text   (target: well under 1 s)"
  echo "  copy_floor of the same files  $tcfr_text"
  echo "  pelt beyond that I/O          $(calc "$tpelt - $tcfr") s   (target: well under 1 s)"
  rss=$(peak_rss_kib "$pelt_bin" -o "$out" "$data/many.mix" "$data/many.kzm")
  echo "  peak resident memory          $rss KiB (directory $(mib "$many_directory_bytes"))"
fi

echo

# ---- -x '*': every entry of the whole and many archives ---------------------------------------
for case in whole many; do
  tree=$data/extract-tree
  rm -rf "$tree"
  if ! "$pelt_bin" -q -x '*' -o "$tree" "$data/$case.mix" 2>"$data/pelt.err"; then
    echo "extract $case: pelt failed: $(head -n 3 "$data/pelt.err" | tr '\n' ' ')"
    failed=1
    continue
  fi
  files=$(find "$tree" -type f | wc -l)
  bytes=$(find "$tree" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
  reset tpelt tcp
  for ((r = 0; r < runs; ++r)); do
    time_into tpelt "$pelt_bin" -q -x '*' -o "$out" "$data/$case.mix"
    time_into tcp cp -r "$tree" "$out/tree"
  done
  medians tpelt tcp
  echo "-x '*' over the $case archive: $files files, $(mib "$bytes")"
  echo "  pelt                          $tpelt_text"
  echo "  cp -r of the same files       $tcp_text"
  echo "  ratio pelt / cp -r            $(calc "$tpelt / $tcp")   (target <= 1.1)"
  rm -rf "$tree"
done

echo

# ---- jobs: the whole run on every core ----------------------------------------------------------
cores=$(nproc)
tree=$data/jobs-tree
rm -rf "$tree" "$data"/jobs-list.*
"$pelt_bin" -q -j1 -o "$tree" "$data/whole.mix" "$data/whole.kzm" 2>/dev/null || true
# The files, largest first, dealt out to one list per core.
(cd "$tree" && find . -type f -printf '%s %P\n' | sort -rn |
   awk -v n="$cores" -v d="$data" '{ print $2 > (d "/jobs-list." (NR % n)) }')
cp_split() {  # one cp per list, all at once
  local list
  for list in "$data"/jobs-list.*; do (cd "$tree" && xargs -a "$list" cp -t "$out") & done
  wait
}
reset tpelt tcp tj1
for ((r = 0; r < runs; ++r)); do
  time_into tpelt "$pelt_bin" -q -o "$out" "$data/whole.mix" "$data/whole.kzm"
  time_into tj1 "$pelt_bin" -q -j1 -o "$out" "$data/whole.mix" "$data/whole.kzm"
  time_into tcp cp_split
done
medians tpelt tcp tj1
echo "whole run on $cores cores: $(find "$tree" -type f | wc -l) files"
echo "  pelt (-j $cores)                 $tpelt_text"
echo "  pelt -j 1                     $tj1_text"
echo "  $cores cp processes splitting them $tcp_text"
echo "  ratio pelt / cp processes     $(calc "$tpelt / $tcp")   (target <= 1.2)"
rm -rf "$tree" "$data"/jobs-list.*
reset tpng1
for ((r = 0; r < runs; ++r)); do
  time_into tpng1 "$pelt_bin" -q --png -j1 -o "$out" "$data/whole.mix" "$data/whole.kzm"
done
medians tpng1
echo "whole run with --png"
echo "  pelt -j 1                     $tpng1_text"
for ((n = 2; n <= cores; ++n)); do
  reset tpngn
  for ((r = 0; r < runs; ++r)); do
    time_into tpngn "$pelt_bin" -q --png -j"$n" -o "$out" "$data/whole.mix" "$data/whole.kzm"
  done
  medians tpngn
  echo "  pelt -j $n                     $tpngn_text   ratio to -j 1: $(calc "$tpngn / $tpng1")" \
       "(target <= 0.6 at 2 cores)"
done
reset tpelt tdd
for ((r = 0; r < runs; ++r)); do
  time_into tpelt "$pelt_bin" -q -o "$out" "$data/single.mix" "$data/single.kzm"
  time_into tdd dd if=/dev/zero of="$out/floor" bs=1M count=64 status=none
done
medians tpelt tdd
echo "one 4096 x 4096 DXT5 conversion on $cores cores"
echo "  pelt                          $tpelt_text"
echo "  dd of 64 MiB of zeros         $tdd_text"
echo "  ratio pelt / dd               $(calc "$tpelt / $tdd")   (target <= 1.1)"

rm -rf "$out" "$data/times.0" "$data/times.1" "$data/time.log" "$data/pelt.err"
exit "$failed"
