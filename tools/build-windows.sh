#!/usr/bin/env bash
# Builds Penrika for 64-bit Windows on Debian 12: once, a static Qt for MinGW-w64 made from
# Debian's own qt6-base source (kept in a cache folder and reused), then penrika.exe linked
# statically against it, packed as out/penrika-<version>-windows-x64.zip.
#   bash tools/build-windows.sh          the zip
#   bash tools/build-windows.sh test     the zip, then the Windows tests under Wine (label wine)
#   bash tools/build-windows.sh qt       only the cached Qt
# PENRIKA_WIN_CACHE chooses the cache folder (default ~/.cache/penrika-windows).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing "${run_packages[@]}" "${windows_packages[@]}"

what=${1:-zip}
qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev)   # e.g. 6.4.2+dfsg-10
qt_upstream=${qt_version%%+*}
cache=${PENRIKA_WIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/penrika-windows}
qt_prefix="$cache/qt-$qt_upstream-mingw-w64-static"
toolchain="$root/cmake/mingw-w64-x86_64.cmake"

# Debian's qt6-base source at exactly the host's version (the host's moc, rcc and uic build it),
# fetched with apt's own configuration pointed at a private source list: the user's sources
# stay as they are.
fetch_qt_source() {
    local apt="$cache/apt" into=$1
    rm -rf "$apt" && mkdir -p "$apt/lists/partial" "$apt/sources.list.d" "$apt/archives/partial"
    local src
    for src in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        [ -f "$src" ] || continue
        case "$src" in
        *.sources) sed 's/^Types:.*/Types: deb-src/' "$src" >"$apt/sources.list.d/$(basename "$src")" ;;
        *) sed -n 's/^deb /deb-src /p' "$src" >"$apt/sources.list.d/$(basename "$src")" ;;
        esac
    done
    local opts=(-o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$apt/sources.list.d"
        -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache::Archives=$apt/archives"
        -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache=" -o "APT::Sandbox::User=root")
    apt-get "${opts[@]}" update -qq
    (cd "$into" && apt-get "${opts[@]}" source -qq --download-only "qt6-base=$qt_version")
    (cd "$into" && dpkg-source -x --no-check qt6-base_*.dsc qt6-base >/dev/null)
    rm -rf "$apt"
}

build_qt() {
    [ -f "$qt_prefix/.complete" ] && return 0
    echo "Building Qt $qt_upstream for Windows (static) into $qt_prefix: about 35 minutes on 2 cores"
    local work="$cache/work"
    rm -rf "$work" "$qt_prefix" && mkdir -p "$work"
    fetch_qt_source "$work"
    mkdir -p "$work/build"
    # Only what Penrika uses: Core, Gui, Widgets and the Windows platform plugin. Direct2D stays
    # on (the DirectWrite font database is built only with it); the source has no Wintab, hence
    # no tablet events.
    (cd "$work/build" && "$work/qt6-base/configure" -prefix "$qt_prefix" -static -release \
        -qt-host-path /usr -nomake examples -nomake tests -no-opengl -no-dbus -no-zstd \
        -no-freetype -no-fontconfig -qt-zlib -qt-libpng -qt-libjpeg -qt-harfbuzz -qt-pcre \
        -qt-doubleconversion -no-feature-sql -no-feature-network -no-feature-printsupport \
        -no-feature-concurrent -no-feature-xml -no-feature-testlib -no-feature-tabletevent \
        -no-feature-vulkan -- -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >"$work/configure.log" 2>&1) ||
        { tail -40 "$work/configure.log"; exit 1; }
    cmake --build "$work/build" -j "$(nproc)" >"$work/build.log" 2>&1 ||
        { grep -m5 -B2 -A10 'error' "$work/build.log" | head -60; exit 1; }
    cmake --install "$work/build" >/dev/null
    touch "$qt_prefix/.complete"
    rm -rf "$work"
}

build_qt
[ "$what" = qt ] && exit 0

# Penrika for Windows, with its tests (they run under Wine, see tests/wine.cmake). Qt's own
# toolchain file finds the static Qt and hands on to ours, named here because the cached Qt
# may have been built from another checkout.
build="$root/build-windows"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$qt_prefix/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$toolchain" -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >/dev/null
cmake --build "$build" -j "$(nproc)"

# The zip: the program and a README in Japanese, in a folder of their own. Unpacked somewhere
# the user can write, it keeps Penrika.dat beside itself.
version=$(sed -n 's/^project(Penrika VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
stage="$build/zip/Penrika"
rm -rf "$build/zip" && mkdir -p "$stage"
x86_64-w64-mingw32-strip -o "$stage/penrika.exe" "$build/penrika.exe"
sed 's/$/\r/' "$root/packaging/windows/README.txt" >"$stage/README.txt"
mkdir -p "$root/out"
zip="$root/out/penrika-$version-windows-x64.zip"
rm -f "$zip"
(cd "$build/zip" && TZ=UTC touch -d @"$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)" \
    Penrika Penrika/* && zip -qX -r "$zip" Penrika)
echo "Built $zip ($(du -h "$zip" | cut -f1))"

[ "$what" = test ] || exit 0
cd "$build"
ctest -L wine --output-on-failure -j 1 --timeout 900
