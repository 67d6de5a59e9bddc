#!/usr/bin/env bash
# Installs what is missing, builds, creates the store if absent, and opens the
# window with the simulated device attached as COM1, and the trend viewer and
# the alarm service beside it. They and the simulator stop when the window
# closes.
set -euo pipefail
source "$(dirname "$0")/scripts/common.sh"

qf_install "${QF_PACKAGES[@]}"
qf_build "$QF_ROOT/build"

bin="$QF_ROOT/build/bin"
if [ ! -e "$bin/velk.mdb" ]; then
    qf_say "creating the store $bin/velk.mdb"
    "$bin/quillfern-store" create "$bin"
fi

# Without a display, open the window on a virtual one so the station still
# runs end to end (records are logged; nothing is seen).
display_wrap=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    qf_install xvfb xauth
    qf_say "no display found: the window opens on a virtual X display (xvfb-run)"
    display_wrap=(xvfb-run -a -s "-screen 0 1280x1024x24")
fi

# The simulated device takes COM1 unless an operator has mapped a real
# device there; then the first free COM port.
port=""
for n in $(seq 1 12); do
    link="$bin/COM$n"
    if { [ ! -e "$link" ] && [ ! -L "$link" ]; } || [[ "$(readlink "$link")" == /dev/pts/* ]]; then
        port=$n
        break
    fi
done
[ -n "$port" ] || { echo "COM1 to COM12 are all mapped to devices in $bin" >&2; exit 1; }

qf_say "starting the simulated device as COM$port"
"$bin/quillfern-devsim" --dir "$bin" --port "$port" &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT INT TERM

# Wait for the simulator to publish its port (at most 5 s).
for _ in $(seq 50); do
    [ -e "$bin/COM$port" ] && break
    kill -0 "$sim" 2>/dev/null || { echo "the simulated device did not start" >&2; exit 1; }
    sleep 0.1
done
[ -e "$bin/COM$port" ] || { echo "the simulated device did not publish COM$port" >&2; exit 1; }

if [ "$port" = 1 ]; then
    qf_say "opening the window: press START to see the values arrive"
else
    qf_say "opening the window: set COM to $port, then press START to see the values arrive"
fi
# The trend viewer opens beside the window and follows the records as they
# are logged; the alarm service runs beside them (its lines on this
# terminal, limits in quillfern.ini). Both stop when the window closes.
# Programs started with & by a shell ignore Ctrl-C, so the shells pass it
# on: Ctrl-C, or SIGTERM or SIGHUP to this script alone, stops the window and
# both of them too (the session runs in the background, so that this script's
# wait, unlike a command in the foreground, gives way to a signal at once).
qf_say "opening the trend viewer beside the window, the alarm service beside both"
"${display_wrap[@]}" bash -c '
    stop() { kill "$window" "$trend" "$alarms" 2>/dev/null; }
    trap stop INT TERM HUP
    "$0/quillfern" & window=$!
    "$0/quillfern-trend" "$0" & trend=$!
    "$0/quillfern-alarms" "$0" & alarms=$!
    wait "$window"; status=$?
    stop; wait
    exit "$status"' "$bin" &
session=$!
# Without a display the session is xvfb-run's: its children end it.
trap 'pkill -TERM -P "$session" 2>/dev/null || true; kill "$session" 2>/dev/null || true' INT TERM HUP
status=0
wait "$session" || status=$?
wait "$session" 2>/dev/null || true # after a signal: until the session has ended
exit "$status"
