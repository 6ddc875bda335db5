#!/usr/bin/env bash
# Builds the Debian package out/penrika_<version>+deb<N>_amd64.deb from this tree for the Debian
# release it runs on (N: 12 or 13; tools/in-debian.sh runs it in a root of the other one) and
# checks it: its desktop entry and AppStream data validate and lintian finds no error.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing "${run_packages[@]}" "${package_packages[@]}"

# The release in the version, as Debian's own backports do: the two packages depend on
# different library versions and must not pass for each other.
version=$(sed -n 's/^project(Penrika VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")+deb$debian_release
arch=$(dpkg --print-architecture)
work="$build-package"
stage="$work/debian/penrika"  # where dpkg-shlibdeps looks for a package's files
out="$root/out"
deb="$out/penrika_${version}_${arch}.deb"

cmake -S "$root" -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DPENRIKA_TESTS=OFF >/dev/null
cmake --build "$work" -j "$(nproc)"
rm -rf "$stage"
DESTDIR="$stage" cmake --install "$work" --strip >/dev/null
# AppStream before 1.0 (Debian 12's) knows the developer by name only.
if [ "$(appstreamcli --version | sed -n 's/^AppStream version: \([0-9]*\).*/\1/p')" = 0 ]; then
    perl -0pi -e 's|<developer id="[^"]*">\s*<name>([^<]*)</name>\s*</developer>|<developer_name>$1</developer_name>|' \
        "$stage/usr/share/metainfo/jp.tamsel.Penrika.metainfo.xml"
fi

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
printf 'penrika (%s) %s; urgency=medium\n\n  * Built from the source tree.\n\n -- Tamsel <penrika@example.org>  %s\n' \
    "$version" "$(. /etc/os-release && echo "$VERSION_CODENAME")" "$(date -R -d @"$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)")" |
    gzip -9n >"$doc/changelog.gz"

# Shared libraries: computed. What Qt loads at run time by name: the packages holding the SVG
# image and icon plugins, the Wayland platform and the Japanese translations on this release
# (Debian 13 moved the SVG plugins out of the library's package), then the font, named.
mkdir -p "$stage/DEBIAN"  # how dpkg-shlibdeps knows the package's root
shlibs=$(cd "$work" && printf 'Source: penrika\n\nPackage: penrika\nArchitecture: any\n' >debian/control &&
    dpkg-shlibdeps -O debian/penrika/usr/bin/penrika | sed -n 's/^shlibs:Depends=//p')
[ -n "$shlibs" ] || { echo "dpkg-shlibdeps found no libraries" >&2; exit 1; }
plugins=$(qtpaths6 --plugin-dir 2>/dev/null || qmake6 -query QT_INSTALL_PLUGINS)
translations=$(qtpaths6 --query QT_INSTALL_TRANSLATIONS 2>/dev/null || qmake6 -query QT_INSTALL_TRANSLATIONS)
loaded=$(dpkg -S "$plugins/imageformats/libqsvg.so" "$plugins/iconengines/libqsvgicon.so" \
    "$plugins/platforms/libqwayland-generic.so" "$translations/qtbase_ja.qm" | cut -d: -f1 | sort -u | paste -sd, | sed 's/,/, /g')
[ -n "$loaded" ] || { echo "no package holds Qt's SVG plugins or translations" >&2; exit 1; }
runtime="$loaded, fonts-ipafont-gothic"
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
appstreamcli validate --no-net --pedantic "$stage/usr/share/metainfo/jp.tamsel.Penrika.metainfo.xml"
lintian --fail-on error "$deb"
