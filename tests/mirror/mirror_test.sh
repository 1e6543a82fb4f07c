#!/bin/bash
# kvusb-mirror run as a user runs it, against the virtual projector, on an X server of the
# test's own. One scenario a run:
#   mirror_test.sh SCENARIO MIRROR KVUSBTOOL HELPER RECORDER WORK_DIR
# picture   what the projector shows is the screen, scaled as an independent capture scales it
# modes     the display mode and zoom given once are kept for the next run; 800x600 comes and goes
# sigterm   SIGTERM ends the run through the full shutdown, settings written, desktop restored
# crash     a crash puts the desktop back before the process dies
# unplug    the virtual projector vanishing ends the run through the device-loss shutdown
# linkerrors  100 failed frames in a row end the run through the full shutdown
# errors    bad usage, no display, no projector, a second instance of the user's: one line
#           each, exit codes; a run of another runtime directory (user) is not refused
# faults    an overheated projector gives one notice on the session bus and one line
# grab      kvusbtool grab saves the frame the projector would get, at each zoom
# control   --control from the same user changes the running wall (blank, live, freeze, flip)
#           and says so; another user is refused, by the socket's modes or by its credentials
# window    --window ID shows that window alone, fitted with bars, under what covers it and as it
#           moves; --control window=desktop|pick|ID; the window closed: one line, the desktop back
# Exit code 77 (skipped) where Xvfb or another tool the scenario needs is missing.
# With MIRROR_BELOW naming the preloadable library of tests/below, the program runs unchanged
# on a machine of its own (tests/below/fake_machine.sh), the virtual projector at its sg nodes;
# MIRROR_OPTICAL (sr or sd) names the driver bound to its optical unit there; MIRROR_FORWARD,
# naming kvusb_sg_projector, puts the projector in that process of its own, the library
# forwarding each request to it.
set -u
scenario=$1 mirror_program=$2 tool=$3 helper=$4 recorder=$5 work=$6
below=${MIRROR_BELOW:-} forward=${MIRROR_FORWARD:-}
machine="$(cd "$(dirname "$0")/../below" && pwd)/fake_machine.sh"
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
# A runtime directory of the test's own, as each user has: runs of other tests or users,
# each in theirs, are not this run's instances.
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
unset VORN_KVUSB_DEVICE VORN_KVUSB_CAPTURE DBUS_SESSION_BUS_ADDRESS
settings="$XDG_CONFIG_HOME/vorn_kvusb/settings"
. "$(dirname "$0")/../support/deadline.sh"

pids=()
cleanup() {
    end_all "${pids[@]}"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    for file in *.err; do [ -f "$file" ] && { echo "--- $file" >&2; tail -n 40 "$file" >&2; }; done
    exit 1
}
need() {
    local program
    for program in "$@"; do
        command -v "$program" >/dev/null || { echo "skipped: $program is not installed"; exit 77; }
    done
}

# Xvfb on a display number it finds free itself and writes to descriptor 3 once it accepts
# connections (a number chosen here could be taken by a test running alongside, whose server
# would then answer in ours' place); DISPLAY set for what follows.
start_x() {
    need Xvfb xdpyinfo
    local ready="$work/display"
    rm -f "$ready"
    Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp -br -noreset 3>"$ready" >/dev/null 2>&1 &
    local pid=$!
    local tries
    for tries in $(seq 200); do
        kill -0 "$pid" 2>/dev/null || break
        if grep -q . "$ready" 2>/dev/null; then
            pids+=("$pid")
            export DISPLAY=":$(head -n1 "$ready")"
            return 0
        fi
        sleep 0.05
    done
    kill "$pid" 2>/dev/null
    fail "no Xvfb would start"
}

screen_size() {
    xdpyinfo | sed -n 's/ *dimensions: *\([0-9]*x[0-9]*\) pixels.*/\1/p'
}

