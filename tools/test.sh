#!/usr/bin/env bash
# Set up, build, and run every test: the release build, the ASan+UBSan build, the player under
# ThreadSanitizer, and a short libFuzzer run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
export SDL_AUDIODRIVER=disk QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

# Sources as .clang-format says, with the pinned clang-format.
tools/format-check.sh

cmake --preset release >/dev/null
cmake --build --preset release
ctest --preset release -j "$jobs"

cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize -j "$jobs"

# The player's threads under ThreadSanitizer.
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target player_tests audio_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build/tsan/tests/audio/audio_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build/tsan/tests/player/player_tests

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
tools/fuzz-short.sh build/fuzz "${FUZZ_SECONDS:-20}"
