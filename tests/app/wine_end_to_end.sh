#!/bin/sh
# Runs the Windows vorn_kvusb.exe under Wine on an Xvfb display of its own, in a Wine prefix
# of its own, against the virtual projector and the synthetic capture source.
#   wine_end_to_end.sh <work dir> <app_wine_driver.exe> <vorn_kvusb.exe>
# Exits 77 (skipped) when Wine or Xvfb is missing.
set -u
work="$1"
driver="$2"
program="$3"
for tool in wine wineserver Xvfb; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool not found: skipped"; exit 77; }
done

mkdir -p "$work"
export WINEPREFIX="$work/prefix"
# The program's traces (OutputDebugStringA) come out on standard error.
export WINEDEBUG="-all,+debugstr"
display=""
for n in $(seq 91 119); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "no free X display: skipped"; exit 77; }
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
cleanup() {
    wineserver -k >/dev/null 2>&1
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
}
trap cleanup EXIT INT TERM
export DISPLAY="$display"
sleep 1
kill -0 "$xvfb" 2>/dev/null || { echo "Xvfb did not start: skipped"; cat "$work/xvfb.log"; exit 77; }

wineboot -i >/dev/null 2>&1
report="$work/report.txt"
# The projector's report, named as the Windows side sees the file.
export VORN_KVUSB_DEVICE="virtual:link=2.0,report=Z:$report"
export VORN_KVUSB_CAPTURE="synthetic"
traces="$work/traces.log"
wine "$driver" "$program" "Z:$report" 2>"$traces"
status=$?
echo "--- projector report"
head -n 4 "$report" 2>/dev/null

# One instance traced its start (the second one traced nothing), and the normal end traced
# its steps in order.
echo "--- traces of the end"
grep -o 'OutputDebugStringA ".*"' "$traces" | sed 's/^OutputDebugStringA //' >"$work/trace_lines.txt"
started=$(grep -c '^"vorn_kvusb started!\\n"$' "$work/trace_lines.txt")
echo "started traced $started time(s)"
[ "$started" -eq 1 ] || status=1
expected='"return from CreateMyWindow!\n"
"SetDisplaySettings - nDispMode: 0x1, nZoomMode: 0x0\n"
" KVCapAPI_Close success\n"
" KVCapAPI_Release success\n"
" KVCapAPI_Uninitialize success\n"
"vorn_kvusb end!\n"'
ended=$(sed -n '/^"return from CreateMyWindow!\\n"$/,$p' "$work/trace_lines.txt" |
    grep -v -e 'frame cost' -e 'Frame rate' -e 'DevErrTimerProc')
printf "%s\n" "$ended"
if [ "$ended" = "$expected" ]; then echo "ok: the end traced in order"; else echo "FAILED: the end's traces"; status=1; fi
exit $status
