#!/bin/sh
# Draws six desktops of real programs on an 854 x 480 Xvfb screen and captures each as a
# PNG into tests/data/desktops/ (or the folder given): the frames the codec benchmark
# compresses. Everything shown is made up here: file names, text, figures.
#
# Needs (Debian 12): xvfb xauth imagemagick xdotool xterm dbus mousepad gnumeric pcmanfm
#   netsurf-gtk supertux fonts-dejavu-core
# A capture depends on the programs' versions, fonts and timing, so a new run gives similar
# frames, not the same bytes.
set -eu
# One session bus for the GTK programs, so that none of them starts a bus of its own.
if [ -z "${KV_DESKTOPS_BUS:-}" ]; then
    KV_DESKTOPS_BUS=1 exec dbus-run-session -- "$0" "$@"
fi

ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${1:-$ROOT/tests/data/desktops}
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/kv-desktops.XXXXXX")
export HOME="$WORK/home" XDG_RUNTIME_DIR="$WORK/run" GSETTINGS_BACKEND=keyfile NO_AT_BRIDGE=1
mkdir -p "$HOME/.config/glib-2.0/settings" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# The editor as a programmer sets it up.
cat >"$HOME/.config/glib-2.0/settings/keyfile" <<'EOF'
[org/xfce/mousepad/preferences/view]
color-scheme='tango'
show-line-numbers=true
highlight-current-line=true
EOF

