#!/usr/bin/env bash
# deb_test.sh BUILD_DIR: builds the Debian package from the build, installs it into a scratch root
# with dpkg (the machine's own system is not touched), runs the installed program from it, removes
# the package and checks nothing of it is left. Needs root for dpkg; skips (77) without it.
set -euo pipefail
build=$1
if [ "$(id -u)" -ne 0 ] || ! command -v dpkg >/dev/null || ! command -v dpkg-shlibdeps >/dev/null; then
  echo "SKIP: needs root, dpkg and dpkg-shlibdeps"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log"; fail "cpack"; }
version=$("$build/tools/vantrec-tool" --version | awk '{print $2}')
deb=$work/out/vantrec-player_${version}_amd64.deb
[ -f "$deb" ] || fail "no $(basename "$deb") in: $(ls "$work/out")"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
echo "size: $(stat -c %s "$deb") bytes"
for lib in libqt6widgets6 libsdl2-2.0-0 libjpeg62-turbo libfreetype6 libc6; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib"
done

root=$work/root
mkdir -p "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info"
touch "$root/var/lib/dpkg/status"
# The libraries live in the machine's own system, not in the scratch root's package database.
dpkg --root="$root" --force-depends --force-not-root -i "$deb" >"$work/dpkg.log" 2>&1 \
  || { cat "$work/dpkg.log"; fail "dpkg -i"; }
"$root/usr/bin/vantrec-player" --version | grep -qx "vantrec-player $version" || fail "installed --version"
"$root/usr/bin/vantrec-tool" --version | grep -qx "vantrec-tool $version" || fail "installed tool --version"
dpkg --root="$root" --force-depends --purge vantrec-player >>"$work/dpkg.log" 2>&1 \
  || { cat "$work/dpkg.log"; fail "dpkg --purge"; }
left=$(cd "$root" && find . -path ./var -prune -o \( -type f -o -type l \) -print)
[ -z "$left" ] || fail "left after removal: $left"
echo "deb test passed"
