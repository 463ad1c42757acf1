#!/usr/bin/env bash
# DDS to PNG, pelt against ImageMagick: converts 4096 x 4096 DXT1 and DXT5 images with
# pelt --png (each the one entry of an archive) and with ImageMagick (convert x.dds x.png),
# side by side, and prints each one's wall and CPU time, peak resident memory and file size, and
# pelt's ratios. The inputs (png_bench make): random blocks, and a texture of gradients and noise
# at several scales put through a simple block encoder. ImageMagick reads every file pelt writes
# back whole (untimed). The two decode DXT blocks with different rounding, so their pixels differ.
#
#   bench/png_vs_magick.sh [--quick] [--runs N]
#
# Targets at 4096 x 4096: pelt's wall time at most a tenth of ImageMagick's, its files at most
# 10 % larger. --quick converts 512 x 512 images once: a check that it all works, in seconds.
# PELT_BUILD_DIR is where pelt and png_bench were built (build/release).
set -euo pipefail
export LC_ALL=C

repo=$(cd "$(dirname "$0")/.." && pwd)
bin=${PELT_BUILD_DIR:-$repo/build/release}
side=4096
runs=3
while (($# > 0)); do
  case $1 in
    --quick) side=512 runs=1 ;;
    --runs) runs=$2; shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "png_vs_magick: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done
png_bench=$bin/bench/png_bench
pelt=$bin/pelt
for built in "$png_bench" "$pelt"; do
  [ -x "$built" ] || { echo "png_vs_magick: $built is not built" >&2; exit 2; }
done
for tool in convert /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "png_vs_magick: $tool is missing (scripts/setup.sh)" >&2; exit 2; }
done

data=$(mktemp -d /tmp/pelt-png-bench-XXXXXX)
trap 'rm -rf "$data"' EXIT
"$png_bench" make "$data" "$side"

# measure CMD...: runs CMD under /usr/bin/time and prints "WALL CPU PEAK_KIB".
measure() {
  /usr/bin/time -f '%e %U %S %M' -o "$data/time" "$@" >/dev/null 2>"$data/err" ||
    { echo "png_vs_magick: failed: $* ($(head -c 300 "$data/err"))" >&2; exit 1; }
  awk '{ printf "%.2f %.2f %d\n", $1, $2 + $3, $4 }' "$data/time"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "DDS to PNG, ${side} x ${side}: pelt --png against ImageMagick" \
     "$(convert -version | sed -n 's/^Version: ImageMagick \([^ ]*\).*/\1/p'); $runs runs each," \
     "medians; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-13s %-7s %8s %8s %10s %10s\n' image tool "wall s" "CPU s" "peak MiB" "file MiB"
for image in random_dxt1 random_dxt5 texture_dxt1 texture_dxt5; do
  in=$data/$image.dds
  : >"$data/pelt.runs"
  : >"$data/magick.runs"
  for ((r = 0; r < runs; ++r)); do  # alternating, so that both see the same load
    rm -rf "$data/out"
    measure "$pelt" --png -q -o "$data/out" "$data/$image.mix" "$data/$image.kzm" >>"$data/pelt.runs"
    mv "$data/out/$image.png" "$data/pelt.png"
    measure convert "$in" "$data/magick.png" >>"$data/magick.runs"
  done
  convert "$data/pelt.png" null: || { echo "png_vs_magick: ImageMagick cannot read pelt's $image.png" >&2; exit 1; }
  for tool in pelt magick; do
    read -r wall cpu peak < <(paste <(cut -d' ' -f1 "$data/$tool.runs" | median) \
      <(cut -d' ' -f2 "$data/$tool.runs" | median) <(cut -d' ' -f3 "$data/$tool.runs" | median))
    size=$(stat -c %s "$data/$tool.png")
    printf -v "${tool}_wall" '%s' "$wall"
    printf -v "${tool}_size" '%s' "$size"
    printf '%-13s %-7s %8s %8s %10.1f %10.2f\n' "$([ $tool = pelt ] && echo "$image")" "$tool" \
      "$wall" "$cpu" "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')" \
      "$(awk -v b="$size" 'BEGIN { print b / 1048576 }')"
  done
  awk -v pw="$pelt_wall" -v mw="$magick_wall" -v ps="$pelt_size" -v ms="$magick_size" 'BEGIN {
    printf "%-13s %-7s %8.3f %8s %10s %10.3f   (targets: time <= 0.1, size <= 1.1)\n",
           "", "ratio", (mw > 0 ? pw / mw : 0), "", "", ps / ms }'
done
