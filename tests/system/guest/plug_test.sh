#!/bin/sh
# The projector plugged into a booted Debian system with an X desktop, run by root once the
# user's session is up: installs the packages with dpkg, plays the projector with kvusb-gadget
# on dummy_hcd, and follows the chain step by step: the nodes' access list, the user unit
# started by udev, the session's desktop on the projector, the unplug, the replug, a second
# user on the seat switched to and back, and the purge.
. /usr/local/lib/kvusb-test/plug_steps.sh
OTHER_NAME=nora  # signed in on tty2 for the switch
export DISPLAY=:0

# The cheap signs first: each systemctl here is a process or two, slow in an emulated machine.
session_ready() {
    local session
    pgrep -u $USER_NAME -x xwud &&
        session=$(loginctl show-seat seat0 -p ActiveSession --value) &&
        [ "$(loginctl show-session "$session" -p Name --value)" = "$USER_NAME" ] &&
        user_systemctl show-environment | grep -q '^DISPLAY=' &&
        user_systemctl is-active desktop-session.target
}
screen_is() {
    [ "$(xdotool getdisplaygeometry)" = "$1" ]
}
display_is() {  # display, size
    [ "$(DISPLAY=$1 xdotool getdisplaygeometry)" = "$2" ]
}

# The second user's desktop on tty2, with kvusb-mirror started with it (as `systemctl --user
# enable` has it) and waiting, the first user still in front.
other_ready() {
    pgrep -u $OTHER_NAME -x xwud && pgrep -u $OTHER_NAME -x kvusb-mirror &&
        [ "$(as_systemctl $OTHER_NAME is-active $UNIT)" = active ]
}

# loginctl activate SESSION: its user's run takes the projector (its desktop in the 800 x 600
# mode of a first run, frames on the wall), and the run at the back lets it go with its
# desktop put back.
hand_over() {  # name, session, its user, its display, the display at the back
    local started
    touch /tmp/switched
    started=$(uptime_s)
    loginctl activate "$2"
    wait_until 10 nodes_grant "$3" || fail "$1: the projector's nodes do not grant $3 access"
    wait_until 30 display_is "$4" "800 600" || { fail "$1: $3's run did not take the projector"; return 1; }
    figure "$1: $3's run took the projector $(since "$started") s after loginctl activate"
    wait_until 30 display_is "$5" "1280 720" ||
        fail "$1: the desktop at the back stayed $(DISPLAY=$5 xdotool getdisplaygeometry)"
    wait_until 60 frame_newer_than /tmp/switched || fail "$1: no frame reached the projector"
}

# Two users on seat0: a second one signs in on tty2 while the first is in front, and the
# projector follows the session in front there and back.
switch_users() {
    local wants=/home/$OTHER_NAME/.config/systemd/user/graphical-session.target.wants first second
    useradd --create-home --shell /bin/bash $OTHER_NAME
    mkdir -p "$wants" && ln -s /usr/lib/systemd/user/$UNIT "$wants/"
    chown -R $OTHER_NAME: /home/$OTHER_NAME/.config
    systemctl start getty@tty2
    wait_until 120 other_ready || { fail "switch: no kvusb-mirror in $OTHER_NAME's session on tty2"; return; }
    first=$(loginctl show-user $USER_NAME -p Display --value)
    second=$(loginctl show-user $OTHER_NAME -p Display --value)
    sleep 2
    display_is :1 "1280 720" || fail "switch: $OTHER_NAME's run took the projector from the back"
    hand_over "switch to $OTHER_NAME" "$second" $OTHER_NAME :1 :0 &&
        hand_over "switch back" "$first" $USER_NAME :0 :1
}

main() {
    if ! wait_until 120 session_ready; then
        fail "no graphical session for $USER_NAME on seat0"
        { loginctl list-sessions; loginctl show-seat seat0; user_systemctl show-environment
          user_systemctl status desktop-session.target; ps aux; } > $R/session.txt 2>&1
        return
    fi
    figure "session: ready $(since 0) s after the kernel started"

    plug_in || return
    echo "=== plugged in"
    check_plugged_in plug "$started" || return
    # A first run starts in the 800 x 600 mode, and the next one with the mode it saved.
    wait_until 30 screen_is "800 600" || fail "plug: the screen is $(xdotool getdisplaygeometry), not 800 600"
    wait_until 60 test -s $R/frame.png || { fail "plug: no frame reached the projector"; return; }
    xdotool mousemove 799 599
    sleep 1
    xwd -root -silent > $R/screenshot.xwd
    touch /tmp/screenshot-taken
    wait_until 30 frame_newer_than /tmp/screenshot-taken || fail "plug: no frame after the screenshot"
    cp $R/frame.png $R/plug-frame.png

    echo "=== unplugged"
    unplug unplug
    wait_until 10 screen_is "1280 720" || fail "unplug: the screen stayed $(xdotool getdisplaygeometry)"
    echo "=== plugged in again"
    replug
    check_plugged_in replug "$started" && {
        wait_until 30 screen_is "800 600" || fail "replug: the screen is $(xdotool getdisplaygeometry), not 800 600"
        wait_until 60 frame_newer_than /tmp/replugged || fail "replug: no frame reached the projector"
    }

    echo "=== a second user on the seat"
    switch_users

    echo "=== purged"
    dpkg --purge kvusb-mirror kvusbtool > $R/dpkg-purge.txt 2>&1 || fail "dpkg --purge failed"
    for file in /usr/lib/udev/rules.d/70-kvusb.rules /usr/lib/systemd/user/$UNIT; do
        [ -e "$file" ] && fail "purge: $file stayed"
    done
    udevadm settle -t 30
    wait_until 10 nodes_grant_nobody || fail "purge: the projector's nodes still grant access"
    list_acls > $R/purge-acl.txt
    echo "" > "$GADGET_DIR/UDC"
    kill -TERM $gadget
    ends_within 30 $gadget
}

run_and_report main
