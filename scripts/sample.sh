#!/usr/bin/env bash
# One command for a fresh machine: installs what is missing, builds pelt, generates the sample
# archive and model, lists what the model refers to, extracts the textures and shows the files.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset default
cmake --build --preset default

bin=build/default
sample=build/sample
out="$sample/textures"
rm -rf "$out"
"$bin/make_sample" "$sample"

echo
echo "\$ pelt --list $sample/sample.mix $sample/sample.kzm"
"$bin/pelt" --list "$sample/sample.mix" "$sample/sample.kzm"

echo
echo "\$ pelt -o $out $sample/sample.mix $sample/sample.kzm"
"$bin/pelt" -o "$out" "$sample/sample.mix" "$sample/sample.kzm"

echo
echo "files written to $out:"
ls -l "$out"
