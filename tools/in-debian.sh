#!/usr/bin/env bash
# Runs a command of this checkout inside a root of another Debian release:
#   bash tools/in-debian.sh 13 bash tools/test.sh
# On a machine of that release already the command simply runs here. Otherwise the root is made
# once with mmdebstrap from this machine's Debian mirror and kept (with what the command installs
# into it) in ~/.cache/penrika-debian<N>/root, or $PENRIKA_DEBIAN_CACHE/root. The checkout is
# bound at the same path inside and builds go to build-deb<N>, so the host's build stays as it is.
# The command runs in mount and PID namespaces of its own: when it ends, every process it started
# ends and every mount it made goes with them. Needs root.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

release=${1:?usage: in-debian.sh <12|13> <command>...}
shift
[ $# -gt 0 ] || { echo "usage: in-debian.sh <12|13> <command>..." >&2; exit 2; }
suite=$(debian_suite "$release")
[ -n "$suite" ] || { echo "in-debian.sh: Debian $release is not one this project builds for" >&2; exit 2; }
[ "$debian_release" = "$release" ] && exec "$@"
[ "$(id -u)" -eq 0 ] || { echo "in-debian.sh needs root (chroot and mounts)" >&2; exit 1; }
install_missing "${root_packages[@]}"

cache=${PENRIKA_DEBIAN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/penrika-debian$release}
rootfs="$cache/root"
if [ ! -f "$rootfs/.complete" ]; then
    echo "Making a Debian $release root in $rootfs (kept for later runs)"
    rm -rf "$rootfs" && mkdir -p "$cache"
    # The release with its updates and security fixes, as a user's machine of it has them.
    mmdebstrap --quiet --variant=apt "$suite" "$rootfs" \
        "deb $debian_mirror $suite main" "deb $debian_mirror $suite-updates main" \
        "deb ${debian_mirror%/debian}/debian-security $suite-security main" >/dev/null
    touch "$rootfs/.complete"
fi
share_machine_trust "$rootfs"

# The host's /tmp is bound too: X displays are found by their lock files there, and an X
# server's abstract socket is shared with the host, so both sides must see the same locks.
locks_before=$(ls /tmp/.X*-lock 2>/dev/null || true)
# shellcheck disable=SC2016
unshare --mount --pid --fork --kill-child --propagation private -- bash -c '
    set -e
    rootfs=$1 checkout=$2 release=$3
    shift 3
    mount -t proc proc "$rootfs/proc"
    mount --rbind /dev "$rootfs/dev"
    mount --rbind /sys "$rootfs/sys"
    mount --bind /tmp "$rootfs/tmp"
    mkdir -p "$rootfs$checkout"
    mount --bind "$checkout" "$rootfs$checkout"
    exec chroot "$rootfs" env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/root \
        LANG=C.UTF-8 TERM="${TERM:-dumb}" PENRIKA_BUILD="$checkout/build-deb$release" \
        bash -c "cd \"\$0\" && exec \"\$@\"" "$checkout" "$@"
' in-debian "$rootfs" "$root" "$release" "$@" &
inside=$!
# unshare leaves signals to the command; stopping this script kills the namespace's first process,
# and with it every process inside.
trap 'kill -KILL "$inside" 2>/dev/null' INT TERM HUP
status=0
wait "$inside" || status=$?
while kill -0 "$inside" 2>/dev/null; do wait "$inside" || status=$?; done

# An X server killed inside leaves its lock behind, naming a process of the namespace: remove the
# locks made meanwhile that no X server of this machine holds.
for lock in /tmp/.X*-lock; do
    [ -f "$lock" ] || continue
    grep -qxF "$lock" <<<"$locks_before" && continue
    pid=$(tr -d ' ' <"$lock")
    case "$(cat "/proc/$pid/comm" 2>/dev/null)" in X*) continue ;; esac
    n=${lock#/tmp/.X}
    rm -f "$lock" "/tmp/.X11-unix/X${n%-lock}"
done
exit "$status"
