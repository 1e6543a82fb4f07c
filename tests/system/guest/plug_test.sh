#!/bin/sh
# The projector plugged into a booted Debian system, run by root once the user's session is
# up: installs the packages with dpkg, plays the projector with kvusb-gadget on dummy_hcd, and
# follows the chain step by step: the nodes' access list, the user unit started by udev, the
# session's desktop on the projector, the unplug, the replug, and the purge. What it finds goes
# to /mnt/share/results, where the host judges the pictures (system_test.sh).
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
R=/mnt/share/results
USER_NAME=mira
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
    runuser -u $USER_NAME -- env XDG_RUNTIME_DIR=/run/user/$(id -u $USER_NAME) systemctl --user "$@"
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
nodes_grant_user() {
    local node
    for node in $(projector_nodes); do
        getfacl -p "/dev/$node" | grep -qx "user:$USER_NAME:rw-" || return 1
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
    wait_until 10 nodes_grant_user || fail "$name: the projector's nodes do not grant $USER_NAME access"
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
    wait $gadget
}

main 2>&1 | tee $R/guest.log
journalctl -o short-monotonic --no-pager _SYSTEMD_USER_UNIT=$UNIT + USER_UNIT=$UNIT > $R/unit-journal.txt 2>&1
journalctl -o short-monotonic --no-pager -b > $R/journal.txt 2>&1
echo done > $R/finished
sync
