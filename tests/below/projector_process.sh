#!/bin/bash
# Runs a command with the virtual projector in a process of its own beside it: PROJECTOR
# (kvusb_sg_projector) listening on $KVUSB_SG_SERVER, its pid then in $KVUSB_SG_SERVER.pid and
# what it says at its end in $KVUSB_SG_SERVER.out; the command runs in place of this script
# once the projector listens, and the projector process ends with it.
#   projector_process.sh PROJECTOR -- COMMAND [ARGS...]
set -eu
projector=$1
shift 2
rm -f "$KVUSB_SG_SERVER"
"$projector" "$KVUSB_SG_SERVER" > "$KVUSB_SG_SERVER.out" &
echo $! > "$KVUSB_SG_SERVER.pid"
for _ in $(seq 500); do
    [ -S "$KVUSB_SG_SERVER" ] && exec "$@"
    kill -0 $! 2>/dev/null || break
    sleep 0.01
done
echo "projector_process.sh: no projector process listens on $KVUSB_SG_SERVER" >&2
exit 1