XVFB_PID=""
APP_PID=""
cleanup() {
    [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null || true
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

# Xvfb picks a free display and tells which.
Xvfb -displayfd 3 -screen 0 854x480x24 -nolisten tcp 3>"$WORK/display" >/dev/null 2>&1 &
XVFB_PID=$!
for _ in $(seq 50); do [ -s "$WORK/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$WORK/display")"

# start NAME COMMAND...: runs the program and fills the screen with its first window.
start() {
    name=$1
    shift
    "$@" >"$WORK/$name.log" 2>&1 &
    APP_PID=$!
    window=$(xdotool search --sync --onlyvisible --pid "$APP_PID" 2>/dev/null | head -1)
    xdotool windowmove "$window" 0 0 windowsize "$window" 854 480 windowfocus "$window"
}

# capture NAME SECONDS: waits for the program to settle, saves the screen, ends the program.
capture() {
    sleep "$2"
    import -window root -depth 8 "PNG24:$OUT/$1.png"
    kill "$APP_PID" 2>/dev/null || true
    wait "$APP_PID" 2>/dev/null || true
    APP_PID=""
    echo "$OUT/$1.png"
}

# --- made-up material ---------------------------------------------------------------
PROJECT="$HOME/lantern-works"
mkdir -p "$PROJECT/src" "$PROJECT/docs" "$PROJECT/maps" "$PROJECT/photos"
cat >"$PROJECT/src/tide_table.c" <<'EOF'
/* tide_table.c - high and low water for the Vell estuary gauges */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#define GAUGE_COUNT 6
#define HOURS_PER_DAY 24

struct gauge {
    const char *name;
    double mean_level;    /* metres above chart datum */
    double amplitude;     /* half the spring range */
    double phase_hours;   /* lag behind the harbour gauge */
};

static const struct gauge gauges[GAUGE_COUNT] = {
    {"Harbour Steps", 2.41, 1.87, 0.00},
    {"Ferry Ramp", 2.38, 1.79, 0.35},
    {"Salt Mill", 2.30, 1.62, 0.80},
    {"Osier Bend", 2.12, 1.31, 1.45},
    {"Lock Cottage", 1.96, 0.94, 2.10},
    {"Upper Weir", 1.74, 0.52, 2.95},
};

/* Water level at `hour` for one gauge: a semi-diurnal tide of 12.42 hours. */
static double level_at(const struct gauge *g, double hour)
{
    const double period = 12.42;
    double angle = 2.0 * M_PI * (hour - g->phase_hours) / period;
    return g->mean_level + g->amplitude * cos(angle);
}

int main(int argc, char **argv)
{
    int day = argc > 1 ? atoi(argv[1]) : 1;
    printf("Tide table, day %d\n", day);
    for (int i = 0; i < GAUGE_COUNT; ++i) {
        double highest = -1e9, lowest = 1e9;
        for (int h = 0; h < HOURS_PER_DAY * 4; ++h) {
            double level = level_at(&gauges[i], h / 4.0);
            if (level > highest)
                highest = level;
            if (level < lowest)
                lowest = level;
        }
        printf("%-14s high %5.2f m  low %5.2f m\n", gauges[i].name, highest, lowest);
    }
    return 0;
}
EOF
cat >"$PROJECT/README.txt" <<'EOF'
Lantern Works - survey notes for the Vell estuary
Gauges are read every fifteen minutes; see src/tide_table.c.
Maps: maps/estuary_north.svg, maps/estuary_south.svg
EOF
for f in docs/field_log_march.txt docs/field_log_april.txt docs/boat_checklist.txt \
    maps/estuary_north.svg maps/estuary_south.svg src/gauge_io.c src/gauge_io.h \
    src/Makefile docs/budget_2031.csv budget_2031.ods gauge_readings.csv survey_report.pdf \
    crew_rota.odt estuary_talk.odp boat_engine.log notes_from_ferry_ramp.md install.sh \
    salt_mill_interview.ogg lock_cottage_tour.webm readings_backup.tar.gz index.html; do
    printf 'Lantern Works survey file %s\n' "$f" >"$PROJECT/$f"
done
cp /usr/share/games/supertux2/images/background/antarctic/misty_snowhills_small.png \
    "$PROJECT/photos/snowhills_dawn.png"
convert /usr/share/games/supertux2/images/background/cloud_mountains/cloud-mountains-background.png \
    -resize 640x "$PROJECT/photos/cloud_ridge.jpg"
convert /usr/share/games/supertux2/images/background/forest/nighthills.png \
    -resize 640x "$PROJECT/photos/night_hills.jpg"
find "$PROJECT" -exec touch -d '2031-04-17 09:24' {} +

# --- 1. a terminal full of text ------------------------------------------------------
cat >"$WORK/session.sh" <<'EOF'
cd "$HOME/lantern-works"
run() {
    printf '\033[1;32msurveyor@vell\033[0m:\033[1;34m~/lantern-works\033[0m$ %s\n' "$*"
    "$@"
}
run ls -l --color=always src docs
run grep -n --color=always level src/tide_table.c
run wc -l src/tide_table.c README.txt docs/field_log_march.txt
run head -n 12 src/tide_table.c
printf '\033[1;32msurveyor@vell\033[0m:\033[1;34m~/lantern-works\033[0m$ '
sleep 600
EOF
start terminal xterm -fa 'DejaVu Sans Mono' -fs 9 -bg '#1d1f21' -fg '#d0d4d0' \
    -cr '#d0d4d0' -geometry 140x40+0+0 -e sh "$WORK/session.sh"
capture terminal 2

# --- 2. a text editor ----------------------------------------------------------------
# Not as root, which would add a warning bar that no user's screen has.
chmod -R a+rX "$WORK"
start editor setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env DBUS_SESSION_BUS_ADDRESS=disabled: mousepad "$PROJECT/src/tide_table.c"
capture editor 3

# --- 3. a spreadsheet ----------------------------------------------------------------
awk 'BEGIN {
    srand(2031)
    print "Week,Orchard,Crates,Apples (kg),Pears (kg),Plums (kg),Driver,Cost,Paid"
    split("Hollow Lane,Brindle Hill,Stonecross,Miller Ford,Ashby Row,Quince End", o, ",")
    split("Ada R.,Tomas V.,Ines K.,Orrin B.", d, ",")
    for (w = 1; w <= 40; ++w) {
        a = int(200 + rand() * 900); p = int(80 + rand() * 400); q = int(rand() * 250)
        printf "%d,%s,%d,%d,%d,%d,%s,%.2f,%s\n", w, o[1 + w % 6], int((a + p + q) / 18),
            a, p, q, d[1 + w % 4], (a + p + q) * 0.42, (w % 3 ? "yes" : "no")
    }
}' >"$WORK/orchard_deliveries.csv"
start spreadsheet gnumeric --no-splash "$WORK/orchard_deliveries.csv"
capture spreadsheet 4

# --- 4. a web page with pictures ------------------------------------------------------
cat >"$WORK/walks.html" <<'EOF'
<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Vell Valley Walks</title>
<style>
body { font-family: sans-serif; margin: 0; background: #f4f1ea; color: #222; }
header { background: #2f4f4f; color: #fff; padding: 10px 24px; }
header h1 { margin: 0; font-size: 22px; }
nav a { color: #cde; margin-right: 14px; font-size: 13px; }
main { padding: 12px 24px; }
.card { float: left; width: 240px; margin: 0 12px 12px 0; background: #fff;
        border: 1px solid #ccc; }
.card img { width: 240px; height: 135px; }
.card p { margin: 6px 8px; font-size: 12px; }
h2 { font-size: 17px; margin: 6px 0; }
</style></head>
<body>
<header><h1>Vell Valley Walks</h1>
<nav><a href="#">Routes</a><a href="#">Weather</a><a href="#">Huts</a><a href="#">Maps</a></nav>
</header>
<main>
<h2>Three walks for the first snow</h2>
<p>The ridge paths above Osier Bend open again this week. Each of the walks below starts
at the Salt Mill car park and comes back before dark, even in short winter days.</p>
<div class="card"><img src="snowhills_dawn.png"><p><b>Misty hills at dawn</b><br>
9 km, 420 m up. Frost on the north side until noon; bring spikes.</p></div>
<div class="card"><img src="cloud_ridge.jpg"><p><b>Cloud ridge</b><br>
14 km, 780 m up. The long way round the upper weir, with views to the estuary.</p></div>
<div class="card"><img src="night_hills.jpg"><p><b>Night hills</b><br>
6 km, 210 m up. A lantern walk on Fridays, led by the valley wardens.</p></div>
</main></body></html>
EOF
cp "$PROJECT/photos/"* "$WORK/"
start web_page netsurf-gtk "file://$WORK/walks.html"
capture web_page 5

# --- 5. a file manager ----------------------------------------------------------------
cp "$PROJECT/photos/"* "$PROJECT/"
start file_manager pcmanfm --no-desktop "$PROJECT"
capture file_manager 5

# --- 6. a game ------------------------------------------------------------------------
start game env SDL_AUDIODRIVER=dummy /usr/games/supertux2 --renderer sdl -g 854x480 -w \
    --disable-sound --disable-music /usr/share/games/supertux2/levels/world1/above_arctic_skies.stl
# The level's title card waits for a key; then Tux walks right for a while.
press() {
    xdotool keydown "$1"
    sleep "$2"
    xdotool keyup "$1"
}
sleep 4
press space 0.3
sleep 2
press Right 2.5
capture game 1
