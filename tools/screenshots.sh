#!/usr/bin/env bash
# Regenerates the screenshots in docs/: the toolbar, the options dialog, the version window
# and a help topic, taken from the real program on a private Xvfb + openbox.
# Usage: tools/screenshots.sh [path/to/penrika]   (default: build/penrika)
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
binary=${1:-$here/build/penrika}
[ -x "$binary" ] || { echo "no program at $binary (build it first)" >&2; exit 1; }
if [ -z "${PENRIKA_TEST_WORK:-}" ]; then
    exec "$here/tests/support/with-x.sh" "$0" "$(readlink -f "$binary")"
fi
out=$here/docs
mkdir -p "$out"
app=$PENRIKA_TEST_WORK/app
mkdir -p "$app"
cp "$binary" "$app/penrika"
"$app/penrika" &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null' EXIT

wait_window() {  # name -> window id
    for _ in $(seq 1 100); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1) || true
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    echo "window '$1' did not appear" >&2; return 1
}
shot() {  # window id, file: the window with its frame, cut from the screen
    sleep 0.4  # let the window finish painting
    # xwininfo's absolute position is the client's (xdotool's is off by the frame on openbox).
    local info; info=$(xwininfo -id "$1")
    local X Y WIDTH HEIGHT
    X=$(awk '/Absolute upper-left X/ {print $4}' <<<"$info")
    Y=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$info")
    WIDTH=$(awk '/Width:/ {print $2}' <<<"$info")
    HEIGHT=$(awk '/Height:/ {print $2}' <<<"$info")
    # The frame: openbox's title bar and borders around the client.
    local extents; extents=$(xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
    set -- "$2" $extents
    local l=${2:-0} r=${3:-0} t=${4:-0} b=${5:-0}
    import -window root -crop "$((WIDTH + l + r))x$((HEIGHT + t + b))+$((X - l))+$((Y - t))" +repage "$1"
}
click() {  # window id, x, y in the window
    xdotool mousemove --window "$1" "$2" "$3" click 1
}

main=$(wait_window Penrika)
xdotool windowmove "$main" 40 40
sleep 0.3
xdotool mousemove --window "$main" 11 11   # the tooltip of 記入
sleep 1.5
shot "$main" "$out/toolbar.png"
mx=$(xwininfo -id "$main" | awk '/Absolute upper-left X/ {print $4}')
my=$(xwininfo -id "$main" | awk '/Absolute upper-left Y/ {print $4}')
import -window root -crop "200x80+$((mx - 6))+$((my - 26))" +repage "$out/toolbar-tooltip.png"

click "$main" $((23 * 2 + 11)) 11          # 設定
opt=$(wait_window "Penrika for IE- 設定")
shot "$opt" "$out/options.png"
click "$opt" 40 90                           # ﾊﾞｰｼﾞｮﾝ情報
about=$(wait_window "Penrika  for IE- ﾊﾞｰｼﾞｮﾝ情報")
shot "$about" "$out/version.png"
xdotool key Escape
sleep 0.5
click "$opt" $((2807 / 15 + 20)) 90          # ヘルプ
help=$(wait_window "Penrika ヘルプ - 設定")
xdotool windowmove "$help" 40 200
shot "$help" "$out/help-options.png"
echo "screenshots written to $out"
