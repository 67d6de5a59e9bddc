#!/usr/bin/env bash
# Takes docs/trend.png from the real trend viewer: a store with two days of
# records (one a second apart in bursts, a spike on Sensor1, a stretch of
# line noise on Sensor2), the viewer on a virtual X display, the pointer on a
# record. Needs Xvfb, xdotool, ImageMagick's import and python3.
#   docs/trend.sh [BUILD_DIR]     (default: build)
set -euo pipefail
source "$(dirname "$0")/shot.sh"
out="$root/docs/trend.png"

"$bin/quillfern-store" create "$work"
python3 - "$work/velk.mdb" <<'PY'
import math, random, sqlite3, sys, datetime
random.seed(7)
db = sqlite3.connect(sys.argv[1])
start = datetime.datetime(2026, 10, 24, 6, 0, 0)
rows = []
for i in range(172800):
    t = start + datetime.timedelta(seconds=i)
    day = 2 * math.pi * i / 86400
    t1 = 22 + 3 * math.sin(day) + random.gauss(0, 0.3)
    t2 = 30 + 4 * math.sin(day - 0.8) + random.gauss(0, 0.4)
    t3 = 17 + 2 * math.sin(day + 0.5) + random.gauss(0, 0.2)
    t4 = abs(random.gauss(2, 0.6)) + (25 * random.random() if (i // 600) % 37 == 5 else 0)
    if i == 61234:
        t1 = 48.5
    if 120000 <= i < 123600:
        t2 = None
    rows.append((str(i + 1), t.strftime("%Y-%m-%d %H:%M:%S"), round(t1, 2), t2 if t2 is None else round(t2, 2), round(t3, 2), round(t4, 2)))
db.executemany('INSERT INTO log ("Sr No", TimeAndDate, Temp1, Temp2, Temp3, Temp4) VALUES (?,?,?,?,?,?)', rows)
db.commit()
PY

open_display

"$bin/quillfern-trend" "$work" 2>/dev/null &
started $!
window="$(xdotool search --sync --onlyvisible --name '^Quillfern trend$' | head -n 1)"
xdotool windowmove "$window" 0 0
sleep 2
xdotool mousemove --window "$window" 700 300
sleep 1
import -window "$window" "$out"
echo "wrote $out"
