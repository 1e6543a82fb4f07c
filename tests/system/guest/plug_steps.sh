# The steps of the projector plugged into a booted Debian system, sourced by the guest's test
# for its desktop (plug_test.sh: X, plug_test_gnome.sh: GNOME on Wayland). What it finds goes
# to /mnt/share/results, where the host judges the pictures (system_test.sh).
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
R=/mnt/share/results
. /usr/local/lib/kvusb-test/deadline.sh
USER_NAME=mira
UNIT=kvusb-mirror.service
GADGET_DIR=/sys/kernel/config/usb_gadget/kvusb

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
unit_active() {
    pgrep -u $USER_NAME -x kvusb-mirror && [ "$(user_systemctl is-active $UNIT)" = active ]
}
unit_stopped() {
    ! pgrep -x kvusb-mirror && [ "$(user_systemctl is-active $UNIT)" = inactive ]
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
}

# Installs the packages and binds the projector, its frames to $R/frame.png; $gadget is its
# process, $started when it was bound.
plug_in() {
    dpkg -i /mnt/share/debs/*.deb > $R/dpkg-install.txt 2>&1 || { fail "dpkg -i failed"; return 1; }
    modprobe dummy_hcd
    modprobe usb_f_fs
    # Its own configfs gadget, bound now; unbound and bound again as a cable would.
    kvusb-gadget --projector "report=$R/report.txt,out=$R/frame.png" > $R/gadget.out 2> $R/gadget.err &
    gadget=$!
    started=$(uptime_s)
    wait_until 30 test -s "$GADGET_DIR/UDC" || { fail "kvusb-gadget did not bind"; return 1; }
    udc=$(cat "$GADGET_DIR/UDC")
}

replug() {
    touch /tmp/replugged
    started=$(uptime_s)
    echo "$udc" > "$GADGET_DIR/UDC"
}

# Runs the test's main, then leaves the journals and the mark of its end for the host.
run_and_report() {
    "$1" 2>&1 | tee $R/guest.log
    journalctl -o short-monotonic --no-pager _SYSTEMD_USER_UNIT=$UNIT + USER_UNIT=$UNIT > $R/unit-journal.txt 2>&1
    journalctl -o short-monotonic --no-pager -b > $R/journal.txt 2>&1
    echo done > $R/finished
    sync
}