# Gives the screen an 800x600 mode, as a monitor offering it would.
offer_800x600() {
    "$helper" offer-mode 800x600 > helper.out &
    pids+=($!)
    for _ in $(seq 100); do grep -q ready helper.out 2>/dev/null && return 0; sleep 0.05; done
    fail "the 800x600 mode was not offered"
}

expect_settings() {
    local text
    text=$(grep -v '^#' "$settings" 2>/dev/null | tr '\n' ' ')
    [ "$text" = "[Software\\K7Q0KVUSB] DispMode=$1 FlipMode=${3:-0} ZoomMode=$2 " ] ||
        fail "settings hold '$text', not DispMode=$1 ZoomMode=$2 FlipMode=${3:-0}"
}

# Waits until the file holds the text; false after 15 s.
wait_for() {
    for _ in $(seq 300); do grep -qF -- "$2" "$1" 2>/dev/null && return 0; sleep 0.05; done
    return 1
}

# A copy of the projector's picture as two reads in a row agree on it: the virtual projector
# rewrites the file in place.
snapshot() {  # picture, copy
    for _ in $(seq 20); do
        cp "$1" "$2" && sleep 0.02 && cmp -s "$1" "$2" && return 0
    done
    fail "the projector's picture never held still"
}

# kvusb-mirror in place of the calling (sub)shell. Below, the options that make the virtual
# projector (--device virtual:..., --virtual) go to the one at the sg nodes instead.
mirror() {
    [ -n "$below" ] || exec "$mirror_program" "$@"
    local args=() options="" projectors=1 device
    while [ $# -gt 0 ]; do
        case "$1" in
        --device) device=${2#virtual} options="$options,${device#:}" && shift ;;
        --virtual) options="$options,out=$2" && shift ;;
        *) args+=("$1") ;;
        esac
        shift
    done
    case "$options" in *projectors=0*) projectors=0 ;; esac
    local program=("$mirror_program")
    if [ -n "$forward" ]; then
        export KVUSB_SG_SERVER="$work/projector.sock"
        program=(bash "$(dirname "$machine")/projector_process.sh" "$forward" -- "${program[@]}")
    fi
    KVUSB_SG_PROJECTOR="${options#,}" exec bash "$machine" --preload "$below" \
        --projectors "$projectors" --optical "${MIRROR_OPTICAL:-sr}" -- \
        "${program[@]}" "${args[@]}"
}

# Runs kvusb-mirror: stdout to $1.out, stderr to $1.err, exit code in $status.
run() {
    local name=$1
    shift
    (mirror "$@") > "$name.out" 2> "$name.err"
    status=$?
}

# A picture with edges and gradients on the whole screen, the pointer in the last corner.
show_picture() {
    need convert display import compare xdotool
    start_x 1920x1080
    convert -size 1920x1080 gradient:'#ff2000-#0040ff' \
        -fill white -draw 'rectangle 300,200 900,640' \
        -fill '#20c060' -draw 'circle 1400,500 1400,760' \
        -fill black -draw 'rectangle 1000,900 1919,1000' screen.png || fail "no picture"
    display -window root screen.png  # its exit code says nothing; the comparisons will
    xdotool mousemove 1919 1079
}

# The projector's frame against an independent capture of the screen, averaged down to
# SIZE (convert's -scale averages areas too) and cut to the projector's window at OFFSET.
# Pixels may differ by 1% where the rounding does; the cursor covers a few.
expect_frame() {  # frame, size, offset
    [ -f captured.png ] || import -window root captured.png
    convert captured.png -scale "$2!" -crop "854x480+$3" +repage expected.png
    differing=$(compare -metric AE -fuzz 1% "$1" expected.png null: 2>&1)
    [ "${differing%% *}" -le 40 ] 2>/dev/null ||
        fail "$1: $differing pixels differ from the independent capture"
    echo "$1: $differing of 409920 pixels differ by more than 1% from the independent capture"
}

