# Shared by the screenshot scripts: sourced, not run. Sets root and bin (the
# built programs), makes a work directory that goes at exit with every
# process started through `started`, and opens a virtual X display.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bin="$(cd "${1:-$root/build}" && pwd)/bin"

work="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# started PID: the process ends with the script.
started() { pids+=("$1"); }

# Starts Xvfb on a free display and exports DISPLAY once it answers.
open_display() {
    local display=":$((100 + RANDOM % 400))"
    Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null &
    started $!
    export DISPLAY="$display"
    for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
}
