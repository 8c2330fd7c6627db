#!/usr/bin/env bash
# Set up, build, and run every test: the release build, the ASan+UBSan build, and a short libFuzzer
# run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
export SDL_AUDIODRIVER=disk QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

cmake --preset release >/dev/null
cmake --build --preset release
ctest --preset release -j "$jobs"

cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize -j "$jobs"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
tools/fuzz-short.sh build/fuzz "${FUZZ_SECONDS:-20}"