case "$scenario" in
picture)
    show_picture
    run picture --virtual shown.png --device virtual:report=report.txt \
        --display-mode mirror --zoom original --duration 3
    [ "$status" -eq 0 ] || fail "exit code $status"
    [ ! -s picture.out ] && [ ! -s picture.err ] || \
        [ "$(wc -l < picture.err)" -eq 1 ] || fail "more than the start line was printed"
    frames=$(sed -n 's/.*frames_bank0=\([0-9]*\) frames_bank1=\([0-9]*\).*/\1 \2/p' report.txt)
    read -r bank0 bank1 <<< "$frames"
    [ $((bank0 + bank1)) -ge 10 ] || fail "only $((bank0 + bank1)) frames shown in 3 s"
    grep -q "protocol_errors 0" report.txt || fail "protocol errors: $(cat report.txt)"
    expect_frame shown.png 854x480 0+0
    # and, in every pixel, the frame the capture source gives for the same screen
    "$tool" grab source.png 2> grab.err || fail "grab failed: $(cat grab.err)"
    differing=$(compare -metric AE shown.png source.png null: 2>&1)
    [ "$differing" = 0 ] || fail "$differing pixels differ from the captured frame"
    expect_settings 0 0
    ;;
modes)
    start_x 1920x1080
    offer_800x600
    mirror --virtual shown.png --display-mode 800x600 --zoom 1 --duration 3 -v \
        > first.out 2> first.err &
    pid=$!
    wait_for first.err "showing display" || fail "the first run did not start"
    [ "$(screen_size)" = 800x600 ] || fail "the screen is $(screen_size) while running"
    ends_within 60 "$pid" || fail "the first run ended with $?"
    [ "$(screen_size)" = 1920x1080 ] || fail "the screen stayed $(screen_size)"
    expect_settings 1 1
    mirror --virtual shown.png --duration 2 -v > second.out 2> second.err &
    pid=$!
    wait_for second.err "showing display" || fail "the second run did not start"
    [ "$(screen_size)" = 800x600 ] || fail "the saved 800x600 was not applied"
    ends_within 60 "$pid" || fail "the second run ended with $?"
    grep -qx "1136, 480" second.err || fail "the saved zoom 1 was not applied"
    grep -qx "SetDisplaySettings - nDispMode: 0x1, nZoomMode: 0x1" second.err ||
        fail "the second run did not save the same modes"
    [ "$(screen_size)" = 1920x1080 ] || fail "the screen stayed $(screen_size)"
    ;;
sigterm)
    start_x 1920x1080
    offer_800x600
    mirror --virtual shown.png --display-mode 800x600 -v > run.out 2> run.err &
    pid=$!
    for _ in $(seq 300); do [ -s shown.png ] && break; sleep 0.05; done
    [ -s shown.png ] || fail "no frame was shown"
    kill -TERM "$pid"
    ends_within 60 "$pid"
    status=$?
    [ "$status" -eq 0 ] || fail "SIGTERM ended it with $status"
    grep -qx "RunLoop: signal 15 (Terminated), will stop vorn_kvusb!" run.err ||
        fail "the signal was not traced"
    tail -n 1 run.err | grep -qx "vorn_kvusb end!" || fail "the full shutdown did not end it"
    grep -q "KVCapAPI_Uninitialize success" run.err || fail "the capture library was not shut"
    expect_settings 1 0
    [ "$(screen_size)" = 1920x1080 ] || fail "the screen stayed $(screen_size)"
    ;;
crash)
    start_x 1920x1080
    offer_800x600
    mirror --virtual shown.png --display-mode 800x600 > run.out 2> run.err &
    pid=$!
    wait_for run.err "showing display" || fail "the run did not start"
    [ "$(screen_size)" = 800x600 ] || fail "the screen is $(screen_size) while running"
    kill -SEGV "$pid"
    ends_within 60 "$pid"
    status=$?
    [ "$status" -eq $((128 + 11)) ] || fail "the crash ended it with $status"
    [ "$(screen_size)" = 1920x1080 ] || fail "the screen stayed $(screen_size) after a crash"
    ;;
