# Shared by run.sh and test.sh: install what is missing, then configure and build.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${PENRIKA_BUILD:-$root/build}

# The Debian release this machine runs (12 or 13: some packages are named differently there)
# and the mirror its apt reads.
debian_release=$(. /etc/os-release && v=${VERSION_ID:-0} && echo "${v%%.*}")
debian_mirror=$({ sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/*.sources
    sed -n 's/^deb \(\[[^]]*\] \)*\([^ ]*\) .*/\2/p' /etc/apt/sources.list; } 2>/dev/null |
    grep -v -- -security | head -1 || true)
debian_mirror=${debian_mirror:-http://deb.debian.org/debian}

# What building and running needs: the toolbar's SVG icons need Qt's SVG image plugin, typing
# Japanese into the editor needs fcitx5's Qt 6 input method module, and Qt's own menus and
# buttons speak Japanese with Qt's translations. On Wayland the windows need Qt's Wayland
# platform, the desktop layer the Wayland client library and KDE's protocol descriptions; the
# input method's keys are watched with the D-Bus library itself.
run_packages=(cmake g++ ninja-build pkg-config qt6-base-dev libgl-dev qt6-svg-dev libqt6svg6
    libxcb1-dev libxcb-xtest0-dev libxcb-icccm4-dev libxcb-ewmh-dev libxcb-keysyms1-dev
    libxcb-xfixes0-dev libxkbcommon-dev fonts-ipafont-gothic qt6-translations-l10n
    fcitx5-frontend-qt6 libwayland-dev plasma-wayland-protocols qt6-wayland libdbus-1-dev)
# Debian 13 ships Qt's SVG image plugin in a package of its own, and has the layer shell for
# Qt 6 that keeps the toolbar above the windows on Wayland.
[ "$debian_release" -ge 13 ] && run_packages+=(qt6-svg-plugins liblayershellqtinterface-dev)
# What the tests need besides: a private X server, window manager and session bus, X tools,
# the browsers, the Japanese input method, GoogleTest.
test_packages=(libgtest-dev libgmock-dev xvfb xauth openbox dbus-daemon x11-utils x11-xserver-utils
    xdotool imagemagick chromium firefox-esr fcitx5 fcitx5-mozc fcitx5-frontend-gtk3 dbus-x11
    python3 procps sway xwayland kwin-wayland grim wl-clipboard wayland-utils)
# The test pages load real web libraries (an input mask) installed with npm at test time; a
# machine whose Node.js comes with npm has it already.
command -v npm >/dev/null 2>&1 || test_packages+=(npm)
# GNOME's test session (tests/support/gnome-session.sh) needs GNOME 48, which Debian 12 lacks:
# its shell with mutter, the desktop portal with GNOME's backend, and GLib's D-Bus and settings
# tools that store its grants and check them.
gnome_packages=(gnome-shell mutter xdg-desktop-portal xdg-desktop-portal-gnome libglib2.0-bin)
[ "$debian_release" -ge 13 ] && test_packages+=("${gnome_packages[@]}")

# What building for Windows needs: the MinGW-w64 compilers, Debian's qt6-base source and what
# builds it (Perl for its header script), the SVG icons drawn as PNG, zip; and Wine with a
# private display to run the Windows tests.
windows_packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    qt6-base-dev-tools dpkg-dev perl librsvg2-bin zip wine wine64 fonts-wine xvfb xauth openbox
    x11-utils xdotool imagemagick googletest)

# What building the Debian package and checking it needs.
package_packages=(dpkg-dev desktop-file-utils appstream lintian)
# What the clean-machine check needs besides: a Debian root made from the archive, a private
# display and tools to look at it.
check_packages=(mmdebstrap xvfb xauth openbox xdotool imagemagick)
# The releases this project builds for, by number: their suite names ("" for any other).
debian_suite() {
    case "$1" in 12) echo bookworm ;; 13) echo trixie ;; *) echo "" ;; esac
}
# What running a command in a root of another release needs (tools/in-debian.sh).
root_packages=(mmdebstrap)

# share_machine_trust ROOT: the machine's resolver and its own certificate authorities (a
# company proxy's, say) hold in a Debian root too: npm reaches its registry from there. Call it
# again once the root has ca-certificates.
share_machine_trust() {
    cp /etc/resolv.conf "$1/etc/resolv.conf"
    if [ -d /usr/local/share/ca-certificates ]; then
        mkdir -p "$1/usr/local/share/ca-certificates"
        cp -a /usr/local/share/ca-certificates/. "$1/usr/local/share/ca-certificates/"
        if [ -x "$1/usr/sbin/update-ca-certificates" ]; then
            chroot "$1" /usr/sbin/update-ca-certificates >/dev/null 2>&1 || true
        fi
    fi
}

install_missing() {
    local missing=()
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# build_penrika ON|OFF [TARGET]: with or without the tests (the program alone needs no
# GoogleTest); everything, or only TARGET and what it needs.
build_penrika() {
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DPENRIKA_TESTS="$1" >/dev/null
    cmake --build "$build" -j "$(nproc)" ${2:+--target "$2"}
}
