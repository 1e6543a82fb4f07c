# What a desktop's test does inside its root, sourced by the desktop's script there, which
# starts its session, defines how its user answers the share dialog for the screen
# (answer_dialog) and for a window (answer_window), takes a screenshot (take_screenshot FILE)
# and stops a screen cast (stop_cast), and runs:
#
#   first    the dialog answered through the accessibility bus, with the choice remembered;
#            the wall's last picture (first.png) beside the session's screenshot (screen.png)
#            taken while the cast runs, for desktop_test.sh to compare, scaled
#   second   the kept restore token starts the cast with no dialog (second.png)
#   stopped  the desktop's own control stops the cast: one line, exit 2
#   window   one window of two colours shared: the wall shows it fitted between bars, and
#            again in its new shape once it is resized during the cast
work=/mnt/work mirror=/mnt/kvusb-mirror here=/mnt/source/tests/desktops
cd "$work" || exit 1
. /mnt/source/tests/wayland/wayland_session.sh
. /mnt/source/tests/wayland/mirror_runs.sh

pids=()
end_session_on_exit

# Seconds since the given start, to the millisecond.
elapsed() {
    local ms=$(( ($(date +%s%N) - $1) / 1000000 ))
    printf '%d.%03d' $((ms / 1000)) $((ms % 1000))
}

# A session of root's own with no systemd, the desktop's variables exported: the bus starts
# the desktop's portal backend with them, as a desktop session's would. And a stand-in
# system bus, which the compositor needs but never asks anything of here, and the folders
# without which WirePlumber takes the machine for one without logind and exits.
start_session_basics() {
    mkdir -p /run/dbus /run/systemd/seats /run/systemd/sessions /run/systemd/users \
        /run/systemd/machines /run/user/0
    chmod 700 /run/user/0
    cat > /tmp/system-bus.conf <<'CONF'
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <policy context="default">
    <allow send_destination="*"/><allow receive_sender="*"/><allow own="*"/>
  </policy>
</busconfig>
CONF
    dbus-daemon --config-file=/tmp/system-bus.conf --nofork > system-bus.log 2>&1 &
    session_pids+=($!)
    export XDG_RUNTIME_DIR=/run/user/0 XDG_CONFIG_HOME=$work/config XDG_SESSION_TYPE=wayland
    start_session_bus "$work"
    dbus-update-activation-environment --all
    start_pipewire "$work"
}

# first and second; the screenshot where the desktop's cast gives frames (take_screenshot).
dialog_and_token_runs() {
    local started answer
    # The top bar's clock must not turn between the screenshot and the wall's last picture.
    while declare -F take_screenshot > /dev/null && [ "$(date +%S)" -ge 45 ]; do sleep 1; done
    started=$(date +%s%N)
    answer_dialog > answer.out 2>&1 &
    answer=$!
    start_mirror first --virtual first.png --display-mode mirror --duration 5
    echo "first: showing $(elapsed "$started") s after the start"
    ends_within 30 "$answer" || fail "the dialog was not answered: $(cat answer.out)"
    cat answer.out
    if declare -F take_screenshot > /dev/null; then
        sleep 2
        take_screenshot screen.png || fail "no screenshot"
    fi
    ends_within 60 "$run_pid" || fail "the first run ended with $?"
    grep -q '^MirrorToken="..*"$' config/vorn_kvusb/settings || fail "no restore token was kept"

    # No one answers a dialog now: one would keep the run from starting.
    started=$(date +%s%N)
    start_mirror second --virtual second.png --display-mode mirror --duration 2
    echo "second: showing $(elapsed "$started") s after the start, with no dialog"
    ends_within 60 "$run_pid" || fail "the second run ended with $?"
}

stopped_run() {
    local started status
    start_mirror stopped --virtual stopped.png --duration 60
    sleep 1
    started=$(date +%s%N)
    stop_cast > stop.out 2>&1 || fail "the cast could not be stopped: $(cat stop.out)"
    for _ in $(seq 100); do kill -0 "$run_pid" 2>/dev/null || break; sleep 0.05; done
    ! kill -0 "$run_pid" 2>/dev/null || fail "the run went on without its screen cast"
    ends_within 60 "$run_pid"
    status=$?
    echo "stopped: ended $(elapsed "$started") s after the click"
    [ $status -eq 2 ] || fail "the stopped cast ended the run with $status"
    [ "$(sed -n 2p stopped.err)" = "kvusb-mirror: the screen cast was stopped" ] ||
        fail "not one line on the stopped cast: $(cat stopped.err)"
}

# A window of 400x300 fitted to 854x480 is 640x480 between bars of 107 pixels; resized to
# 640x240, it is 854x320 between bars of 80 pixels above and below.
window_run() {
    local started window answer
    GDK_BACKEND=wayland python3 "$here/two_colour_window.py" show 400 300 > window.out 2>&1 &
    window=$!
    pids+=("$window")
    wait_for window.out ready || fail "no window to share: $(cat window.out)"
    started=$(date +%s%N)
    # KDE's portal 5.27 now and then crashes as a window's cast starts (KCrash in the bus's
    # log, the request ended): a user would share again, and so the test does, once.
    for try in 1 2; do
        answer_window > answer.out 2>&1 &
        answer=$!
        "$mirror" --window --device virtual:out=window.ppm,out_every=100 --duration 60 \
            > window.out 2> window.err &
        run_pid=$!
        pids+=("$run_pid")
        wait_for window.err showing && break
        [ $try = 1 ] && grep -q "KCrash: Application Name = xdg-desktop-portal" bus.log ||
            fail "window did not start: $(cat window.err)"
        echo "window: the portal crashed; shared again"
        ends_within 30 "$answer"
        ends_within 30 "$run_pid"
    done
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