unplug)
    start_x 1920x1080
    offer_800x600
    # The device-loss end exits from the sender thread while the capture threads run on; a
    # sanitized build's leak check at exit cannot stop them safely and crashes now and then.
    export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
    run unplug --device virtual:vanish_after=120 --display-mode 800x600 --zoom 2 -v
    [ "$status" -eq 0 ] || fail "exit code $status"
    # Below, the kernel fails the slice in flight at the host adapter first: one link error,
    # traced without a line break.
    grep -qx "\(SCSI Error: 5  \)\?ERROR_DEVICE_NOT_CONNECTED, vorn_kvusb end!!!" unplug.err ||
        fail "the device loss was not traced"
    grep -qx "kvusb-mirror: the projector is gone (unplugged?)" unplug.err ||
        fail "the user was not told"
    grep -q "KVCapAPI_Uninitialize" unplug.err && fail "the device-loss path released capture"
    expect_settings 1 2
    [ "$(screen_size)" = 1920x1080 ] || fail "the screen stayed $(screen_size)"
    ;;
linkerrors)
    start_x 1920x1080
    offer_800x600
    run linkerrors --device virtual:fail_next=100000:5@12 --display-mode 800x600 -v
    [ "$status" -eq 0 ] || fail "exit code $status"
    # The failed writes' traces have no line break, so the end trace may follow on their line.
    grep -q "USB Link error, vorn_kvusb end!!!$" linkerrors.err || fail "no link-error end"
    grep -qx "kvusb-mirror: stopped after 100 failed frames in a row" linkerrors.err ||
        fail "the user was not told"
    grep -q "KVCapAPI_Uninitialize success" linkerrors.err || fail "the full shutdown did not run"
    grep -qx "vorn_kvusb end!" linkerrors.err || fail "the shutdown did not end"
    expect_settings 1 0
    [ "$(screen_size)" = 1920x1080 ] || fail "the screen stayed $(screen_size)"
    ;;
errors)
    expect_line() {  # the run's name, the exit code expected, the one line expected
        [ "$status" -eq "$2" ] || fail "$1: exit code $status, not $2"
        [ "$(cat "$1.err")" = "$3" ] || fail "$1: printed '$(cat "$1.err")', not '$3'"
    }
    run usage --bogus
    expect_line usage 2 "kvusb-mirror: unknown option --bogus (try kvusb-mirror --help)"
    run zoom --display-mode mirror --zoom 2
    expect_line zoom 2 "kvusb-mirror: --zoom 2 needs --display-mode 800x600"
    DISPLAY= run nodisplay
    expect_line nodisplay 2 "kvusb-mirror: no X display: DISPLAY is not set"
    DISPLAY=:1999 run deaddisplay
    expect_line deaddisplay 2 "kvusb-mirror: cannot open the X display :1999"
    start_x 854x480
    if [ -z "$below" ]; then  # below, the projector's options are not the program's
        run badvirtual --device virtual:speed=2
        [ "$status" -eq 2 ] && [ "$(wc -l < badvirtual.err)" -eq 1 ] &&
            grep -q "^kvusb-mirror: the virtual projector: unknown option 'speed'" badvirtual.err ||
            fail "a bad virtual projector: $status, $(cat badvirtual.err)"
    fi
    run nomode --virtual shown.png --display-mode 800x600 --duration 0.5 -q
    expect_line nomode 0 "kvusb-mirror: warning: the primary monitor offers no 800x600 mode"
    run none --device virtual:projectors=0
    expect_line none 1 \
        "kvusb-mirror: no projector found (no KVUSB TR40W17B6 units among the disk interfaces)"
    run nolink --device virtual:link=none
    expect_line nolink 1 "kvusb-mirror: no projector with a working USB link found"
    mirror --virtual first.png --display-mode mirror -q > first.out 2> first.err &
    first=$!
    pids+=("$first")
    for _ in $(seq 300); do [ -s first.png ] && break; sleep 0.05; done
    run second --virtual second.png
    expect_line second 0 "kvusb-mirror: already running"
    # Another user's run, or another test's, keeps its own runtime directory.
    mkdir -m 0700 other
    XDG_RUNTIME_DIR="$work/other" run other --virtual other.png --display-mode mirror --duration 0.5 -q
    [ "$status" -eq 0 ] && [ ! -s other.err ] && [ -s other.png ] ||
        fail "a run with a runtime directory of its own: $status, $(cat other.err)"
    kill -INT "$first"
    ends_within 60 "$first" || fail "SIGINT ended the first one with $?"
    [ ! -s first.err ] || fail "--quiet printed: $(cat first.err)"
    ;;
