#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a few seconds, starting from its seed corpus
# (new inputs go to a scratch folder, the committed corpus is left as it is).
set -euo pipefail
build=${1:-build/fuzz}
seconds=${2:-20}
src=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for bin in "$build"/fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  mkdir -p "$scratch/$name"
  seeds="$src/fuzz/corpus/$name"
  [ -d "$seeds" ] || seeds=""
  if "$bin" -max_total_time="$seconds" -max_len=262144 -rss_limit_mb=2048 -timeout=10 \
      -artifact_prefix="$scratch/" "$scratch/$name" $seeds >"$scratch/$name.log" 2>&1; then
    echo "fuzz $name: ok ($(grep -o 'Done [0-9]* runs' "$scratch/$name.log" | tail -1))"
  else
    echo "fuzz $name: FAILED"; tail -40 "$scratch/$name.log"; status=1
  fi
done
exit $status
