#!/bin/sh
# The client's smoke run under Wine: usage wine-smoke.sh <wine> <solvikvpn.exe> [platform [size]].
# The run must end by itself with 0 and leave smoke.png beside the program at the window's size,
# 1180 x 780 unless another size is given (a scaled screen's). The platform is Qt's offscreen one
# unless another is named: an installed client ships only the windows platform. The picture is
# kept for a person to look at.
set -u
wine=$1
program=$2
platform=${3:-offscreen}
expected=${4:-1180 x 780}
screenshot="$(dirname "$program")/smoke.png"
rm -f "$screenshot"
"$(dirname "$0")/wine-run.sh" "$wine" "$program" -platform "$platform" --smoke-test
code=$?
if [ "$code" -ne 0 ]; then
    echo "The smoke run ended with $code." >&2
    exit 1
fi
if [ ! -s "$screenshot" ]; then
    echo "The smoke run left no $screenshot." >&2
    exit 1
fi
# A PNG's signature, then the IHDR chunk: width and height as big-endian 32-bit numbers.
signature=$(od -An -tx1 -N8 "$screenshot" | tr -d ' \n')
size=$(od -An -tu1 -j16 -N8 "$screenshot" |
    awk '{ printf "%d x %d", (($1 * 256 + $2) * 256 + $3) * 256 + $4, (($5 * 256 + $6) * 256 + $7) * 256 + $8 }')
echo "smoke.png: $size ($screenshot)"
if [ "$signature" != "89504e470d0a1a0a" ] || [ "$size" != "$expected" ]; then
    echo "Expected a PNG of $expected." >&2
    exit 1
fi
