#!/usr/bin/env bash
# Re-jobs the dev photos with other seeds: STUDY/aug/seedN (N = 1..6) get the dev manifest with
# another seed, symlinks to the dev images and the jobs/truth that gen_jobs.py makes from them.
# Same photos, other time-group partitions: it smooths the job-construction noise of the
# scores, it adds no new photos.
set -euo pipefail
study=${1:-/tmp/study}
dev=/work/shared/bench/dev
mkdir -p "$study/aug"
cp /work/shared/bench/score.py "$study/aug/"
for s in 1 2 3 4 5 6; do
  d=$study/aug/seed$s
  mkdir -p "$d/images"
  for f in "$dev"/images/img_*; do ln -sf "$f" "$d/images/"; done
  /usr/bin/python3 -c "
import json; m=json.load(open('$dev/manifest.json')); m['seed']=$s*7919
json.dump(m, open('$d/manifest.json', 'w'), indent=1)"
  /usr/bin/python3 /work/shared/bench/gen_jobs.py "$d" >/dev/null
done
