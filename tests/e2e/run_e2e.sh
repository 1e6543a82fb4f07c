#!/bin/sh
# Runs the end-to-end tests: the Windows vorn_kvusb.exe under Wine, on an Xvfb display and in a
# Wine prefix of their own, against the virtual projector and the synthetic capture source.
#
#   run_e2e.sh <work dir> <artefacts dir> <e2e_tests.exe> <vorn_kvusb.exe> [gtest options]
#
# The prefix runs every program in a 1280 x 1024 virtual desktop (E2E_DESKTOP, "none" for the
# X screen itself), so that the program can switch it to 800 x 600 and back, and links Arial
# to fonts with Japanese and Arabic glyphs. E2E_DPI sets the display's DPI (96 by default).
# E2E_SCENE, when set, is a shell command started on the display before the tests (X programs
# for the program to capture). E2E_PREFIX_SETUP, when set, is a shell command run in the
# configured prefix before the tests (the projector below the program registers its units
# there: tests/below).
# Locales for the language runs are made under the work dir. The tests ask for screenshots
# by creating <name>.request in the artefacts dir; this script answers with <name>.png.
# Exits 77 (skipped) when Wine or Xvfb is missing.
set -u
work="$1"
artefacts="$2"
tests="$3"
program="$4"
shift 4
for tool in wine wineserver Xvfb import localedef; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool not found: skipped"; exit 77; }
done
mkdir -p "$work/runs" "$artefacts"
work="$(cd "$work" && pwd)"
artefacts="$(cd "$artefacts" && pwd)"
tests="$(cd "$(dirname "$tests")" && pwd)/$(basename "$tests")"
program="$(cd "$(dirname "$program")" && pwd)/$(basename "$program")"

# Wine takes the user's language from the locale of each process it starts, so a run in
# another language is a run of this script with E2E_LOCALE set (en_US.UTF-8 by default).
export LOCPATH="$work/locales"
for locale in en_US de_DE ja_JP ar_EG; do
    [ -d "$LOCPATH/$locale.UTF-8" ] && continue
    mkdir -p "$LOCPATH"
    localedef -i "$locale" -f UTF-8 "$LOCPATH/$locale.UTF-8" >/dev/null 2>&1 ||
        echo "localedef $locale failed"
done
export LC_ALL="${E2E_LOCALE:-en_US.UTF-8}"
export LANG="$LC_ALL"

# Xvfb takes a free display number itself and writes it to descriptor 3 once it accepts
# connections: a number picked here could be taken meanwhile by a server started alongside,
# which would then answer in ours' place.
rm -f "$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
shots=""
cleanup() {
    [ -n "$shots" ] && kill "$shots" 2>/dev/null
    wineserver -k >/dev/null 2>&1
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
}
trap cleanup EXIT INT TERM
for _ in $(seq 100); do
    grep -q . "$work/display" 2>/dev/null && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.1
done
grep -q . "$work/display" 2>/dev/null ||
    { echo "Xvfb did not start: skipped"; cat "$work/xvfb.log"; exit 77; }
display=":$(head -n1 "$work/display")"
export DISPLAY="$display"

# The pointer on the desktop, as on a PC: Xvfb leaves it at the centre of its screen, outside
# a smaller Wine desktop, and takes no move before a window is there. Wine 8's server, ending
# the threads of a program that ended itself from another thread, puts a pointer outside back
# inside the desktop outside any request, and crashes there (set_cursor_pos with no current
# thread). Looked at with the screenshots, and moved only when it is outside.
desktop_size="${E2E_DESKTOP:-1280x1024}"
pointer_on_desktop() {
    case "$desktop_size" in *x*) ;; *) return 0 ;; esac
    set -- $(xdotool getmouselocation 2>/dev/null | sed -n 's/^x:\([0-9]*\) y:\([0-9]*\) .*/\1 \2/p')
    [ $# -eq 2 ] || return 0
    [ "$1" -lt "${desktop_size%x*}" ] && [ "$2" -lt "${desktop_size#*x}" ] || xdotool mousemove 0 0
}

# Wine's own waits are bounded: a process of the prefix that stays, or a start that hangs,
# fails the run in one line rather than at ctest's limit.
settle() {
    timeout 120 wineserver -w ||
        { echo "FAIL: Wine's server still had processes 120 s after $1"; exit 1; }
}
# running PID: whether PID runs (a child that has ended is not reaped by every sh).
running() {
    [ -r "/proc/$1/status" ] && ! grep -q '^State:[[:space:]]*Z' "/proc/$1/status"
}
# The server of this prefix, once it runs: its environment names the prefix.
prefix_server() {
    for pid in $(pgrep -x wineserver64; pgrep -x wineserver); do
        tr '\0' '\n' < "/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" &&
            { echo "$pid"; return; }
    done
}

