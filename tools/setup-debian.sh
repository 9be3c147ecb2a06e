# Shared set-up for ./run.sh and ./test.sh on a Debian 12 machine: packages, and whether there is a display.
# Sourced, not run.

# The Debian packages the project builds, tests and captures with.
PARKHAUS_BUILD_PACKAGES=(
  g++ clang libclang-rt-14-dev cmake ninja-build pkg-config
  freeglut3-dev libglu1-mesa-dev libgl1-mesa-dri zlib1g-dev
  libsdl2-dev libmpg123-dev libmp3lame-dev libpng-dev libfreetype-dev fonts-dejavu-core
  xvfb xauth x11-utils xdotool ffmpeg
)
PARKHAUS_TEST_PACKAGES=(
  libgtest-dev libspng-dev valgrind
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
