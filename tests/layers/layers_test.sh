#!/usr/bin/env bash
# layers_test.sh SOURCE_DIR COMPILE_COMMANDS: the tree keeps its layers, and the checker does
# catch each kind of breach (on a small tree made here) while letting new modules through.
set -euo pipefail
src=$1 commands=$2
check=$src/tools/check-layers.py
python3 "$check" "$src" "$commands"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
put() { mkdir -p "$work/$(dirname "$1")"; printf '%s\n' "$2" >"$work/$1"; }
# Breaches, each on its own line of the report.
put codec/mpeg4v/a.cpp '#include "engine/core/os.h"'
put engine/io/b.cpp '#include "engine/reader/reader.h"'
put engine/core/c.cpp '#include <QString>'
put engine/player/d.cpp '#include "codec/aac/sbr_decode.h"'
put app/e.cpp '#include "engine/player/player.h"'
put app/f.cpp '#include "codec/aac/aacdec.h"'
put drivedata/g.cpp '#include "tests/common/testutil.h"'
put app/map/h.cpp '#include "engine/reader/reader.h"'
put imaging/i.h '#include "app/playerdlg.h"'
# Allowed, including modules the table does not name yet.
put engine/player/ok1.cpp '#include "codec/aac/aacdec.h"
#include "engine/api/player_api.h"'
put app/ok2.cpp '#include "engine/api/player_api.h"
#include "app/userfiles/userfiles.h"
#include <QWidget>'
put app/map/ok3.cpp '#include "app/map/tiles.h"
#include "drivedata/sensordata.h"'
put engine/mp4writer/ok4.cpp '#include "engine/io/file.h"'
put report/ok5.cpp '#include "imaging/imaging.h"
#include "engine/api/player_api.h"'
put tests/any/ok6.cpp '#include "codec/aac/sbr_decode.h"'
cat >"$work/cc.json" <<JSON
[{"directory": "$work", "file": "$work/app/e.cpp", "command": "c++ -I$work -isystem /usr/include/freetype2 -c app/e.cpp"},
 {"directory": "$work", "file": "$work/app/f.cpp", "command": "c++ -I$work/b/module-include/vt_api -I$work/b/module-include/mpeg4v -c app/f.cpp"},
 {"directory": "$work", "file": "$work/engine/player/d.cpp", "command": "c++ -isystem /usr/include/freetype2 -c x"}]
JSON
set +e
python3 "$check" "$work" "$work/cc.json" >"$work/out" 2>&1
status=$?
set -e
cat "$work/out"
[ $status -eq 1 ] || { echo "FAIL: status $status"; exit 1; }
for where in codec/mpeg4v/a.cpp engine/io/b.cpp engine/core/c.cpp engine/player/d.cpp app/e.cpp:1 \
             app/f.cpp:1 drivedata/g.cpp app/map/h.cpp imaging/i.h "app/e.cpp: compiled with" \
             "app/f.cpp: compiled with .*module-include/mpeg4v"; do
  grep -q "^$where" "$work/out" || { echo "FAIL: $where not reported"; exit 1; }
done
[ "$(grep -c '^ok\|/ok[0-9]' "$work/out")" -eq 0 ] || { echo "FAIL: an allowed include was reported"; exit 1; }
[ "$(grep -c '^[a-z]' "$work/out")" -eq 11 ] || { echo "FAIL: expected 11 reports"; exit 1; }
echo "layers test passed"
