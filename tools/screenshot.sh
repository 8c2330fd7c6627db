#!/usr/bin/env bash
# Starts the window on samples/ under a virtual X server, lets the first recording play and saves
# a PNG of the window:  tools/screenshot.sh [OUT.png] [BUILD_DIR] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-screenshot.png}"
build="${2:-build/release}"
seconds="${3:-4}"
shot="$build/tests/app/app_screenshot"
if [ ! -x "$shot" ]; then
  cmake --build "$build" --target app_screenshot
fi
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-disk}" SDL_DISKAUDIOFILE="${SDL_DISKAUDIOFILE:-/dev/null}"
unset QT_QPA_PLATFORM
exec xvfb-run -a -s "-screen 0 1280x800x24" "$shot" "$PWD/samples" "$out" "$seconds"
