# Shared set-up for ./run.sh and ./test.sh on a Debian 12 machine: packages, and whether there is a display.
# Sourced, not run.

# What the demo and the capture tool need at run time: Mesa's GL drivers, an X server of its own
# where there is no display (with xdpyinfo to ask the one there is), and ffmpeg for MP4 captures.
PARKHAUS_RUN_PACKAGES=(
  libgl1-mesa-dri xvfb xauth x11-utils ffmpeg
)
# What building the demo and the capture tool needs, and packaging them (dpkg-shlibdeps, file).
PARKHAUS_BUILD_PACKAGES=(
  g++ cmake ninja-build pkg-config dpkg-dev file
  freeglut3-dev libglu1-mesa-dev zlib1g-dev libsdl2-dev libpulse-dev libmpg123-dev libpng-dev libx11-dev libxrandr-dev
)
# What the tests need besides: clang with its sanitizer runtimes and libFuzzer, the media and tune
# generators (FreeType with the DejaVu font, LAME), GoogleTest, xdotool to press keys, libspng and
# valgrind for the benchmarks, the packaging tools the install test runs, pgrep, the Wayland
# compositors the desktop test starts with their Xwayland, and the sound servers the music is
# heard through (PulseAudio, and PipeWire with wireplumber and its pulse server).
PARKHAUS_TEST_PACKAGES=(
  clang libclang-rt-14-dev libfreetype-dev fonts-dejavu-core libmp3lame-dev
  libgtest-dev xdotool libspng-dev valgrind python3
  lintian desktop-file-utils appstream man-db procps libxfixes-dev
  xwayland weston sway mutter kwin-wayland dbus-daemon
  pulseaudio pulseaudio-utils pipewire pipewire-pulse pipewire-bin wireplumber stress-ng
)

# Installs whichever of the named packages are missing.
parkhaus_ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# True when DISPLAY names an X server that answers.
parkhaus_have_display() {
  [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1
}
