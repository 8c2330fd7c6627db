#!/usr/bin/env bash
# install_test.sh BUILD_DIR SOURCE_DIR: installs into a temporary DESTDIR and checks what a user
# gets: the file list, the validators' verdicts, the manual pages against the commands, the
# command lines of both programs, and where the installed and the portable player keep their files.
set -euo pipefail
build=$1 src=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null
dest=$work/dest
DESTDIR=$dest cmake --install "$build" --prefix /usr >/dev/null
(cd "$dest" && find . -type f -o -type l | sed 's|^\./||' | sort) >"$work/files"
diff -u "$here/expected_files.txt" "$work/files" || fail "installed file list differs"

# The desktop entry, the metainfo and the manual pages as the validators see them.
desktop-file-validate "$dest/usr/share/applications/vantrec-player.desktop" || fail "desktop entry"
grep -qx 'MimeType=video/mp4;inode/directory;' "$dest/usr/share/applications/vantrec-player.desktop" \
  || fail "MimeType"
grep -q '^Exec=vantrec-player %[fFuU]$' "$dest/usr/share/applications/vantrec-player.desktop" || fail "Exec"
appstreamcli validate --no-net "$dest/usr/share/metainfo/vantrec-player.metainfo.xml" >"$work/as" 2>&1 \
  || { cat "$work/as"; fail "metainfo"; }
version=$("$dest/usr/bin/vantrec-tool" --version | awk '{print $2}')
grep -q "<release version=\"$version\"" "$dest/usr/share/metainfo/vantrec-player.metainfo.xml" \
  || fail "metainfo release is not $version"
for size in 48 128 256; do
  file "$dest/usr/share/icons/hicolor/${size}x${size}/apps/vantrec-player.png" \
    | grep -q "PNG image data, $size x $size" || fail "icon $size"
done
for page in vantrec-player vantrec-tool; do
  zcat "$dest/usr/share/man/man1/$page.1.gz" >"$work/$page.1"
  warnings=$(groff -man -ww -z "$work/$page.1" 2>&1) || true
  [ -z "$warnings" ] || fail "$page.1: $warnings"
  grep -q "$version" "$work/$page.1" || fail "$page.1 does not name version $version"
done
# Every command the tool knows, and every option its usage names, is in its manual page; so are
# the commands that are on their way.
tool_man=$work/vantrec-tool.1
"$dest/usr/bin/vantrec-tool" --help | sed -n 's/^  \([a-z][a-z-]*\).*/\1/p' >"$work/commands"
[ -s "$work/commands" ] || fail "no commands listed"
for cmd in $(cat "$work/commands") info samples decode-video decode-audio sensors play events trips \
           export report repair; do
  grep -Eq "^\.BI? $(sed 's/-/\\\\-/g' <<<"$cmd")( |$)" "$tool_man" || fail "vantrec-tool.1 lacks $cmd"
