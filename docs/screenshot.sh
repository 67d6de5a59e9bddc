#!/usr/bin/env bash
# Takes docs/screenshot.png from the real program: a fresh store, the
# simulated device as COM1, the window on a virtual X display, START, and a
# few seconds of frames. Needs Xvfb, xdotool and ImageMagick's import.
#   docs/screenshot.sh [BUILD_DIR]     (default: build)
set -euo pipefail
source "$(dirname "$0")/shot.sh"
out="$root/docs/screenshot.png"

# The application's directory: the program, its store and the device link.
cp "$bin/quillfern" "$work/"
"$bin/quillfern-store" create "$work"
"$bin/quillfern-devsim" --dir "$work" --port 1 --interval 150 --seed 7 2>/dev/null &
started $!
for _ in $(seq 50); do [ -e "$work/COM1" ] && break; sleep 0.1; done

open_display

"$work/quillfern" 2>/dev/null &
started $!
window="$(xdotool search --sync --onlyvisible --name '^Quillfern$' | head -n 1)"
# START: 720, 508 in the window's client area (the Communication frame).
xdotool mousemove --window "$window" 720 508 click 1
sleep 6
import -window "$window" "$out"
echo "wrote $out"