faults)
    need dbus-daemon
    start_x 854x480
    # A session with no bus: the warning is printed, and no bus is launched for the session
    # (libdbus's attempt, which fails here, leaks: the sanitizers' build ends with 1).
    run nobus --device virtual:fault=1 --display-mode mirror --duration 1.5
    [ "$status" -eq 0 ] && grep -qx "kvusb-mirror: warning: Projector Overheated." nobus.err ||
        fail "with no session bus: exit code $status, $(cat nobus.err)"
    dbus-daemon --session --nofork --print-address=3 3> bus.address 2> bus.err &
    pids+=($!)
    for _ in $(seq 100); do [ -s bus.address ] && break; sleep 0.05; done
    DBUS_SESSION_BUS_ADDRESS=$(head -n 1 bus.address)
    export DBUS_SESSION_BUS_ADDRESS
    "$recorder" notices.log > recorder.out &
    pids+=($!)
    wait_for recorder.out ready || fail "no notification service"
    run faults --device virtual:fault=1 --display-mode mirror --duration 3.5
    [ "$status" -eq 0 ] || fail "exit code $status"
    [ "$(grep -c "warning" faults.err)" -eq 1 ] &&
        grep -qx "kvusb-mirror: warning: Projector Overheated." faults.err ||
        fail "not one warning line: $(cat faults.err)"
    wait_for notices.log "Tarq Projira" || fail "no notice came"
    [ "$(cat notices.log)" = "Tarq Projira|Projector Overheated.|2" ] ||
        fail "the notices were: $(cat notices.log)"
    ;;
grab)
    show_picture
    "$tool" grab original.png 2> grab.err || fail "grab failed"
    "$tool" grab zoom1.png --zoom 1 2>> grab.err || fail "grab --zoom 1 failed"
    "$tool" grab zoom2.png --zoom 2 2>> grab.err || fail "grab --zoom 2 failed"
    expect_frame original.png 854x480 0+0
    expect_frame zoom1.png 1136x480 141+0
    expect_frame zoom2.png 854x848 0+184
    DISPLAY= "$tool" grab none.png 2> nodisplay.err && fail "grab without a display succeeded"
    grep -qx "kvusbtool grab: no frame of the desktop came (kvcap: cannot open the X display (DISPLAY is not set))" \
        nodisplay.err || fail "grab without a display said: $(cat nodisplay.err)"
    ;;
