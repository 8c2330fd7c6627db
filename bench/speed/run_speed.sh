#!/bin/bash
# Whole-process decode time against Debian's ffmpeg (-threads 1) on the same input, in the same run.
#
#   bench/speed/run_speed.sh TOOL [BASE_TOOL] [WORK_DIR]
#
# TOOL is the vantrec-tool to measure; BASE_TOOL (optional) an older build measured alongside it,
# which gives before/after figures from one run. Inputs are made once in WORK_DIR (default
# /tmp/vt-speed-bench) from the bundled recording and a public HE-AAC v2 vector, then looped by
# stream copy so that ffmpeg's start-up (about 0.16 s) is a few per cent of each run:
#
#   sp640    640x480 simple profile, 30 fps, 3 Mbit/s, 60 s
#   qpel640  640x480 quarter-sample, 2 B-frames, 3 Mbit/s, 60 s
#   b720     720x576 4 Mbit/s with 2 B-frames, 60 s
#   lc       AAC-LC 44.1 kHz stereo 128 kbit/s, 10 min
#   hev2     HE-AAC v2 44.1 kHz, 10 min
#
# ONLY=video skips the audio inputs, ONLY=audio the video ones. Every measurement alternates the programs (ours, [base,] ffmpeg) five times and takes the medians;
# the machine's load average is printed with the figures, since other work skews them.
#
# Commands timed (IN the input):
#   vantrec-tool decode-video IN /dev/null
#   ffmpeg -threads 1 -i IN -f rawvideo -pix_fmt yuv420p -y /dev/null
#   vantrec-tool decode-audio IN /dev/null
#   ffmpeg -threads 1 -c:a aac_fixed -i IN -f s16le -y /dev/null      (and -c:a aac for HE-AAC v2)
set -euo pipefail
TOOL=$(readlink -f "$1")
BASE=${2:+$(readlink -f "$2")}
WORK=${3:-/tmp/vt-speed-bench}
HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(cd "$HERE/../.." && pwd)
SAMPLE=$REPO/samples/20261108_083000.mp4
VECTORS=${VT_TESTVECTORS:-$REPO/../shared/testvectors}
HEV2=$VECTORS/aac/fate_tones_afconvert_44100_stereo_aac_he2.m4a
RUNS=5
mkdir -p "$WORK"
cd "$WORK"

ff() { ffmpeg -v error -nostdin -y "$@"; }
loop_to() {  # loop_to IN OUT SECONDS: stream copy of IN repeated to at least SECONDS
    local d n
    d=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$1")
    n=$(python3 -c "import math; print(max(0, math.ceil($3 / $d) - 1))")
    ff -stream_loop "$n" -i "$1" -c copy -t "$3" "$2"
}

if [ ! -f sp640.mp4 ]; then
    # Source pictures: the bundled recording, decoded once.
    ff -i "$SAMPLE" -an -t 15 -pix_fmt yuv420p src640.y4m
    ff -i src640.y4m -vf scale=720:576 src720.y4m
    ff -i src640.y4m -c:v mpeg4 -b:v 3M -maxrate 3M -bufsize 1M -bf 0 -g 30 seg_sp640.mp4
    ff -i src640.y4m -c:v mpeg4 -b:v 3M -flags +qpel -bf 2 -g 30 seg_qpel640.mp4
    ff -i src720.y4m -c:v mpeg4 -b:v 4M -bf 2 -g 25 -r 25 seg_b720.mp4
    loop_to seg_sp640.mp4 sp640.mp4 60
    loop_to seg_qpel640.mp4 qpel640.mp4 60
    loop_to seg_b720.mp4 b720.mp4 60
    ff -f lavfi -i "aevalsrc='0.3*sin(2*PI*440*t)+0.2*sin(2*PI*(300+2000*mod(t,3))*t)|0.25*sin(2*PI*660*t)+0.1*sin(2*PI*5000*t)':s=44100:d=60" \
        -c:a aac -b:a 128k seg_lc.m4a
    loop_to seg_lc.m4a lc.m4a 600
    loop_to "$HEV2" hev2.m4a 600
    rm -f src640.y4m src720.y4m
fi

secs() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; t1=$(date +%s.%N); echo "$t1 - $t0" | bc; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

measure() {  # measure NAME KIND FFMPEG_ARGS...
    local name=$1 kind=$2; shift 2
    local ours=() base=() ref=()
    for _ in $(seq $RUNS); do
        ours+=("$(secs "$TOOL" "decode-$kind" "$name" /dev/null)")
        [ -n "$BASE" ] && base+=("$(secs "$BASE" "decode-$kind" "$name" /dev/null)")
        ref+=("$(secs ffmpeg -v error -nostdin -threads 1 "$@")")
    done
    local mo mr mb=""
    mo=$(median "${ours[@]}"); mr=$(median "${ref[@]}")
    [ -n "$BASE" ] && mb=$(median "${base[@]}")
    if [ -n "$BASE" ]; then
        printf '%-8s %-22s ours %7.2f s  before %7.2f s  ffmpeg %7.2f s  ratio %5.2f (before %5.2f)\n' \
            "$name" "$(echo "$@" | grep -o 'c:a [a-z_]*' || echo video)" "$mo" "$mb" "$mr" \
            "$(echo "$mo / $mr" | bc -l)" "$(echo "$mb / $mr" | bc -l)"
    else
        printf '%-8s %-22s ours %7.2f s  ffmpeg %7.2f s  ratio %5.2f\n' \
            "$name" "$(echo "$@" | grep -o 'c:a [a-z_]*' || echo video)" "$mo" "$mr" "$(echo "$mo / $mr" | bc -l)"
    fi
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "${ONLY:-}" != audio ]; then
for v in sp640 qpel640 b720; do
    measure $v.mp4 video -i $v.mp4 -f rawvideo -pix_fmt yuv420p -y /dev/null
done
fi
if [ "${ONLY:-}" != video ]; then
measure lc.m4a audio -c:a aac_fixed -i lc.m4a -f s16le -y /dev/null
measure hev2.m4a audio -c:a aac_fixed -i hev2.m4a -f s16le -y /dev/null
measure hev2.m4a audio -c:a aac -i hev2.m4a -f s16le -y /dev/null
fi
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
