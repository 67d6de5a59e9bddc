#!/usr/bin/env bash
# Takes docs/screenshot.png from the real program: a fresh store, the
# simulated device as COM1, the window on a virtual X display, START, and a
# few seconds of frames. Needs Xvfb, xdotool and ImageMagick's import.
#   docs/screenshot.sh [BUILD_DIR]     (default: build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="$(cd "${1:-$root/build}" && pwd)/bin"
out="$root/docs/screenshot.png"

work="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The application's directory: the program, its store and the device link.
cp "$bin/quillfern" "$work/"
"$bin/quillfern-store" create "$work"
"$bin/quillfern-devsim" --dir "$work" --port 1 --interval 150 --seed 7 2>/dev/null &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/COM1" ] && break; sleep 0.1; done

display=":$((100 + RANDOM % 400))"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null &
pids+=($!)
export DISPLAY="$display"
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

"$work/quillfern" 2>/dev/null &
pids+=($!)
window="$(xdotool search --sync --onlyvisible --name '^Quillfern$' | head -n 1)"
# START: 720, 508 in the window's client area (the Communication frame).
xdotool mousemove --window "$window" 720 508 click 1
sleep 6
import -window "$window" "$out"
echo "wrote $out"
