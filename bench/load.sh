#!/usr/bin/env bash
# Speed on a busy machine: what velto-fprint costs when it does not have the processors to
# itself. In one run, on 40 camera-sized JPEGs (4000 x 3000, quality 92, made once from the
# dev set's photos as bench/run.sh makes them, cached in build/bench-cache/jpeg12):
#   - idle: a normal run, against the decoding floor (djpeg -scale 1/8 of the same files, one
#     after another), and the dev set's photos;
#   - one run pinned to one processor (taskset -c 0);
#   - a normal run and a pinned run while two busy loops hold both processors (one loop pinned
#     to each, started and killed by this script by their process ids);
#   - two runs of the job at once, against one pinned run.
#
#   bench/load.sh [SET_DIR]     SET_DIR defaults to ../shared/bench/dev beside the checkout
#   REPEATS=N bench/load.sh     best of N runs of every measurement (default 3)
#   BUILD_DIR=dir               the build folder (default build/)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
set_dir=$(realpath "${1:-$root/../shared/bench/dev}")
REPEATS=${REPEATS:-3}
PHOTOS=40
build=${BUILD_DIR:-$root/build}
"$root/tools/install-deps.sh" imagemagick libjpeg-turbo-progs

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target velto-fprint >/dev/null
fprint=$build/velto-fprint
cache=$build/bench-cache
mkdir -p "$cache/jpeg12"
work=$(mktemp -d "${TMPDIR:-/tmp}/velto-load-XXXXXX")
loops=()
stop_loops() {
  for pid in "${loops[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${loops[@]}"; do wait "$pid" 2>/dev/null || true; done
  loops=()
}
trap 'stop_loops; rm -rf "$work"' EXIT

mapfile -t sources < <(ls "$set_dir"/images/img_*.* | head -"$PHOTOS")
jpegs=()
for src in "${sources[@]}"; do
  jpeg=$cache/jpeg12/$(basename "${src%.*}").jpg
  [[ -s $jpeg ]] || convert "$src" -auto-orient -resize '4000x3000^' -gravity center \
    -extent 4000x3000 -quality 92 "$jpeg"
  jpegs+=("$jpeg")
done
/usr/bin/python3 -c 'import json,sys; p=sys.argv[2:]; json.dump({"photos":p,"timeGroups":[1]*len(p)}, open(sys.argv[1],"w"))' \
  "$work/jpeg12.json" "${jpegs[@]}"
/usr/bin/python3 - "$set_dir" "$work/dev.json" <<'PY'
import json, os, sys
s = sys.argv[1]
job = json.load(open(os.path.join(s, "jobs", "merged.json")))
photos = [os.path.join(s, p) for p in job["photos"]]
json.dump({"photos": photos, "timeGroups": job["timeGroups"]}, open(sys.argv[2], "w"))
PY
dev_photos=$(/usr/bin/python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))["photos"]))' "$work/dev.json")

# Wall seconds of the best of REPEATS runs of a shell function.
best_of() {
  local best="" start t
  for ((r = 0; r < REPEATS; r++)); do
    start=$EPOCHREALTIME
    "$@"
    t=$(echo "$EPOCHREALTIME - $start" | bc -l)
    if [[ -z $best ]] || (($(echo "$t < $best" | bc -l))); then best=$t; fi
  done
  echo "$best"
}

normal() { "$fprint" "$work/jpeg12.json" "$work/out-a.json"; }
pinned() { taskset -c 0 "$fprint" "$work/jpeg12.json" "$work/out-a.json"; }
dev() { "$fprint" "$work/dev.json" "$work/out-dev.json"; }
floor() { for f in "${jpegs[@]}"; do djpeg -scale 1/8 "$f" >/dev/null; done; }
two_jobs() {
  "$fprint" "$work/jpeg12.json" "$work/out-a.json" &
  local a=$!
  "$fprint" "$work/jpeg12.json" "$work/out-b.json" &
  local b=$!
  wait "$a"
  wait "$b"
}

echo "load before: $(uptime)"
t_floor=$(best_of floor)
t_idle=$(best_of normal)
t_dev=$(best_of dev)
t_pinned=$(best_of pinned)
t_two=$(best_of two_jobs)
cmp -s "$work/out-a.json" "$work/out-b.json" || { echo "the two jobs disagree" >&2; exit 1; }

# One loop on each processor, so that a pinned run always shares its processor with one.
for cpu in 0 1; do
  taskset -c "$cpu" bash -c 'while :; do :; done' &
  loops+=($!)
done
sleep 0.5
t_busy=$(best_of normal)
t_busy_pinned=$(best_of pinned)
stop_loops
echo "load after:  $(uptime)"

/usr/bin/python3 - "$PHOTOS" "$dev_photos" "$t_floor" "$t_idle" "$t_dev" "$t_pinned" "$t_two" \
  "$t_busy" "$t_busy_pinned" "$REPEATS" <<'PY'
import sys
n, dev_n = int(sys.argv[1]), int(sys.argv[2])
floor, idle, dev, pinned, two, busy, busy_pinned = (float(x) for x in sys.argv[3:10])
repeats = sys.argv[10]
rows = [
    ("djpeg -scale 1/8, one file after another", n, floor, "", ""),
    ("idle, normal run", n, idle, f"{idle / floor:.2f} x floor", "<= 1.25"),
    ("idle, dev set", dev_n, dev, f"{dev_n / dev:.1f} photos/s", ">= 60"),
    ("idle, pinned (taskset -c 0)", n, pinned, "", ""),
    ("two jobs at once (time for both)", n, two, f"{two / pinned:.2f} x pinned", "<= 1.3"),
    ("two busy loops, pinned run", n, busy_pinned, "", ""),
    ("two busy loops, normal run", n, busy, f"{busy / busy_pinned:.2f} x pinned", "<= 1.15"),
]
print(f"| run (12 MP JPEG unless named; best of {repeats}) | photos | seconds | ms/photo | ratio | goal |")
print("|---|---:|---:|---:|---|---|")
for name, count, secs, ratio, goal in rows:
    print(f"| {name} | {count} | {secs:.2f} | {1000 * secs / count:.1f} | {ratio} | {goal} |")
PY
