#!/usr/bin/env bash
# Shows the camera settings dialog over the main window under a virtual X server and saves a PNG
# of it:  tools/setup-screenshot.sh [OUT.png] [BUILD_DIR] [SETTINGS_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-setup.png}"
build="${2:-build/release}"
folder="${3:-}"
shot="$build/tests/app/app_setup_screenshot"
if [ ! -x "$shot" ]; then
  cmake --build "$build" --target app_setup_screenshot
fi
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-disk}" SDL_DISKAUDIOFILE="${SDL_DISKAUDIOFILE:-/dev/null}"
unset QT_QPA_PLATFORM
exec xvfb-run -a -s "-screen 0 1280x800x24" "$shot" "$out" ${folder:+"$folder"}
