#!/bin/sh
# The projector plugged into a booted Debian system, run by root once the user's session is
# up: installs the packages with dpkg, plays the projector with kvusb-gadget on dummy_hcd, and
# follows the chain step by step: the nodes' access list, the user unit started by udev, the
# session's desktop on the projector, the unplug, the replug, a second user on the seat
# switched to and back, and the purge. What it finds goes
# to /mnt/share/results, where the host judges the pictures (system_test.sh).
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
R=/mnt/share/results
. /usr/local/lib/kvusb-test/deadline.sh
USER_NAME=mira
OTHER_NAME=nora  # signed in on tty2 for the switch
UNIT=kvusb-mirror.service
GADGET_DIR=/sys/kernel/config/usb_gadget/kvusb
export DISPLAY=:0

fail() {
    echo "FAIL: $*" | tee -a $R/failures
}
figure() {
    echo "$*" | tee -a $R/figures
}
uptime_s() {
    cut -d' ' -f1 /proc/uptime
}
since() {
    awk -v now="$(uptime_s)" -v then="$1" 'BEGIN { printf "%.1f", now - then }'
}

# Polls the command every 0.25 s for up to SECONDS; false when it never succeeded.
wait_until() {
    local deadline
    deadline=$(awk -v now="$(uptime_s)" -v seconds="$1" 'BEGIN { print int(now + seconds) }')
    shift
    while ! "$@" > /dev/null 2>&1; do
        [ "$(cut -d. -f1 /proc/uptime)" -lt "$deadline" ] || return 1
        sleep 0.25
    done
}

user_systemctl() {
    as_systemctl $USER_NAME "$@"
}
as_systemctl() {  # user, systemctl --user's arguments
    local user=$1
    shift
    runuser -u "$user" -- env XDG_RUNTIME_DIR=/run/user/$(id -u "$user") systemctl --user "$@"
}
# The cheap signs first: each systemctl here is a process or two, slow in an emulated machine.
session_ready() {
    local session
    pgrep -u $USER_NAME -x xwud &&
        session=$(loginctl show-seat seat0 -p ActiveSession --value) &&
        [ "$(loginctl show-session "$session" -p Name --value)" = "$USER_NAME" ] &&
        user_systemctl show-environment | grep -q '^DISPLAY=' &&
        user_systemctl is-active desktop-session.target
}
unit_active() {
    pgrep -u $USER_NAME -x kvusb-mirror && [ "$(user_systemctl is-active $UNIT)" = active ]
}
unit_stopped() {
    ! pgrep -x kvusb-mirror && [ "$(user_systemctl is-active $UNIT)" = inactive ]
}
screen_is() {
    [ "$(xdotool getdisplaygeometry)" = "$1" ]
}
display_is() {  # display, size
    [ "$(DISPLAY=$1 xdotool getdisplaygeometry)" = "$2" ]
}

projector_nodes() {
    local unit
    for unit in /sys/bus/scsi/devices/*:*:*:*; do
        grep -qs KVUSB "$unit/vendor" && ls "$unit/scsi_generic" 2>/dev/null
    done
}
both_nodes() {
    [ "$(projector_nodes | wc -l)" -eq 2 ] && udevadm settle -t 30
}
no_nodes() {
    [ -z "$(projector_nodes)" ]
}
# Every projector node grants the user read and write.
nodes_grant() {
    local node
    for node in $(projector_nodes); do
        getfacl -p "/dev/$node" | grep -qx "user:$1:rw-" || return 1
    done
}
nodes_grant_nobody() {
    local node
    for node in $(projector_nodes); do
        getfacl -p "/dev/$node" | grep -q "^user:[a-z]" && return 1
    done
    return 0
}
list_acls() {
    local node
    for node in $(projector_nodes); do getfacl -p "/dev/$node"; done
}

# The gadget writes the frame it received at most once a second; a newer one than $1.
frame_newer_than() {
    [ "$R/frame.png" -nt "$1" ]
}

# After the projector is plugged in: the nodes and the user unit follow.
check_plugged_in() {
    local name=$1 started=$2 pid
    wait_until 60 both_nodes || { fail "$name: the kernel did not find the projector's two units"; return 1; }
    wait_until 10 nodes_grant $USER_NAME || fail "$name: the projector's nodes do not grant $USER_NAME access"
    list_acls > "$R/$name-acl.txt"
    wait_until 60 unit_active || { fail "$name: $UNIT did not start"; return 1; }
    figure "$name: $UNIT active $(user_systemctl show -p ActiveEnterTimestampMonotonic --value $UNIT |
        awk -v then="$started" '{ printf "%.1f", $1 / 1e6 - then }') s after the plug"
    pid=$(user_systemctl show -p MainPID --value $UNIT)
    [ "$(ps -o user= -p "$pid")" = "$USER_NAME" ] || fail "$name: kvusb-mirror runs as $(ps -o user= -p "$pid"), not $USER_NAME"
}

unplug() {
    local name=$1
    echo "" > "$GADGET_DIR/UDC"
    wait_until 30 no_nodes || fail "$name: the projector's units stayed"
    wait_until 30 unit_stopped || fail "$name: $UNIT is $(user_systemctl is-active $UNIT) after the unplug"
    [ "$(user_systemctl show -p Result --value $UNIT)" = success ] ||
        fail "$name: $UNIT ended with $(user_systemctl show -p Result --value $UNIT)"
    wait_until 10 screen_is "1280 720" || fail "$name: the screen stayed $(xdotool getdisplaygeometry)"
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

    dpkg -i /mnt/share/debs/*.deb > $R/dpkg-install.txt 2>&1 || { fail "dpkg -i failed"; return; }
    modprobe dummy_hcd
    modprobe usb_f_fs
    # Its own configfs gadget, bound now; unbound and bound again below as a cable would.
    kvusb-gadget --projector "report=$R/report.txt,out=$R/frame.png" > $R/gadget.out 2> $R/gadget.err &
    gadget=$!
    started=$(uptime_s)

    echo "=== plugged in"
    wait_until 30 test -s "$GADGET_DIR/UDC" || { fail "kvusb-gadget did not bind"; return; }
    udc=$(cat "$GADGET_DIR/UDC")
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
    echo "=== plugged in again"
    touch /tmp/replugged
    started=$(uptime_s)
    echo "$udc" > "$GADGET_DIR/UDC"
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

main 2>&1 | tee $R/guest.log
journalctl -o short-monotonic --no-pager _SYSTEMD_USER_UNIT=$UNIT + USER_UNIT=$UNIT > $R/unit-journal.txt 2>&1
journalctl -o short-monotonic --no-pager -b > $R/journal.txt 2>&1
echo done > $R/finished
sync
