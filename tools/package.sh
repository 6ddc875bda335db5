#!/usr/bin/env bash
# Builds the Debian package out/penrika_<version>_amd64.deb from this tree and checks it:
# its desktop entry and AppStream data validate and lintian finds no error.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing "${run_packages[@]}" "${package_packages[@]}"

version=$(sed -n 's/^project(Penrika VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
arch=$(dpkg --print-architecture)
work="$root/build-package"
stage="$work/stage"
out="$root/out"
deb="$out/penrika_${version}_${arch}.deb"

cmake -S "$root" -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DPENRIKA_TESTS=OFF >/dev/null
cmake --build "$work" -j "$(nproc)"
rm -rf "$stage"
DESTDIR="$stage" cmake --install "$work" --strip >/dev/null

# Debian's places for the documentation: the manual page and changelog compressed, the copyright.
doc="$stage/usr/share/doc/penrika"
mkdir -p "$doc"
gzip -9n "$stage/usr/share/man/man1/penrika.1"
cat >"$doc/copyright" <<COPYRIGHT
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Penrika
Source: the Penrika source tree

Files: *
Copyright: 2026 Tamsel
License: proprietary
 All rights reserved.
COPYRIGHT
printf 'penrika (%s) unstable; urgency=medium\n\n  * Built from the source tree.\n\n -- Tamsel <penrika@example.org>  %s\n' \
    "$version" "$(date -R -d @"$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)")" |
    gzip -9n >"$doc/changelog.gz"

# Shared libraries: computed. What is loaded at run time by name: named here.
shlibs=$(cd "$work" && mkdir -p debian && printf 'Source: penrika\n\nPackage: penrika\nArchitecture: any\n' >debian/control &&
    dpkg-shlibdeps -O "$stage/usr/bin/penrika" | sed -n 's/^shlibs:Depends=//p')
[ -n "$shlibs" ] || { echo "dpkg-shlibdeps found no libraries" >&2; exit 1; }
runtime="libqt6svg6, qt6-translations-l10n, fonts-ipafont-gothic"
mkdir -p "$stage/DEBIAN"
cat >"$stage/DEBIAN/control" <<CONTROL
Package: penrika
Version: $version
Architecture: $arch
Maintainer: Tamsel <penrika@example.org>
Installed-Size: $(du -sk --exclude=DEBIAN "$stage" | cut -f1)
Depends: $shlibs, $runtime
Recommends: fcitx5-frontend-qt6 | ibus
Section: utils
Priority: optional
Description: fills web-form fields from a table of stored entries
 Penrika is a small always-on-top toolbar with a Japanese interface.
 Highlight the label printed beside a form field in the browser and press
 記入: Penrika copies the label, looks it up among your entries and types
 the entry's text into the field after it.
CONTROL

mkdir -p "$out"
dpkg-deb --build --root-owner-group "$stage" "$deb" >/dev/null
echo "built $deb"
desktop-file-validate "$stage/usr/share/applications/jp.tamsel.Penrika.desktop"
appstreamcli validate --no-net "$stage/usr/share/metainfo/jp.tamsel.Penrika.metainfo.xml"
lintian --fail-on error "$deb"
