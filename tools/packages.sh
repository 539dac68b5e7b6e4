# Debian 12 and 13 packages the project needs, and a way to install whichever are missing.
# Sourced by tools/play and tools/check.

SORMIO_BUILD_PACKAGES=(
    cmake ninja-build g++ qt6-base-dev libpulse-dev pkg-config gzip python3 python3-fonttools
    python3-brotli
)
# What the web page takes to build.
SORMIO_WEB_PACKAGES=(cmake ninja-build g++ python3 python3-fonttools python3-brotli emscripten)
SORMIO_TEST_PACKAGES=(
    googletest libgtest-dev clang-format-19
    xvfb xauth xdotool x11-apps x11-utils x11-xkb-utils libx11-dev python3 ibus
    at-spi2-core python3-pyatspi libglib2.0-bin orca speech-dispatcher
    desktop-file-utils appstream lintian build-essential dpkg-dev file debhelper devscripts
    autopkgtest python3-xlib
    diffoscope-minimal
    clang libclang-rt-dev valgrind libxdamage-dev
    pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber dbus-daemon
    sway grim qt6-wayland mutter python3-dbus kwin-wayland kwin-style-breeze
    g++-mingw-w64-x86-64 g++-mingw-w64-i686 emscripten wine wine64 nsis
    chromium firefox-esr webkit2gtk-driver python3-websocket python3-pil espeak-ng
)
# Where the system takes i386 packages too (the Debian 13 root of tools/debian13), Wine runs
# 32-bit Windows programs: the 32-bit program and the installer are played there.
if dpkg --print-foreign-architectures 2>/dev/null | grep -qx i386; then
    SORMIO_TEST_PACKAGES+=(wine32:i386)
fi

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        echo "sormio: these packages must be installed as root: ${*: -1}" >&2
        return 1
    fi
}

ensure_packages() {
    local missing=() p
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "sormio: installing ${missing[*]}" >&2
    as_root apt-get update -q &&
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
            "${missing[@]}"
}

# The Debian archive this machine's apt uses (deb.debian.org where it names none).
debian_mirror() {
    local mirror
    mirror=$(apt-get indextargets --format '$(LABEL) $(REPO_URI)' 'Created-By: Packages' |
        awk '$1 == "Debian" { print $2; exit }')
    echo "${mirror:-http://deb.debian.org/debian/}"
}
