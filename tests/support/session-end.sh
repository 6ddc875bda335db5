# Sourced by the test sessions (tests/support/with-x.sh, *-session.sh) for their end.
# end_leftovers WORK: stops by PID every process whose environment names the session's work
# folder WORK (what the session's bus or compositor started detached from us, which may outlive
# them a moment), waits for them to be gone, undoes the mounts left below WORK (the document
# portal's FUSE file system stays mounted when its server is killed), then removes WORK.
end_leftovers() {
    local work=$1 environ pid alive tries=0
    while :; do
        alive=""
        for environ in $(grep -lsF "$work" /proc/[0-9]*/environ); do
            pid=${environ#/proc/}
            pid=${pid%/environ}
            [ "$pid" != $$ ] && kill -KILL "$pid" 2>/dev/null && alive=1
        done
        [ -z "$alive" ] && break
        tries=$((tries + 1))
        [ "$tries" -le 50 ] || break
        sleep 0.1
    done
    # Deepest first; mountinfo escapes spaces, which a mktemp folder has none of.
    awk -v w="$work" '$5 == w || index($5, w "/") == 1 { print $5 }' /proc/self/mountinfo |
        sort -r | while read -r mount; do umount -l "$mount" 2>/dev/null; done
    rm -rf "$work"
}