done
for opt in $("$dest/usr/bin/vantrec-tool" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  grep -q -- "$(sed 's/-/\\\\-/g' <<<"$opt")" "$tool_man" || fail "vantrec-tool.1 lacks $opt"
done

# Command lines: --help and --version say so and end with 0; an unknown option gives the usage
# and 2. None of this needs a display.
for prog in vantrec-player vantrec-tool; do
  exe=$dest/usr/bin/$prog
  env -u QT_QPA_PLATFORM DISPLAY= "$exe" --version | grep -qx "$prog $version" || fail "$prog --version"
  env -u QT_QPA_PLATFORM DISPLAY= "$exe" --help | grep -q "usage: $prog" || fail "$prog --help"
  set +e
  env -u QT_QPA_PLATFORM DISPLAY= "$exe" --no-such-option >/dev/null 2>"$work/err"
  status=$?
  set -e
  [ $status -eq 2 ] || fail "$prog --no-such-option exited $status"
  grep -q "usage: $prog" "$work/err" || fail "$prog prints no usage for an unknown option"
done

# Starts the player on $2 with HOME=$1, sends signal $3 once it is up, and checks it closes with
# status 0 within $4 ms (the aim is one second; the margin is for a loaded machine, the time taken
# is printed).
run_player() {
  local home=$1 target=$2 sig=$3 limit=$4 exe=$5 ready=${6:-}
  mkdir -p "$home"
  env -u XDG_CONFIG_HOME -u XDG_CACHE_HOME HOME="$home" "$exe" "$target" >"$work/player.log" 2>&1 &
  local pid=$!
  # Up means its window exists; the installed copy has made its cache folder ($6) by then.
  for _ in $(seq 100); do
    [ -z "$ready" ] || [ -d "$ready" ] && break
    sleep 0.1
  done
  sleep 1.5
  kill -0 "$pid" 2>/dev/null || { cat "$work/player.log"; fail "the player did not stay up"; }
  local t0=$(date +%s%N)
  kill "-$sig" "$pid"
  local waited=0
  while kill -0 "$pid" 2>/dev/null; do
    sleep 0.05
    waited=$((waited + 50))
    if [ $waited -gt 10000 ]; then kill -KILL "$pid"; fail "SIG$sig left the player running"; fi
  done
  set +e
  wait "$pid"
  local status=$?
  set -e
  local ms=$((($(date +%s%N) - t0) / 1000000))
  echo "SIG$sig: the player closed in $ms ms"
  [ $status -eq 0 ] || { cat "$work/player.log"; fail "status $status after SIG$sig"; }
  [ $ms -le "$limit" ] || fail "SIG$sig took $ms ms"
}

samples=$src/samples
# Installed under a prefix nobody may write: the remembered folder goes to the config folder, and
# nothing lands beside the program.
chmod -R a-w "$dest"
run_player "$work/home" "$samples/20261108_083015.mp4" TERM 3000 "$dest/usr/bin/vantrec-player" \
  "$work/home/.cache/vantrec-player"
dat=$work/home/.config/vantrec-player/openpath.dat
[ -f "$dat" ] || fail "no $dat"
[ "$(tr -d '\0' <"$dat")" = "$samples" ] || fail "openpath.dat holds '$(tr -d '\0' <"$dat")'"
(cd "$dest" && find . -type f | sed 's|^\./||' | sort) | diff -q - "$here/expected_files.txt" >/dev/null \
  || fail "the installed player wrote into its prefix"
[ -d "$work/home/.cache/vantrec-player" ] || fail "no cache folder"

# Portable: a copy alone in a writable folder keeps its files beside it, not in HOME.
mkdir -p "$work/stick"
cp "$dest/usr/bin/vantrec-player" "$work/stick/"
chmod u+w "$work/stick/vantrec-player"
run_player "$work/home2" "$samples" INT 3000 "$work/stick/vantrec-player"
[ "$(tr -d '\0' <"$work/stick/openpath.dat")" = "$samples" ] || fail "portable openpath.dat"
[ ! -e "$work/home2/.config/vantrec-player/openpath.dat" ] || fail "portable copy wrote to HOME"

# The tool's play stops on Ctrl+C and still prints its summary.
"$dest/usr/bin/vantrec-tool" play "$samples/20261108_083000.mp4" --no-audio >"$work/play.json" 2>/dev/null &
pid=$!
sleep 1
kill -INT $pid
set +e
wait $pid
status=$?
set -e
[ $status -eq 0 ] || fail "play exited $status after SIGINT"
grep -q '"frames_presented": [1-9]' "$work/play.json" || fail "no summary after SIGINT: $(cat "$work/play.json")"
position=$(sed -n 's/.*"position_ms": \([0-9]*\).*/\1/p' "$work/play.json")
[ "$position" -lt 14000 ] || fail "play ran to the end ($position ms) instead of stopping"
echo "install test passed"
