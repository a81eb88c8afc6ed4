#!/usr/bin/env bash
# Installs and packages tovrel as a user meets it, from build folders that
# are already built:
#   1. cmake --install into a staging prefix; the programs' --version;
#   2. the consumer project (tests/consumer) with find_package(tovrel) from
#      the staging prefix and from the build tree, and through pkg-config: it
#      converts the bundled sample through the library, reads it back, and
#      its output matches the installed tovrel's (but for ModDate);
#   3. the .deb packages: cpack, lintian (errors fail; the overrides in
#      packaging/debian/*.lintian-overrides give their reasons), dpkg -i as
#      root (dpkg-deb -x otherwise), the installed tovrel on the sample,
#      man -l and mandoc -T lint on each page, the consumer against /usr;
#   4. the Windows .zip from the mingw-w64 build folder, and its contents.
#
#   packaging/check-packages.sh [NATIVE_BUILD [WINDOWS_BUILD]]
#
# NATIVE_BUILD defaults to build/default, WINDOWS_BUILD to build/windows (the
# .zip is skipped when that folder was not configured). Packages made are
# left in NATIVE_BUILD/packages and WINDOWS_BUILD/packages.
set -euo pipefail
cd "$(dirname "$0")/.."

native=$(realpath "${1:-build/default}")
windows=$(realpath -m "${2:-build/windows}")
sample=$PWD/samples/sample.dat
work=$(mktemp -d /tmp/tovrel-packages.XXXXXX)
installed_debs=()
cleanup() {
  if [ ${#installed_debs[@]} -gt 0 ]; then
    dpkg -r "${installed_debs[@]}" >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

step() { echo "-- $*"; }
fail() { echo "FAILED: $*" >&2; exit 1; }
# An SDF file without its ModDate line (the time of writing).
without_moddate() { grep -av '^ModDate = ' "$1"; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$native/CMakeCache.txt")
[ -n "$version" ] || fail "$native is not a configured build folder"

step "cmake --install $native into a staging prefix"
prefix=$work/prefix
cmake --install "$native" --prefix "$prefix" >/dev/null
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$native/CMakeCache.txt")
for f in bin/tovrel bin/tovrel-info bin/tovrel-gen \
         share/man/man1/tovrel.1.gz share/man/man1/tovrel-info.1.gz share/man/man1/tovrel-gen.1.gz \
         share/doc/tovrel/README.md share/doc/tovrel/LICENSE \
         include/tovrel/sdf/sdf_writer.h "$libdir/libtovrel_sdf.a" \
         "$libdir/cmake/tovrel/tovrelConfig.cmake" "$libdir/cmake/tovrel/tovrelConfigVersion.cmake" \
         "$libdir/pkgconfig/tovrel.pc"; do
  [ -e "$prefix/$f" ] || fail "cmake --install did not install $f"
done
# Internal headers stay in the source tree.
for f in platform/file_io_native.h sdf/sdf_reading.h cli/console_relay.h; do
  [ ! -e "$prefix/include/tovrel/$f" ] || fail "the internal header $f was installed"
done
[ "$("$prefix/bin/tovrel-info" --version)" = "tovrel-info $version" ] || fail "tovrel-info --version"
[ "$("$prefix/bin/tovrel-gen" --version)" = "tovrel-gen $version" ] || fail "tovrel-gen --version"
[[ "$("$prefix/bin/tovrel-gen" --help)" == "usage: tovrel-gen "* ]] || fail "tovrel-gen --help"
[[ "$("$prefix/bin/tovrel-info" --help)" == "Usage:  tovrel-info "* ]] || fail "tovrel-info --help"
"$prefix/bin/tovrel" "$sample" "$work/tovrel.sdf" 2>/dev/null
echo "installed $(find "$prefix" -type f | wc -l) files; tovrel-info --version: $version"

step "consumer project (tests/consumer) with find_package(tovrel $version)"
# Builds the consumer with the given find_package hints, converts the sample
# through the library and compares with the installed tovrel's output.
consumer() {
  local name=$1
  shift
  cmake -S tests/consumer -B "$work/$name" -DCMAKE_BUILD_TYPE=Release "$@" >"$work/$name.log" ||
    { cat "$work/$name.log"; fail "consumer ($name) did not configure"; }
  grep -h 'installed headers' "$work/$name.log" || true
  cmake --build "$work/$name" -j2 >>"$work/$name.log" 2>&1 ||
    { cat "$work/$name.log"; fail "consumer ($name) did not build"; }
  "$work/$name/convert_sample" "$sample" "$work/$name.sdf"
  cmp -s <(without_moddate "$work/$name.sdf") <(without_moddate "$work/tovrel.sdf") ||
    fail "consumer ($name): the library's SDF file differs from tovrel's"
}
consumer from-prefix -DCMAKE_PREFIX_PATH="$prefix"
consumer from-build-tree -Dtovrel_DIR="$native"
# pkg-config, the same program without CMake.
pc_flags=$(PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig pkg-config --cflags --libs tovrel)
echo "pkg-config --cflags --libs tovrel: $pc_flags"
# shellcheck disable=SC2086 # the flags are words
g++ -std=c++20 -Wall -Wextra -Werror tests/consumer/convert_sample.cpp $pc_flags \
  -o "$work/pc_convert_sample"
"$work/pc_convert_sample" "$sample" "$work/pkg-config.sdf"

step "Debian packages (cpack -G DEB) and lintian"
rm -rf "$native/packages"
(cd "$native" && cpack -G DEB -B "$native/packages" >"$work/cpack-deb.log") ||
  { cat "$work/cpack-deb.log"; fail "cpack -G DEB"; }
debs=("$native"/packages/*.deb)
for deb in "${debs[@]}"; do
  echo "$(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
done
# Errors fail; warnings are overridden with their reason in the package
# (packaging/debian/*.lintian-overrides), informational tags are printed.
lintian_status=0
lintian --fail-on error "${debs[@]}" >"$work/lintian.log" 2>&1 || lintian_status=$?
grep -v '^running with root' "$work/lintian.log" || echo "lintian: nothing to report"
[ "$lintian_status" = 0 ] || fail "lintian"

if [ "$(id -u)" = 0 ] && [ -z "${TOVREL_NO_DPKG:-}" ]; then
  step "dpkg -i"
  for package in tovrel tovrel-dev; do
    if dpkg-query -W -f '${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
      fail "$package is installed already; set TOVREL_NO_DPKG=1 to unpack the packages instead"
    fi
  done
  installed_debs=(tovrel-dev tovrel)
  dpkg -i "${debs[@]}" >/dev/null
  root=
else
  step "dpkg-deb -x (not root, or TOVREL_NO_DPKG)"
  root=$work/root
  for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$root"; done
fi
"$root/usr/bin/tovrel" "$sample" "$work/deb.sdf" 2>/dev/null
cmp -s <(without_moddate "$work/deb.sdf") <(without_moddate "$work/tovrel.sdf") ||
  fail "the packaged tovrel's output differs"
[ "$("$root/usr/bin/tovrel-gen" --version)" = "tovrel-gen $version" ] || fail "packaged tovrel-gen"
# A system may leave manual pages out of what dpkg installs
# (path-exclude in /etc/dpkg/dpkg.cfg.d/): read them from the package then.
pages=$work/pages
dpkg-deb -x "$native"/packages/tovrel_*.deb "$pages"
for page in tovrel tovrel-info tovrel-gen; do
  file=$root/usr/share/man/man1/$page.1.gz
  [ -e "$file" ] || file=$pages/usr/share/man/man1/$page.1.gz
  lines=$(MANWIDTH=80 man -l "$file" 2>"$work/man.err" | wc -l)
  if [ "$lines" -le 20 ] || [ -s "$work/man.err" ]; then
    cat "$work/man.err"
    fail "man -l $file"
  fi
  # Every message but the look-ups of the pages it refers to, which depend on
  # what this system has installed and indexed.
  lint=$(mandoc -T lint "$file" 2>&1 | grep -v -e 'referenced manual not found' -e 'mandoc.db' || true)
  [ -z "$lint" ] || { echo "$lint"; fail "mandoc -T lint $file"; }
  if groff -ww -z -mandoc <(gzip -dc "$file") 2>&1 | grep .; then fail "groff -ww $file"; fi
  echo "man -l $page.1.gz: $lines lines"
done
if [ -z "$root" ]; then
  consumer from-deb
fi

if [ -f "$windows/CMakeCache.txt" ]; then
  step "Windows .zip (cpack -G ZIP in $windows)"
  # The manual pages' HTML is part of the build; make sure it is there.
  cmake --build "$windows" --target man-pages >/dev/null
  rm -rf "$windows/packages"
  (cd "$windows" && cpack -G ZIP -B "$windows/packages" >"$work/cpack-zip.log") ||
    { cat "$work/cpack-zip.log"; fail "cpack -G ZIP"; }
  zip=$(echo "$windows"/packages/tovrel-*-win64.zip)
  listing=$(cmake -E tar tf "$zip")
  echo "$(basename "$zip"):"
  sed 's/^/  /' <<<"$listing"
  top=$(basename "$zip" .zip)
  for f in tovrel.exe tovrel-info.exe tovrel-gen.exe README.md LICENSE.txt \
           doc/tovrel.html doc/tovrel-info.html doc/tovrel-gen.html; do
    grep -qx "$top/$f" <<<"$listing" || fail "$f is missing from the .zip"
  done
else
  echo "-- no configured $windows: the Windows .zip is skipped"
fi
