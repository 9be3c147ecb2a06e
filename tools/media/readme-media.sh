#!/bin/sh
# Remakes the README's pictures of the running demo from its own frames: the looping preview
# (docs/preview.webp), the stills (docs/frames/) and the strip of them (docs/capture-strip.png).
# Run from the repository root after a build:  tools/media/readme-media.sh [build-folder]
set -eu
cap="${1:-build}/parkhaus-capture"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The preview: 5 s from 26 s, at 320 x 240 and 20 frames/s, as a looping lossy WebP.
"$cap" --quiet --png --start 26 --duration 5 --fps 20 --size 320x240 --out "$tmp/preview/"
ffmpeg -loglevel error -y -framerate 20 -pattern_type glob -i "$tmp/preview/frame-*.png" \
  -c:v libwebp_anim -lossless 0 -quality 85 -compression_level 6 -loop 0 docs/preview.webp

# The stills: six moments spread over the demo, each where the credits are near their widest,
# at 640 x 480; the strip shows them at 480 x 360, three rows of two.
times="6 30 56 80 106 130"
list=$(echo $times | sed 's/\([0-9]*\)/\1s/g; s/ /,/g')
"$cap" --quiet --frames "$list" --out "$tmp/stills/"
mkdir -p docs/frames
rm -f docs/frames/frame-t*.png
inputs=""
for t in $times; do
  ffmpeg -loglevel error -y -i "$tmp/stills/frame-$(printf %06d $((t * 60))).png" -pred mixed \
    -compression_level 9 "docs/frames/frame-t$t.png"
  inputs="$inputs -i docs/frames/frame-t$t.png"
done
# shellcheck disable=SC2086  # the inputs are meant to split into words
ffmpeg -loglevel error -y $inputs -filter_complex \
  "[0]scale=480:360:flags=lanczos[a];[1]scale=480:360:flags=lanczos[b];[2]scale=480:360:flags=lanczos[c];
   [3]scale=480:360:flags=lanczos[d];[4]scale=480:360:flags=lanczos[e];[5]scale=480:360:flags=lanczos[f];
   [a][b][c][d][e][f]xstack=inputs=6:layout=0_0|480_0|0_360|480_360|0_720|480_720" \
  -frames:v 1 -pred mixed -compression_level 9 docs/capture-strip.png
ls -l docs/preview.webp docs/capture-strip.png docs/frames/
