#!/usr/bin/env bash
# Runs one Windows program under Wine, on a private display (with-x.sh) and in a Wine prefix of
# its own under that run's work folder, and exits with the program's exit code:
#   with-wine.sh program.exe [args...]
# The prefix is made anew each run (about 11 s) so no run sees another's registry or files.
# PENRIKA_WINE_SHOT=<folder>: a program asks for a screenshot by creating <folder>/<name>.shot;
# this script writes <folder>/<name>.png of the whole display and then removes the request.
set -u
if [ "${1:-}" != "--in-x" ]; then
    exec "$(dirname "${BASH_SOURCE[0]}")/with-x.sh" "$0" --in-x "$@"
fi
shift
[ $# -ge 1 ] || { echo "usage: with-wine.sh program.exe [args...]" >&2; exit 2; }

export WINEPREFIX="$PENRIKA_TEST_WORK/wineprefix" WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No offer to download Mono or Gecko: nothing here needs .NET or the HTML engine.
export WINEDLLOVERRIDES="mscoree=;mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
shooter=""
cleanup() {
    [ -n "$shooter" ] && kill "$shooter" 2>/dev/null && wait "$shooter" 2>/dev/null
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

# wineboot returns when the prefix is made; its services stay up for the program to use (waiting
# for the server to go down as well would add 5 s each run for nothing).
wineboot -i >"$PENRIKA_TEST_WORK/wineboot.log" 2>&1 ||
    { echo "with-wine: wineboot failed" >&2; cat "$PENRIKA_TEST_WORK/wineboot.log" >&2; exit 1; }

# Wine draws standard controls in Tahoma, which it finds only in the prefix's Fonts folder. It
# finds IPAGothic through fontconfig, but programs and Wine's own font links (Tahoma's Japanese
# comes from "MS UI Gothic") ask for the Japanese faces of Windows by name: those names stand
# for IPAGothic.
cp /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
reg="$PENRIKA_TEST_WORK/fonts.reg"
{
    printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
    for face in "MS UI Gothic" "MS Gothic" "MS PGothic" "Meiryo" "Meiryo UI" "Yu Gothic UI"; do
        printf '"%s"="IPAGothic"\r\n' "$face"
    done
} >"$reg"
wine regedit /S "$(winepath -w "$reg")" ||
    { echo "with-wine: could not register the font names" >&2; exit 1; }

if [ -n "${PENRIKA_WINE_SHOT:-}" ]; then
    mkdir -p "$PENRIKA_WINE_SHOT"
    (
        while :; do
            for req in "$PENRIKA_WINE_SHOT"/*.shot; do
                [ -e "$req" ] || continue
                import -window root "${req%.shot}.png" 2>/dev/null
                rm -f "$req"
            done
            sleep 0.1
        done
    ) &
    shooter=$!
fi

# In the background, so that a signal ends the wait and the cleanup stops the prefix's programs.
wine "$@" &
wait $!
