#!/usr/bin/env bash
# Builds the release packages of the commit checked out, from a clean build, into dist/:
#
#   pelt-VERSION-linux-x86_64.tar.gz   pelt-VERSION/{bin/pelt, share/man/man1/pelt.1, README.md,
#                                      LICENSE}
#   pelt_VERSION_amd64.deb             /usr/bin/pelt, its manual page, /usr/share/doc/pelt/copyright
#   pelt-VERSION-win64.zip             pelt.exe (static MinGW-w64 build), README.txt (from
#                                      doc/README-windows.txt), LICENSE.txt, with CRLF line ends
#   SHA256SUMS                         the three, in sha256sum's format
#
#   scripts/release.sh
#
# VERSION is the one of project() in CMakeLists.txt, as CMake reads it. The work tree must have no
# uncommitted changes: the packages are those of the commit. They are reproducible: the same
# commit gives the same bytes, wherever the clone lies and whenever the script runs. Every time
# stamp is the commit's time (SOURCE_DATE_EPOCH), no path of the clone enters a binary, the
# binaries are stripped, and the archives list their files in a fixed order with fixed owners and
# modes.
# pelt is built alone (release, no tests) in build/release-linux and build/release-win64; the
# packages are staged in build/release-pkg.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

die() {
  echo "release: $*" >&2
  exit 1
}

[ "$(uname -m)" = x86_64 ] || die "$(uname -m): the packages are built on x86_64 only"
git rev-parse --verify -q HEAD >/dev/null || die "$root: not a git work tree with a commit"
if [ -n "$(git status --porcelain)" ]; then
  git status --short >&2
  die "the work tree has uncommitted changes: the packages are built from a commit"
fi

scripts/setup.sh

# Every time stamp the build and the archives leave is the commit's; dates are UTC and every tool
# speaks plain ASCII, whatever this machine's settings.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
umask 022

linux=build/release-linux
win64=build/release-win64
pkg=build/release-pkg
rm -rf "$linux" "$win64" "$pkg" dist
mkdir -p "$pkg" dist

# Build paths are written as relative to the source tree (-ffile-prefix-map maps those of
# __FILE__ and of debug information), so the clone's place leaves no trace. The flags go in
# through the environment, which CMake adds to the toolchain's own (the Windows toolchain's
# -static); the user's own CXXFLAGS and LDFLAGS are left out. A PE file carries a link time stamp
# unless told not to.
configure() {  # configure BUILD_DIR LDFLAGS [CMAKE_ARGUMENTS...]
  local dir=$1 ldflags=$2
  shift 2
  CXXFLAGS="-ffile-prefix-map=$root=." LDFLAGS="$ldflags" \
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELT_BUILD_TESTS=OFF \
    -DPELT_BUILD_BENCH=OFF -DPELT_BUILD_FUZZ=OFF "$@" >/dev/null
  cmake --build "$dir" -j2
}
configure "$linux" "" -DCMAKE_CXX_COMPILER=g++ -DCMAKE_INSTALL_PREFIX=/usr
configure "$win64" "-Wl,--no-insert-timestamp" --toolchain cmake/mingw-w64.cmake

# The version as CMake read it from project().
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$linux/CMakeCache.txt")
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] ||
  die "CMakeLists.txt: no project(... VERSION x.y.z ...) (read \"$version\")"

# Owner-independent modes (rwxr-xr-x, rw-r--r--) and the commit's time on everything staged.
normalise() {
  chmod -R u=rwX,go=rX "$@"
  find "$@" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

# A text file with CRLF line ends, for Windows.
crlf() {
  sed 's/\r$//; s/$/\r/' "$1" >"$2"
}

# Linux: the tree a user unpacks anywhere, with pelt's usual install layout.
top=pelt-$version
tree=$pkg/tar/$top
cmake --install "$linux" --prefix "$root/$tree" --strip >/dev/null
cp README.md LICENSE "$tree/"
normalise "$pkg/tar"
tarball=pelt-$version-linux-x86_64.tar.gz
tar --sort=name --format=gnu --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
  -C "$pkg/tar" -cf - "$top" | gzip -9n >"dist/$tarball"

# Debian: staged as debian/pelt below a directory holding a debian/control, the layout
# dpkg-shlibdeps expects; it computes Depends from the libraries the binary links.
deb=$pkg/deb
stage=$deb/debian/pelt
DESTDIR="$root/$stage" cmake --install "$linux" --strip >/dev/null
gzip -9n "$stage/usr/share/man/man1/pelt.1"
mkdir -p "$stage/usr/share/doc/pelt"
{
  printf 'pelt %s\n\n' "$version"
  cat LICENSE
} >"$stage/usr/share/doc/pelt/copyright"
printf 'Source: pelt\n\nPackage: pelt\nArchitecture: amd64\n' >"$deb/debian/control"
mkdir -p "$stage/DEBIAN"  # marks the package's root for dpkg-shlibdeps
depends=$(cd "$deb" && dpkg-shlibdeps -O debian/pelt/usr/bin/pelt | sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || die "dpkg-shlibdeps found no libraries that pelt depends on"
cat >"$stage/DEBIAN/control" <<EOF
Package: pelt
Version: $version
Architecture: amd64
Maintainer: the pelt authors
Installed-Size: $(du -sk --apparent-size "$stage/usr" | cut -f1)
Depends: $depends
Section: utils
Priority: optional
Description: extract the textures a kzm model refers to from mix archives
 pelt collects every texture file name a kzm model refers to, finds the
 entries of mix archives that hold them and writes each one as a TGA image.
 DDS entries compressed with DXT1, DXT3 or DXT5 are decoded to 32-bit TGA
 images; TGA entries are copied byte for byte.
EOF
normalise "$stage"
debfile=pelt_${version}_amd64.deb
# dpkg-deb takes its time stamps from SOURCE_DATE_EPOCH and lists the files sorted by name; one
# compressor thread, so the compressed bytes do not depend on the number of processors.
dpkg-deb --root-owner-group --threads-max=1 -Zxz --build "$stage" "dist/$debfile" >/dev/null

# Windows: a flat zip, DOS times in UTC, no Unix owners or extra time stamps (-X), no directory
# entries (-D), the files in the order given.
win=$pkg/zip
mkdir -p "$win"
cmake --install "$win64" --prefix "$root/$win/install" --strip >/dev/null
cp "$win/install/bin/pelt.exe" "$win/"
rm -rf "$win/install"
crlf doc/README-windows.txt "$win/README.txt"
crlf LICENSE "$win/LICENSE.txt"
normalise "$win"
zipfile=pelt-$version-win64.zip
(cd "$win" && zip -q -X -D -9 "$root/dist/$zipfile" LICENSE.txt README.txt pelt.exe)

(cd dist && sha256sum "$tarball" "$debfile" "$zipfile" >SHA256SUMS)
echo "release: pelt $version, commit $(git rev-parse --short HEAD), in dist/:"
(cd dist && ls -l "$tarball" "$debfile" "$zipfile" SHA256SUMS && cat SHA256SUMS)
