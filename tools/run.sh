#!/usr/bin/env bash
# Set up, build, and run the program on the bundled sample recordings.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release
if [ -x build/release/app/vantrec-player ]; then
  exec build/release/app/vantrec-player "$PWD/samples"
fi
for f in samples/*.mp4; do
  echo "== $f"
  build/release/tools/vantrec-tool info "$f"
done
