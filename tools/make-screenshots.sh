#!/usr/bin/env bash
# Makes the README's pictures from the bundled samples: the window playing with its G graph, full
# screen zoomed in with the event marks, the Trip and map window and the first page of an incident
# report. Each PNG is reduced to a palette (pngquant) so that it stays under 200 KB.
#   tools/make-screenshots.sh [OUT_DIR] [BUILD_DIR]   (default: docs build/release; relative to the checkout)
# Exits 77 when there is no xvfb-run (the test suite counts that as skipped).
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs}"
build="${2:-build/release}"
limit=$((200 * 1024))

if ! command -v xvfb-run >/dev/null; then
  echo "make-screenshots: xvfb-run is missing; nothing made" >&2
  exit 77
fi
review="$build/tests/app/app_review_screenshot"
map="$build/tests/map/map_screenshot"
tool="$build/tools/vantrec-tool"
for exe in "$review" "$map" "$tool"; do
  if [ ! -x "$exe" ]; then
    cmake --build "$build" --target app_review_screenshot map_screenshot vantrec-tool
    break
  fi
done

mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null QT_QPA_PLATFORM=xcb
# Keep the user's own settings (a tile server, mph) out of the pictures.
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" HOME="$work/home"
unset VANTREC_TILE_URL
mkdir -p "$HOME"
screen=(-a -s "-screen 0 1280x800x24")

# One run: the second recording of the drive (it has the impact), full screen at 2x, then the
# window again with the marks on its seek bar and graph.
xvfb-run "${screen[@]}" "$review" "$PWD/samples" "$work/fullscreen.png" "$work/window.png" >"$work/review.log" 2>&1 ||
  { cat "$work/review.log" >&2; exit 1; }
xvfb-run "${screen[@]}" "$map" "$PWD/samples" "$work/map.png" >"$work/map.log" 2>&1 ||
  { cat "$work/map.log" >&2; exit 1; }

# The report at the impact, its first page at screen resolution.
QT_QPA_PLATFORM=offscreen "$tool" report samples/20261108_083015.mp4 --at 11500 -o "$work/report.pdf" 2>"$work/report.log" ||
  { cat "$work/report.log" >&2; exit 1; }
pdftoppm -png -r 70 -f 1 -l 1 -singlefile "$work/report.pdf" "$work/report"

for name in window fullscreen map report; do
  src="$work/$name.png"
  dst="$out/$name.png"
  cp "$src" "$dst"
  # Fewer colours until it fits; the picture's flat areas survive a small palette well.
  if command -v pngquant >/dev/null; then
    for colours in 256 128 96 64 48; do
      pngquant --force --speed 3 --output "$dst" "$colours" -- "$src"
      (($(stat -c %s "$dst") <= limit)) && break
    done
  fi
  size=$(stat -c %s "$dst")
  if ((size > limit)); then
    if ! command -v pngquant >/dev/null; then
      echo "make-screenshots: $dst is $size bytes; install pngquant (tools/setup.sh) to make it smaller" >&2
    else
      echo "make-screenshots: $dst is $size bytes, more than $limit" >&2
      exit 1
    fi
  fi
  echo "$dst $size"
done
