# A Wayland session of the tests' own, headless, sourced by the tests and the benchmark: a
# private session bus, PipeWire with WirePlumber, sway on its headless backend with one output,
# and the screen-cast portal with the wlroots backend, whose output chooser is a script the
# test controls. The logs and the test's files live in $work; what sway reads (its
# configuration, pictures for the background: put them in $SESSION_DIR) and the runtime
# folder live in a folder of their own under $TMPDIR or /tmp, which stop_wayland_session ends
# with the rest.
#
#   start_wayland_session WORK_DIR WIDTHxHEIGHT   exports WAYLAND_DISPLAY, SWAYSOCK,
#                                                 DBUS_SESSION_BUS_ADDRESS, XDG_RUNTIME_DIR
#   chooser_picks NAME|new|nothing|wait           the output the portal's dialog "chooses"
#
# $PORTAL_BACKEND_PID is the portal's wlroots backend, which streams the screen casts.
#
# sway refuses to run as root; as root it runs as nobody, in a runtime folder nobody owns
# (root reaches the sockets there all the same), away from $work, whose parents nobody may
# not be allowed to pass.

. "$(dirname "${BASH_SOURCE[0]}")/../support/deadline.sh"

session_pids=()

session_need() {
    local program
    for program in "$@"; do
        command -v "$program" >/dev/null || { echo "skipped: $program is not installed"; exit 77; }
    done
}

# Waits up to 10 s for a path to exist.
session_wait_for_path() {
    for _ in $(seq 200); do [ -e "$1" ] && return 0; sleep 0.05; done
    return 1
}

# Waits up to 10 s for a name on the session bus to have an owner.
session_wait_for_name() {
    for _ in $(seq 200); do
        dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true' &&
            return 0
        sleep 0.05
    done
    return 1
}

start_wayland_session() {
    local work=$1 size=$2
    session_need sway dbus-daemon pipewire wireplumber grim
    [ -x /usr/libexec/xdg-desktop-portal ] && [ -x /usr/libexec/xdg-desktop-portal-wlr ] ||
        { echo "skipped: xdg-desktop-portal(-wlr) is not installed"; exit 77; }
    SESSION_DIR=$(mktemp -d "${TMPDIR:-/tmp}/kvusb-wayland.XXXXXX") || exit 1
    chmod 755 "$SESSION_DIR"
    export SESSION_DIR XDG_RUNTIME_DIR="$SESSION_DIR/runtime" XDG_CONFIG_HOME="$work/config"
    export XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland
    export WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman
    unset DISPLAY WAYLAND_DISPLAY SWAYSOCK
    mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/xdg-desktop-portal-wlr"
    chmod 700 "$XDG_RUNTIME_DIR"
    local as_user=()
    if [ "$(id -u)" -eq 0 ]; then
        chown 65534:65534 "$XDG_RUNTIME_DIR"
        as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    fi

    start_session_bus "$work"

    printf 'output HEADLESS-1 mode %s position 0 0\n' "$size" > "$SESSION_DIR/sway.config"
    chmod 644 "$SESSION_DIR/sway.config"
    "${as_user[@]}" sway -c "$SESSION_DIR/sway.config" > "$work/sway.log" 2>&1 &
    session_pids+=($!)
    start_pipewire "$work"
    local socket
    for _ in $(seq 200); do
        socket=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock 2>/dev/null | head -n 1)
        [ -n "$socket" ] && [ -e "$XDG_RUNTIME_DIR/wayland-1" ] && break
        sleep 0.05
    done
    [ -n "$socket" ] || { echo "FAIL: sway did not start"; tail -n 20 "$work/sway.log"; exit 1; }
    export SWAYSOCK=$socket WAYLAND_DISPLAY=wayland-1

    # The portal's dialog: the output named in $work/chooser.pick ("new": the first but the
    # starting one, "nothing": the user declines, "wait": the user takes a minute); each call
    # noted in $work/chooser.calls.
    cat > "$work/chooser" <<CHOOSER
#!/bin/sh
echo called >> "$work/chooser.calls"
pick=\$(cat "$work/chooser.pick")
case "\$pick" in
    nothing) exit 0 ;;
    wait) sleep 60; exit 0 ;;
    new) grep -vx HEADLESS-1 | head -n 1 ;;
    *) echo "\$pick" ;;
esac
CHOOSER
    chmod 755 "$work/chooser"
    chooser_picks HEADLESS-1
    printf '[screencast]\nchooser_type=dmenu\nchooser_cmd=%s\n' "$work/chooser" \
        > "$XDG_CONFIG_HOME/xdg-desktop-portal-wlr/config"
    WAYLAND_DEBUG=${KV_WAYLAND_DEBUG:-0} LD_PRELOAD="$KV_SCREENCOPY_SHIM" /usr/libexec/xdg-desktop-portal-wlr -l DEBUG \
        > "$work/portal-wlr.log" 2>&1 &
    PORTAL_BACKEND_PID=$!
    session_pids+=($!)
    # The portal asks for its backend at its start: one not yet on the bus would be started a
    # second time by the bus, without this session's settings, and fail.
    session_wait_for_name org.freedesktop.impl.portal.desktop.wlr ||
        { echo "FAIL: the portal's wlroots backend did not come"; tail -n 20 "$work/portal-wlr.log"; exit 1; }
    start_screencast_portal "$work" portal-wlr.log
}

# The parts every desktop's session has. A bus of the session's own: $DBUS_SESSION_BUS_ADDRESS.
start_session_bus() {  # work
    dbus-daemon --session --nofork --print-address=3 3>"$1/bus.address" 2>"$1/bus.log" &
    session_pids+=($!)
    for _ in $(seq 100); do [ -s "$1/bus.address" ] && break; sleep 0.05; done
    DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$1/bus.address")
    export DBUS_SESSION_BUS_ADDRESS
}

start_pipewire() {  # work
    pipewire > "$1/pipewire.log" 2>&1 &
    session_pids+=($!)
    session_wait_for_path "$XDG_RUNTIME_DIR/pipewire-0" || { echo "FAIL: no PipeWire"; exit 1; }
    wireplumber > "$1/wireplumber.log" 2>&1 &
    session_pids+=($!)
}

# The portal in front of the desktop's backend, which runs already; returns when its
# screen-cast interface answers.
start_screencast_portal() {  # work, the backend's log in work
    /usr/libexec/xdg-desktop-portal -r > "$1/portal.log" 2>&1 &
    session_pids+=($!)
    # Asked only once it owns its name: a call before would have the bus start a second one.
    session_wait_for_name org.freedesktop.portal.Desktop &&
        for _ in $(seq 200); do
            dbus-send --session --print-reply --dest=org.freedesktop.portal.Desktop \
                /org/freedesktop/portal/desktop org.freedesktop.DBus.Properties.Get \
                string:org.freedesktop.portal.ScreenCast string:version >/dev/null 2>&1 && return 0
            sleep 0.05
        done
    echo "FAIL: the screen-cast portal did not come"
    tail -n 20 "$1/portal.log" "$1/$2"
    exit 1
}

chooser_picks() {
    echo "$1" > "$work/chooser.pick"
}

# The test's own processes, in its array pids, end with the session when it exits.
end_session_on_exit() {
    trap 'end_all "${pids[@]}"; stop_wayland_session' EXIT
}

stop_wayland_session() {
    local pid
    end_all "${session_pids[@]}"
    session_pids=()
    [ -z "${SESSION_DIR:-}" ] || rm -rf "$SESSION_DIR"
}