control)
    [ "$(id -u)" = 0 ] || { echo "skipped: other users' processes need root"; exit 77; }
    need setpriv
    show_picture
    user=65534 stranger=65533
    home="$work/user"
    mkdir -p "$home/runtime" && chmod 0700 "$home/runtime" && chown -R "$user:$user" "$home"
    as() {  # as UID COMMAND...: with the user's runtime and settings
        local uid=$1
        shift
        exec setpriv --reuid="$uid" --regid="$uid" --clear-groups \
            env XDG_RUNTIME_DIR="$home/runtime" XDG_CONFIG_HOME="$home/config" "$@"
    }
    control() { (as "$user" "$mirror_program" --control "$1") > control.out 2> control.err; }
    black() {
        snapshot "$home/shown.ppm" now.ppm && [ "$(convert now.ppm -format '%[fx:maxima]' info:)" = 0 ]
    }
    frozen() { snapshot "$home/shown.ppm" now.ppm && cmp -s now.ppm frozen.ppm; }
    control status
    [ $? -eq 3 ] && grep -qx "kvusb-mirror: not running" control.err ||
        fail "with none running: $(cat control.err)"

    (as "$user" "$mirror_program" --device "virtual:out=$home/shown.ppm,out_every=50" \
        --blank --flip vertical -v) > run.out 2> run.err &
    pid=$!
    pids+=("$pid")
    socket="$home/runtime/kvusb-mirror/control"
    for _ in $(seq 300); do [ -S "$socket" ] && [ -s "$home/shown.ppm" ] && break; sleep 0.05; done
    [ -S "$socket" ] || fail "no control socket"
    [ "$(stat -c '%a %u' "$(dirname "$socket")") $(stat -c '%a %u' "$socket")" = \
        "700 $user 600 $user" ] || fail "modes: $(ls -la "$(dirname "$socket")")"
    control status || fail "status: $(cat control.err)"
    [ "$(cat control.out)" = $'wall: blank\nflip: vertical\nwindow: desktop' ] ||
        fail "status said: $(cat control.out)"
    black || fail "the wall was not black while blank"

    control live && [ "$(head -n1 control.out)" = "wall: live" ] || fail "live: $(cat control.*)"
    for _ in $(seq 100); do black || break; sleep 0.05; done
    sleep 0.3
    import -window root captured.png
    convert captured.png -scale '854x480!' -flip expected.png
    snapshot "$home/shown.ppm" now.ppm
    differing=$(compare -metric AE -fuzz 1% now.ppm expected.png null: 2>&1)
    [ "${differing%% *}" -le 40 ] 2>/dev/null || fail "flipped: $differing pixels differ"

    control freeze && [ "$(head -n1 control.out)" = "wall: frozen" ] ||
        fail "freeze: $(cat control.*)"
    sleep 0.3
    snapshot "$home/shown.ppm" frozen.ppm
    convert -size 1920x1080 xc:'#3060a0' other.png && display -window root other.png
    sleep 1
    frozen || fail "the frozen wall changed"
    control freeze || fail "unfreeze: $(cat control.err)"
    [ "$(head -n1 control.out)" = "wall: live" ] || fail "unfreeze said: $(cat control.out)"
    for _ in $(seq 100); do frozen || break; sleep 0.05; done
    frozen && fail "unfrozen, the wall kept the old picture"

    # Root passes the socket's modes; its credentials are another user's.
    XDG_RUNTIME_DIR="$home/runtime" "$mirror_program" --control blank > root.out 2> root.err
    [ $? -eq 2 ] && grep -qx "kvusb-mirror: refused" root.err || fail "root: $(cat root.*)"
    (as "$stranger" "$mirror_program" --control blank) > stranger.out 2> stranger.err
    [ $? -eq 2 ] && grep -q "Permission denied" stranger.err || fail "stranger: $(cat stranger.*)"
    control status && [ "$(head -n1 control.out)" = "wall: live" ] || fail "a refused command acted"
    control bogus
    [ $? -eq 2 ] || fail "a bad command was taken"

    kill -TERM "$pid"
    ends_within 60 "$pid" || fail "the run ended with $?"
    [ ! -e "$socket" ] || fail "the socket was left behind"
    settings="$home/config/vorn_kvusb/settings"
    expect_settings 1 0 2  # a first run's 800x600, kept as the mode though not offered
    ;;
