#!/usr/bin/env bash
# Installs what is missing, builds the demo and runs it from the repository root (the loose files
# under data/ are read from there). Arguments go to GLUT as they stand (-display, -geometry).
set -euo pipefail
cd "$(dirname "$0")"
. tools/setup-debian.sh

parkhaus_ensure_packages "${PARKHAUS_BUILD_PACKAGES[@]}"
cmake -S . -B build -G Ninja -DPARKHAUS_TESTS=OFF -DPARKHAUS_BENCH=OFF >/dev/null
cmake --build build --target parkhaus -j "$(nproc)"

if parkhaus_have_display || [[ " $* " == *" -display "* ]]; then
  exec ./build/parkhaus "$@"
fi

echo "There is no X display here (DISPLAY is not set or does not answer)."
echo "To watch the demo on a virtual screen:"
echo "  Xvfb :99 -screen 0 1280x1024x24 &  DISPLAY=:99 ./build/parkhaus"
