#!/bin/bash
# GNOME, run by desktop_test.sh in its root: gnome-shell headless on a virtual monitor of
# 1280x720 with GNOME's portal backend; its user clicks through the accessibility bus.
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

# mutter streams a window at the screen's size and marks its part (crop); resized, the crop
# changes size in the same stream.
answer_window() {
    python3 "$here/accessible.py" share xdg-desktop-portal-gnome
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
