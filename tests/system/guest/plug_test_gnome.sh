#!/bin/sh
# The projector plugged into a booted Debian system with GNOME on Wayland, run by root once the
# user's session is up: installs the packages, plays the projector with kvusb-gadget on
# dummy_hcd, answers the screen-cast portal's first dialog through the accessibility bus as
# the user's click would, and follows the session's desktop to the projector, the unplug, and
# the replug, which shares the screen again with no dialog from the kept choice.
. /usr/local/lib/kvusb-test/plug_steps.sh
TESTS=/usr/local/lib/kvusb-test

as_user() {
    runuser -u $USER_NAME -- env XDG_RUNTIME_DIR=/run/user/$(id -u $USER_NAME) \
        DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/$(id -u $USER_NAME)/bus "$@"
}
session_ready() {
    pgrep -u $USER_NAME -x gnome-shell &&
        user_systemctl show-environment | grep -q '^WAYLAND_DISPLAY=' &&
        user_systemctl is-active desktop-session.target
}
# Each try waits 20 s for the dialog, which may come later in an emulated machine.
answer_dialog() {
    local deadline=$(($(cut -d. -f1 /proc/uptime) + $1))
    until as_user python3 $TESTS/accessible.py share xdg-desktop-portal-gnome \
        "Remember this selection" >> $R/answer.txt 2>&1; do
        [ "$(cut -d. -f1 /proc/uptime)" -lt "$deadline" ] || return 1
    done
}
dialog_open() {
    as_user python3 $TESTS/accessible.py where xdg-desktop-portal-gnome Share
}
# The top bar's clock must not turn between the screenshot and the frame after it.
screenshot() {
    while [ "$(date +%S)" -ge 40 ]; do sleep 1; done
    as_user python3 $TESTS/gnome_shell.py screenshot /tmp/screenshot.png &&
        cp /tmp/screenshot.png $R/screenshot.png
}

main() {
    if ! wait_until 300 session_ready; then
        fail "no GNOME session for $USER_NAME on seat0"
        { loginctl list-sessions; user_systemctl show-environment; cat /tmp/gnome-shell-$USER_NAME.log
          ps aux; } > $R/session.txt 2>&1
        return
    fi
    figure "session: ready $(since 0) s after the kernel started"

    plug_in || return
    echo "=== plugged in"
    check_plugged_in plug "$started" || return
    answer_dialog 300 || { fail "plug: the share dialog was not answered: $(tail -n 3 $R/answer.txt)"; return; }
    figure "plug: the dialog answered $(since "$started") s after the plug"
    wait_until 120 test -s $R/frame.png || { fail "plug: no frame reached the projector"; return; }
    figure "plug: the first frame $(since "$started") s after the plug"
    screenshot || fail "plug: no screenshot"
    touch /tmp/screenshot-taken
    wait_until 60 frame_newer_than /tmp/screenshot-taken || fail "plug: no frame after the screenshot"
    cp $R/frame.png $R/plug-frame.png

    echo "=== unplugged"
    unplug unplug
    echo "=== plugged in again"
    replug
    check_plugged_in replug "$started" &&
        if wait_until 120 frame_newer_than /tmp/replugged; then
            figure "replug: a frame $(since "$started") s after the plug, with no dialog"
        else
            fail "replug: no frame reached the projector"
            dialog_open && fail "replug: the share dialog came again"
        fi
    echo "" > "$GADGET_DIR/UDC"
    kill -TERM $gadget
    ends_within 30 $gadget
}

run_and_report main
