#!/bin/bash
# GNOME, run by desktop_test.sh in its root: gnome-shell headless on a virtual monitor of
# 1280x720 with GNOME's portal backend; its user clicks through the accessibility bus. After
# the desktop's runs, one window is shared (window_run).
set -u
. /mnt/source/tests/desktops/desktop_session.sh

answer_dialog() {
    python3 "$here/accessible.py" share xdg-desktop-portal-gnome "Remember this selection"
}

take_screenshot() {
    python3 "$here/gnome_shell.py" screenshot "$work/$1"
}

# The screen-sharing indicator in the top bar stops every cast when pressed.
stop_cast() {
    python3 "$here/gnome_shell.py" click \
        $(python3 "$here/accessible.py" where gnome-shell "Stop Screen Sharing")
}

# One window: mutter streams it at the screen's size and marks its part (crop), which the
# wall shows fitted between bars; the window resized, the crop changes size in the same stream.
window_run() {
    local started window answer
    python3 "$here/two_colour_window.py" show 400 300 > window.out 2>&1 &
    window=$!
    pids+=("$window")
    wait_for window.out ready || fail "no window to share: $(cat window.out)"
    started=$(date +%s%N)
    python3 "$here/accessible.py" share xdg-desktop-portal-gnome > answer.out 2>&1 &
    answer=$!
    start_mirror window --window --device virtual:out=window.ppm,out_every=100 --duration 60
    ends_within 30 "$answer" || fail "the window was not chosen: $(cat answer.out)"
    fitted 107 0 640 480
    echo "window: fitted $(elapsed "$started") s after the start"
    kill -USR1 "$window"
    fitted 0 80 854 320
    kill -TERM "$run_pid"
    ends_within 60 "$run_pid" || fail "the window's run ended with $?"
}

# The window's halves in that rectangle of the wall, black around it.
fitted() {
    python3 "$here/two_colour_window.py" wall window.ppm "$@" > wall.out 2>&1 ||
        fail "the window is not shown fitted: $(cat wall.out)"
    cat wall.out
}

started=$(date +%s%N)
export XDG_CURRENT_DESKTOP=GNOME WAYLAND_DISPLAY=wayland-0
start_session_basics
# No banner over the screen the wall is compared with: without its display manager the shell
# says at its start, at a time of its own, that it cannot lock the screen.
mkdir -p "$XDG_CONFIG_HOME/glib-2.0/settings"
printf '[org/gnome/desktop/notifications]\nshow-banners=false\n' \
    > "$XDG_CONFIG_HOME/glib-2.0/settings/keyfile"
export GSETTINGS_BACKEND=keyfile
env -u WAYLAND_DISPLAY gnome-shell --headless --wayland --no-x11 --virtual-monitor 1280x720 \
    > gnome-shell.log 2>&1 &
session_pids+=($!)
# Up when the shell answers on the bus; its Wayland socket comes before it takes clients.
for _ in $(seq 600); do
    dbus-send --session --print-reply --dest=org.gnome.Shell /org/gnome/Shell \
        org.freedesktop.DBus.Properties.Get string:org.gnome.Shell string:ShellVersion \
        > /dev/null 2>&1 && break
    sleep 0.05
done
[ -e "$XDG_RUNTIME_DIR/wayland-0" ] ||
    { echo "FAIL: gnome-shell did not start"; tail -n 20 gnome-shell.log; exit 1; }
start_screencast_portal "$work" bus.log
echo "session: up in $(elapsed "$started") s"
dialog_and_token_runs
stopped_run
window_run
