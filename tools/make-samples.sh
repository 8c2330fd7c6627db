#!/usr/bin/env bash
# Rebuilds the bundled sample recordings in samples/: renders a road scene (vantrec-scene) and a
# cabin sound (ffmpeg's expression source), encodes them with Debian's ffmpeg as a dash cam does (MPEG-4 Part 2 or H.263 video with I and P
# pictures only, AAC-LC mono), and writes each recording with vantrec-mkrec.
#
# usage: tools/make-samples.sh [BUILD_DIR] [OUT_DIR]
#   BUILD_DIR  where vantrec-mkrec was built (default build/release)
#   OUT_DIR    where the recordings go (default samples/)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build/release}
out=${2:-$src/samples}
mkrec=$build/tools/mkrec/vantrec-mkrec
scene=$build/tools/mkrec/vantrec-scene
for b in "$mkrec" "$scene"; do
  [ -x "$b" ] || { echo "make-samples: $b not built" >&2; exit 2; }
done
command -v ffmpeg >/dev/null || { echo "make-samples: ffmpeg not found" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One encoder thread: slice threading would make the bytes depend on the machine.
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# Cabin sound: engine hum following the drive, tyre noise, a thump at each pothole and impact.
cabin() {  # cabin OFFSET_S SECONDS RATE "THUMP_TIMES"
  local o=$1 d=$2 rate=$3 e="0"
  for t in $4; do e+="+if(gte(t+$o,$t),0.7*exp(-9*(t+$o-$t))*sin(2*PI*55*(t+$o-$t)),0)"; done
  echo "aevalsrc=exprs='0.16*sin(2*PI*(85+12*sin((t+$o)*0.4))*(t+$o))+0.06*sin(2*PI*171*(t+$o))+0.04*(random(0)*2-1)+$e':s=$rate:d=$d"
}

# The scene's OFFSET continues the picture of an earlier clip, so consecutive recordings join up.
mpeg4() {  # mpeg4 OUT OFFSET SECONDS PACE RATE-CONTROL...
  local out=$1 off=$2 secs=$3 pace=$4
  shift 4
  "$scene" 640 480 30 1 "$secs" "$off" "$pace" |
  ff -f rawvideo -pix_fmt yuv420p -s 640x480 -r 30 -i - -c:v mpeg4 -threads 1 -bf 0 -g 15 "$@" -f m4v "$out"
}
# THUMPS are times on the sound's own clock, which starts at OFFSET.
aac() {  # aac OUT OFFSET SECONDS RATE BITRATE "THUMPS"
  ff -f lavfi -i "$(cabin "$2" "$3" "$4" "$6")" -ac 1 -c:a aac -b:a "$5" -f adts "$1"
}

# Everything is written under $work first and renamed into place at the end, so tests that read
# samples/ meanwhile never see a half-written recording.
final=$out
out=$work/out
mkdir -p "$out/other-model" "$out/h263" "$out/long"

# Three consecutive 15 s recordings of one drive: the drive's events in drive time.
drive_events="brake@4,pothole@7.5,brake@19.5,pothole@24,impact@26.5,brake@34,pothole@41"
for i in 0 1 2; do
  off=$((i * 15))
  name=$(printf '20261108_0830%02d' "$off")
  mpeg4 "$work/v$i.m4v" "$off" 15 1 -b:v 1000k
  aac "$work/a$i.aac" "$off" 15 22050 48k "7.5 24 26.5 41"
  "$mkrec" -o "$out/$name.mp4" --video "$work/v$i.m4v" --audio "$work/a$i.aac" \
    --start "2026-11-08 08:30:$(printf '%02d' "$off")" --drive-offset "$off" --events "$drive_events"
done

# Another camera model, driving in the southern and western hemispheres.
mpeg4 "$work/vo.m4v" 100 10 1 -b:v 600k
aac "$work/ao.aac" 100 10 22050 32k "103 108.2"
"$mkrec" -o "$out/other-model/20261109_071500.mp4" --video "$work/vo.m4v" --audio "$work/ao.aac" \
  --model ZRDMODEL19 --start "2026-11-09 07:15:00" --origin -34.6037,-58.3816 \
  --events "pothole@3,brake@5.5,impact@8.2"

# H.263 baseline (short header) video at CIF, 32 kHz sound.
"$scene" 352 288 30000 1001 10 200 |
  ff -f rawvideo -pix_fmt yuv420p -s 352x288 -r 30000/1001 -i - -c:v h263 -threads 1 -g 15 -b:v 400k \
     -f h263 "$work/vh.h263"
aac "$work/ah.aac" 200 10 32000 48k "208"
"$mkrec" -o "$out/h263/20261109_120000.mp4" --video "$work/vh.h263" --audio "$work/ah.aac" \
  --start "2026-11-09 12:00:00" --events "brake@3,pothole@6,impact@8"

# 110 s at a low bit rate (more than 1024 records): a 22 s clip of slow traffic, coarsely
# quantised with one I-VOP a second, played five times over.
mpeg4 "$work/vl.m4v" 300 22 0.3 -q:v 31 -g 30
aac "$work/al.aac" 300 22 22050 32k ""
"$mkrec" -o "$out/long/20261110_180000.mp4" --video "$work/vl.m4v" --audio "$work/al.aac" --loop 5 \
  --start "2026-11-10 18:00:00" --events "brake@12,pothole@30,impact@61.2,brake@85"

(cd "$out" && find . -name '*.mp4' | sort) | while read -r f; do
  mkdir -p "$(dirname "$final/$f")"
  cp "$out/$f" "$final/$f.part"
  mv -f "$final/$f.part" "$final/$f"
  echo "${f#./}: $(stat -c %s "$final/$f") bytes"
done
du -sh "$final"
