#!/usr/bin/env bash
# Installs what is missing, builds the demo and runs it from the repository root (the loose files
# under data/ are read from there). Arguments go to GLUT as they stand (-display, -geometry).
set -euo pipefail
cd "$(dirname "$0")"
. tools/setup-debian.sh

parkhaus_ensure_packages "${PARKHAUS_RUN_PACKAGES[@]}" "${PARKHAUS_BUILD_PACKAGES[@]}"
cmake -S . -B build -G Ninja -DBUILD_TESTING=OFF >/dev/null
cmake --build build --target parkhaus parkhaus-capture -j "$(nproc)"

if parkhaus_have_display || [[ " $* " == *" -display "* ]]; then
  exec ./build/parkhaus "$@"
fi

# No screen to show it on: render the first ten seconds to a video instead.
out=capture/parkhaus-first-10s.mp4
echo "There is no X display here (DISPLAY is not set or does not answer);"
echo "rendering the first 10 seconds with the capture tool instead."
./build/parkhaus-capture --duration 10 --out "$out"
echo "The capture is in $out (watch it with any video player)."
echo "For the whole demo: ./build/parkhaus-capture --out capture/parkhaus.mp4"