export WINEPREFIX="$work/prefix"
export WINEDEBUG="-all"
if [ ! -f "$WINEPREFIX/e2e-configured" ]; then
    timeout 300 wineboot -i >/dev/null 2>&1 || { echo "FAIL: the Wine prefix was not made"; exit 1; }
    cat >"$work/e2e.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]
"Arial"=hex(7):4e,00,6f,00,74,00,6f,00,53,00,61,00,6e,00,73,00,43,00,4a,00,4b,00,2d,00,52,00,\
  65,00,67,00,75,00,6c,00,61,00,72,00,2e,00,74,00,74,00,63,00,2c,00,4e,00,6f,00,74,00,6f,00,\
  20,00,53,00,61,00,6e,00,73,00,20,00,43,00,4a,00,4b,00,20,00,4a,00,50,00,00,00,4e,00,6f,00,\
  74,00,6f,00,53,00,61,00,6e,00,73,00,41,00,72,00,61,00,62,00,69,00,63,00,2d,00,52,00,65,00,\
  67,00,75,00,6c,00,61,00,72,00,2e,00,74,00,74,00,66,00,2c,00,4e,00,6f,00,74,00,6f,00,20,00,\
  53,00,61,00,6e,00,73,00,20,00,41,00,72,00,61,00,62,00,69,00,63,00,00,00,00,00
REG
    if [ "$desktop_size" != none ]; then
        printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\n"Desktop"="Default"\n' >>"$work/e2e.reg"
        printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\n"Default"="%s"\n' \
            "$desktop_size" >>"$work/e2e.reg"
    fi
    wine regedit "$(winepath -w "$work/e2e.reg")" >/dev/null 2>&1
    # The caption buttons' glyphs: Wine's own Marlett, which this packaging leaves out of the
    # prefix.
    for font in /usr/share/wine/fonts/marlett.ttf /usr/share/wine/fonts/tahoma*.ttf; do
        [ -f "$font" ] && cp "$font" "$WINEPREFIX/drive_c/windows/Fonts/"
    done
    settle "making the prefix"
    touch "$WINEPREFIX/e2e-configured"
fi

# The display's DPI for this run (E2E_DPI, 96 by default), in both places Wine reads it.
dpi="${E2E_DPI:-96}"
for key in 'HKCU\Control Panel\Desktop' 'HKCC\Software\Fonts'; do
    wine reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
done
settle "setting the DPI"

if [ -n "${E2E_PREFIX_SETUP:-}" ]; then
    sh -c "$E2E_PREFIX_SETUP" || { echo "the prefix setup failed"; exit 1; }
fi
# Where a projector below the program writes, and the file it takes each run's options from.
export E2E_WORK_UNIX="$work/runs"
if [ -n "${KVUSB_SG_PROJECTOR_FILE:-}" ]; then
    E2E_PROJECTOR_FILE="$(winepath -w "$KVUSB_SG_PROJECTOR_FILE")"
    export E2E_PROJECTOR_FILE
fi

if [ -n "${E2E_SCENE:-}" ]; then
    sh -c "$E2E_SCENE" >/dev/null 2>&1 &
    sleep 2
fi

# Screenshots on request, and the pointer kept on the desktop.
(
    while :; do
        for request in "$artefacts"/*.request; do
            [ -e "$request" ] || continue
            import -display "$display" -window root "${request%.request}.png" 2>/dev/null
            rm -f "$request"
        done
        pointer_on_desktop
        sleep 0.2
    done
) &
shots=$!

# The tests' server, started here without the projector that tests/below preloads into the
# programs: nothing of ours belongs in Wine's server, and only a program's own process sends
# SCSI commands. It stays until the cleanup ends it. Tried again for a few seconds: the server
# before it may still hold the prefix's lock for a moment after its end.
for _ in $(seq 50); do
    env -u LD_PRELOAD wineserver -p 2>/dev/null && server=$(prefix_server) && break
    sleep 0.1
done
[ -n "${server:-}" ] || { echo "FAIL: Wine's server did not start"; exit 1; }

# In the background, with the script's own input (a driver reads its commands there).
exec 3<&0
E2E_PROGRAM="$(winepath -w "$program")" \
    E2E_WORK="$(winepath -w "$work/runs")" \
    E2E_SHOTS="$(winepath -w "$artefacts")" \
    wine "$tests" "$@" <&3 3<&- &
tests_pid=$!
# A client of a server that crashed may wait for its answer for ever: the server's end while
# the tests run fails them at once.
while running "$tests_pid"; do
    if [ -n "$server" ] && ! running "$server"; then
        echo "FAIL: Wine's server (pid $server) ended while the tests ran"
        kill -KILL "$tests_pid" 2>/dev/null
        exit 1
    fi
    sleep 1
done
wait "$tests_pid"
