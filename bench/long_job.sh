#!/usr/bin/env bash
# A long job through velto-fprint-replay: 100000 photos with recorded prints of 1280 floats
# (about 500 MB of print files, in a scratch folder that is removed afterwards), in time groups
# of 20 to 80 photos with scenes of 2 to 12 shots and a few undated photos. Reports the wall
# time and the peak memory of the run, and checks that the result has one group per photo.
#
#   bench/long_job.sh [PHOTOS] [DIMS]      defaults: 100000 1280
#
# BUILD_DIR chooses the build folder (default build/); the scratch folder goes to $TMPDIR.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
photos=${1:-100000}
dims=${2:-1280}
build=${BUILD_DIR:-$root/build}
"$root/tools/install-deps.sh" time

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target velto-fprint-replay >/dev/null
scratch=$(mktemp -d "${TMPDIR:-/tmp}/velto-long-job-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

started=$(date +%s)
/usr/bin/python3 - "$scratch" "$photos" "$dims" <<'PY'
import json, os, sys
import numpy as np

folder, n, dims = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = np.random.default_rng(20261206)
header = np.array([1], dtype="<u4").tobytes()  # element type 1: 32-bit floats
paths, groups = [], []
scene = rng.standard_normal(dims)
scene_left = 0
time_group, time_left = 0, 0
for i in range(n):
    if time_left == 0:
        time_group += 1
        time_left = int(rng.integers(20, 81))
    if scene_left == 0:
        scene = rng.standard_normal(dims)
        scene_left = int(rng.integers(2, 13))
    shot = (scene + 0.35 * rng.standard_normal(dims)).astype("<f4")
    path = os.path.join(folder, "p%06d.print" % i)
    with open(path, "wb") as f:
        f.write(header + shot.tobytes())
    paths.append(path)
    groups.append(0 if rng.random() < 0.01 else time_group)
    time_left -= 1
    scene_left -= 1
with open(os.path.join(folder, "job.json"), "w") as f:
    json.dump({"photos": paths, "timeGroups": groups}, f)
PY
echo "long_job.sh: wrote $photos prints of $dims floats ($(du -sh "$scratch" | cut -f1)) in $(($(date +%s) - started)) s"

/usr/bin/time -f "%e %M" -o "$scratch/time" \
  "$build/velto-fprint-replay" "$scratch/job.json" "$scratch/out.json"
read -r seconds peak_kib <"$scratch/time"
/usr/bin/python3 - "$scratch/out.json" "$photos" <<'PY'
import json, sys
groups = json.load(open(sys.argv[1]))["groups"]
assert len(groups) == int(sys.argv[2]), "one group per photo"
print("long_job.sh: %d photos in %d groups" % (len(groups), max(groups)))
PY
echo "long_job.sh: velto-fprint-replay took $seconds s, peak memory $((peak_kib / 1024)) MiB"
