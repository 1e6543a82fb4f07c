#!/bin/bash
# KDE Plasma, run by desktop_test.sh in its root: kwin_wayland on its virtual backend at
# 1280x720 with KDE's portal backend. Its dialog lists the screens (or windows) with none
# selected and takes a click there: kwin's fake input gives it.
# On this backend the whole screen is granted but sends no frame (kwin records one only when
# the output says it changed, which a virtual output never does), so there is no screen to
# compare, and no control stops a cast without the Plasma shell's tray; a window's stream
# does send frames (window_run).
set -u
. /mnt/source/tests/desktops/desktop_session.sh

# Where kwin put a window's surface, by a kwin script that prints it to kwin's log: the
# line after those of earlier dialogs, which may have stood elsewhere.
window_origin() {  # caption
    local before
    before=$(grep -c '^js: origin ' kwin.log)
    printf '%s\n' 'for (const w of workspace.clientList())' \
        "    if (w.caption.startsWith(\"$1\"))" \
        '        print("origin", w.bufferGeometry.x, w.bufferGeometry.y);' > /tmp/origin.js
    dbus-send --session --print-reply --dest=org.kde.KWin /Scripting \
        org.kde.kwin.Scripting.unloadScript string:origin > /dev/null
    dbus-send --session --print-reply --dest=org.kde.KWin /Scripting \
        org.kde.kwin.Scripting.loadScript string:/tmp/origin.js string:origin > /dev/null &&
        dbus-send --session --print-reply --dest=org.kde.KWin /Scripting \
            org.kde.kwin.Scripting.start > /dev/null || return 1
    for _ in $(seq 40); do
        [ "$(grep -c '^js: origin ' kwin.log)" -gt "$before" ] &&
            sed -n 's/^js: origin \([0-9]*\) \([0-9]*\)$/\1 \2/p' kwin.log | tail -n 1 &&
            return 0
        sleep 0.05
    done
    return 1
}

# Clicks the dialog's item (its number, or a window's title) and presses Share.
share_item() {
    local item origin
    # A click while the dialog still fills its list may choose nothing, or a row the list then
    # drops (its script says "Cannot call method 'index' of null", and Share crashes the
    # portal): the list is given a second, and the row looked for and clicked again, unless
    # it came late, since a second click unchecks the row.
    python3 "$here/accessible.py" where-item xdg-desktop-portal-kde "$1" > /dev/null || return 1
    sleep 1
    for _ in 1 2 3; do
        if ! python3 "$here/accessible.py" selected-item xdg-desktop-portal-kde "$1" 0 \
            > /dev/null; then
            item=$(python3 "$here/accessible.py" where-item xdg-desktop-portal-kde "$1") || return 1
            origin=$(window_origin "Screen Sharing") ||
                { echo "kwin did not say where the dialog is"; return 1; }
            python3 "$here/kwin_pointer.py" click $((${origin% *} + ${item% *})) \
                $((${origin#* } + ${item#* })) || return 1
        fi
        python3 "$here/accessible.py" selected-item xdg-desktop-portal-kde "$1" &&
            { python3 "$here/accessible.py" press xdg-desktop-portal-kde Share; return; }
    done
    return 1
}

# The screen is the second item: the first is "New Virtual Output".
answer_dialog() {
    share_item 2
}

# kwin streams a window's own surface, without the title bar it draws above it, and
# renegotiates the stream's size when the window is resized. It draws the pointer into the
# window's picture: the pointer leaves the window the dialog closed over.
answer_window() {
    share_item "Two colours" && python3 "$here/kwin_pointer.py" move 0 0
}

export XDG_CURRENT_DESKTOP=KDE KDE_FULL_SESSION=true KDE_SESSION_VERSION=5 \
    QT_QPA_PLATFORM=wayland QT_ACCESSIBILITY=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
    WAYLAND_DISPLAY=wayland-0
started=$(date +%s%N)
start_session_basics
# kwin lets only the programs that its desktop files name use fake input, and reads them
# from a cache that it may read before the cache is built: its switch for tests instead.
env -u WAYLAND_DISPLAY KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 \
    kwin_wayland --virtual --width 1280 --height 720 --no-lockscreen > kwin.log 2>&1 &
session_pids+=($!)
for _ in $(seq 600); do
    dbus-send --session --print-reply --dest=org.kde.KWin /KWin org.kde.KWin.currentDesktop \
        > /dev/null 2>&1 && break
    sleep 0.05
done
[ -e "$XDG_RUNTIME_DIR/wayland-0" ] ||
    { echo "FAIL: kwin did not start"; tail -n 20 kwin.log; exit 1; }
start_screencast_portal "$work" bus.log
echo "session: up in $(elapsed "$started") s"
dialog_and_token_runs
window_run