window)
    need xdotool convert compare
    start_x 1280x720
    xdotool mousemove 1279 719  # where no window comes, so no pointer is drawn over one
    control() { "$mirror_program" --control "$1" > control.out 2> control.err; }
    helper_window() {  # name, helper's arguments: the window's ID in $window
        "$helper" "${@:2}" > "$1.out" &
        pids+=($!)
        wait_for "$1.out" ready || fail "no $1 window"
        window=$(awk '{ print $2 }' "$1.out")
    }
    helper_window moving animate  # 200x200, all over the screen
    moving=$window
    helper_window still window 300x300+500+200  # above the moving one where they meet
    still=$window
    pid_still=${pids[-1]}
    # Either window fills a square of 480 in the middle: 200 or 300 pixels high, fitted. The
    # whole desktop is black at the square's top-left, where the moving window never comes.
    convert -size 854x480 xc:black -fill '#20c060' -draw 'rectangle 187,0 666,479' box.ppm
    # Waits until a copy of the picture makes the command print 0; a copy made while the file
    # is rewritten is taken again.
    picture_gives_0() {
        for _ in $(seq 300); do
            cp shown.ppm now.ppm && [ "$("$@" 2>&1)" = 0 ] && return 0
            sleep 0.05
        done
        return 1
    }
    shows_box() { picture_gives_0 compare -metric AE now.ppm box.ppm null:; }
    shows_desktop() {
        picture_gives_0 convert now.ppm -crop 1x1+190+5 -format '%[fx:maxima]' info:
    }

    run nowindow --window 0x1 --device virtual:out=none.ppm
    [ "$status" -eq 2 ] && [ "$(cat nowindow.err)" = "kvusb-mirror: --window: no window 0x1 on the display" ] ||
        fail "--window 0x1: $status, $(cat nowindow.err)"
    mirror --device virtual:out=shown.ppm,out_every=5 --display-mode mirror --window "$moving" \
        > run.out 2> run.err &
    pid=$!
    pids+=("$pid")
    for _ in $(seq 300); do [ -s shown.ppm ] && break; sleep 0.05; done
    [ -s shown.ppm ] || fail "nothing was shown"
    shows_box || fail "the moving window was not shown alone, fitted"
    grep -q "^kvusb-mirror: showing the window $moving of display :" run.err ||
        fail "the start line: $(cat run.err)"
    control status && [ "$(sed -n 3p control.out)" = "window: $moving" ] ||
        fail "status: $(cat control.*)"

    control window=desktop && [ "$(sed -n 3p control.out)" = "window: desktop" ] ||
        fail "window=desktop: $(cat control.*)"
    shows_desktop || fail "the desktop did not come back"
    control window=0x1
    [ $? -eq 2 ] && grep -qx "kvusb-mirror: no such window on the display" control.err ||
        fail "window=0x1: $(cat control.*)"

    "$mirror_program" --control window=pick > pick.out 2> pick.err &
    picking=$!
    wait_for pick.err "click the window" || fail "no prompt to pick: $(cat pick.err)"
    xdotool mousemove 650 350 click 1 mousemove 1279 719
    ends_within 60 "$picking" && [ "$(sed -n 3p pick.out)" = "window: $still" ] ||
        fail "the window clicked was not picked: $(cat pick.*)"
    shows_box || fail "the picked window was not shown"

    kill "$pid_still"
    wait_for run.err "closed" || fail "the closed window was not noticed"
    sleep 1.1  # past the loop's once-a-second turn: still one line
    [ "$(grep -c "" run.err)" -eq 2 ] &&
        [ "$(sed -n 2p run.err)" = "kvusb-mirror: the window was closed; showing the whole desktop again" ] ||
        fail "not one line for the closed window"
    control status && [ "$(sed -n 3p control.out)" = "window: desktop" ] ||
        fail "after the close: $(cat control.*)"
    shows_desktop || fail "the desktop did not come back after the close"
    kill -TERM "$pid"
    ends_within 60 "$pid" || fail "the run ended with $?"
    ;;
*)
    fail "unknown scenario $scenario"
    ;;
esac
echo "passed: $scenario"
