#!/usr/bin/env bash
# Checks that our C and C++ sources are formatted as .clang-format says, with the one clang-format
# version tools/setup.sh installs. Prints each file that would change and exits 1; exits 0 when
# none would. With --fix it formats them in place instead.
#   tools/format-check.sh [--fix] [FILE...]     (default: every tracked source file)
set -euo pipefail
cd "$(dirname "$0")/.."
clang_format=${CLANG_FORMAT:-clang-format-14}
command -v "$clang_format" >/dev/null || { echo "format-check: $clang_format not found (tools/setup.sh installs it)" >&2; exit 2; }
fix=0
if [ "${1:-}" = "--fix" ]; then
  fix=1
  shift
fi
if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' ':!:fuzz/corpus/**')
fi
((${#files[@]})) || exit 0
if ((fix)); then
  exec "$clang_format" --style=file -i "${files[@]}"
fi
bad=0
for f in "${files[@]}"; do
  if ! "$clang_format" --style=file --dry-run --Werror "$f" >/dev/null 2>&1; then
    echo "needs formatting: $f"
    bad=1
  fi
done
if ((bad)); then
  echo "format-check: run tools/format-check.sh --fix" >&2
  exit 1
fi
echo "format-check: ${#files[@]} files ok"
