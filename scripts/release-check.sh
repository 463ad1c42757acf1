#!/usr/bin/env bash
# Checks the packages scripts/release.sh left in dist/: the checksums, that each package holds
# exactly the files it should, the .deb's fields (Depends computed and present), the zip's text
# files with CRLF line ends, and that the pelt of each package runs and prints the version of
# CMakeLists.txt (pelt.exe under Wine). Reports every failed check, then exits 1 if there was any.
#
#   scripts/release.sh && scripts/release-check.sh
#
# The programs are unpacked and run in build/release-check, with a Wine prefix of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
export LC_ALL=C

die() {
  echo "release-check: $*" >&2
  exit 1
}

cache=build/release-linux/CMakeCache.txt
[ -f "$cache" ] || die "$cache: missing (run scripts/release.sh first)"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$cache")
[ -n "$version" ] || die "$cache: no CMAKE_PROJECT_VERSION"

tarball=pelt-$version-linux-x86_64.tar.gz
debfile=pelt_${version}_amd64.deb
zipfile=pelt-$version-win64.zip

failures=0
passed=0
# check WHAT ACTUAL EXPECTED: one check, passed when the two texts are equal.
check() {
  if [ "$2" = "$3" ]; then
    passed=$((passed + 1))
    echo "release-check: ok: $1"
  else
    failures=$((failures + 1))
    echo "release-check: $1: expected" >&2
    printf '%s\n' "$3" | sed 's/^/    /' >&2
    echo "  but got" >&2
    printf '%s\n' "$2" | sed 's/^/    /' >&2
  fi
}
lines() { printf '%s\n' "$@"; }

check "dist/ holds the three packages and SHA256SUMS" "$(ls dist)" \
  "$(lines SHA256SUMS "$debfile" "$tarball" "$zipfile" | sort)"
[ "$failures" -eq 0 ] || die "dist/: not the files of pelt $version (run scripts/release.sh)"
check "SHA256SUMS lists the three and matches them" \
  "$(cd dist && sha256sum --check --strict SHA256SUMS 2>&1)" \
  "$(lines "$tarball: OK" "$debfile: OK" "$zipfile: OK")"

work=build/release-check
rm -rf "$work/linux" "$work/deb" "$work/win64"
mkdir -p "$work/linux" "$work/deb" "$work/win64"

# The tarball: one top folder, owned by root, with the program, its manual page and the texts.
tar -tvzf "dist/$tarball" --numeric-owner
top=pelt-$version
check "$tarball: its files" "$(tar -tzf "dist/$tarball")" \
  "$(lines "$top/" "$top/LICENSE" "$top/README.md" "$top/bin/" "$top/bin/pelt" "$top/share/" \
    "$top/share/man/" "$top/share/man/man1/" "$top/share/man/man1/pelt.1")"
check "$tarball: owned by 0/0" \
  "$(tar -tvzf "dist/$tarball" --numeric-owner | awk '$2 != "0/0"')" ""
tar -xzf "dist/$tarball" -C "$work/linux"
check "$tarball: bin/pelt --version" "$("$work/linux/$top/bin/pelt" --version)" "pelt $version"

# The Debian package: its files, its fields, and its program.
dpkg-deb --info "dist/$debfile"
dpkg-deb --contents "dist/$debfile"
check "$debfile: its files" "$(dpkg-deb --contents "dist/$debfile" | awk '{ print $6 }')" \
  "$(lines ./ ./usr/ ./usr/bin/ ./usr/bin/pelt ./usr/share/ ./usr/share/doc/ \
    ./usr/share/doc/pelt/ ./usr/share/doc/pelt/copyright ./usr/share/man/ \
    ./usr/share/man/man1/ ./usr/share/man/man1/pelt.1.gz)"
check "$debfile: owned by root" \
  "$(dpkg-deb --contents "dist/$debfile" | awk '$2 != "root/root"')" ""
check "$debfile: Package, Version, Architecture" \
  "$(dpkg-deb --field "dist/$debfile" Package Version Architecture)" \
  "$(lines "Package: pelt" "Version: $version" "Architecture: amd64")"
depends=$(dpkg-deb --field "dist/$debfile" Depends)
check "$debfile: Depends names the C and C++ runtime libraries" \
  "$(printf '%s\n' "$depends" | grep -o -w -e libc6 -e 'libstdc++6' | sort -u)" \
  "$(lines libc6 'libstdc++6')"
# Every package Depends names is one this machine has: names dpkg-shlibdeps found, not made up.
for p in $(printf '%s\n' "$depends" | tr ',|' '\n\n' | awk '{ print $1 }' | sort -u); do
  check "$debfile: Depends: $p is a Debian package" \
    "$(dpkg-query -W -f='${Status}' "$p" 2>&1)" "install ok installed"
done
dpkg-deb --extract "dist/$debfile" "$work/deb"
check "$debfile: the manual page is gzipped" \
  "$(gzip -dc "$work/deb/usr/share/man/man1/pelt.1.gz" | head -1 | cut -d' ' -f1)" ".TH"
check "$debfile: /usr/bin/pelt --version" "$("$work/deb/usr/bin/pelt" --version)" "pelt $version"

# The Windows zip: flat, text files with CRLF line ends, pelt.exe that runs under Wine.
unzip -l "dist/$zipfile"
check "$zipfile: its files" "$(unzip -Z1 "dist/$zipfile")" \
  "$(lines LICENSE.txt README.txt pelt.exe)"
unzip -q "dist/$zipfile" -d "$work/win64"
for f in README.txt LICENSE.txt; do
  check "$zipfile: $f has CRLF line ends only" \
    "$(grep -c -v $'\r$' "$work/win64/$f" || true)" 0
done
check "$zipfile: pelt.exe --version (Wine)" \
  "$(cmake/wine-run.sh "$root/$work/wine" "$root/$work/win64/pelt.exe" --version | tr -d '\r')" \
  "pelt $version"

if [ "$failures" -ne 0 ]; then
  die "$failures of $((passed + failures)) checks failed"
fi
echo "release-check: all $passed checks passed"
