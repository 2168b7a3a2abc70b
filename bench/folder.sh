#!/usr/bin/env bash
# What velto-fprint-folder adds to velto-fprint: the same photos, once as a folder and once as
# the equivalent job file (the folder's own listing: its order and time groups), each the best
# of REPEATS runs. The difference is finding the photos, reading their capture times with
# Exiv2, and the listing. Processor time (user + system, both cores) is given beside the wall
# time: on a shared machine it wanders far less. Then the same two costs measured alone inside
# one process (velto-bench-metadata) against the stages of velto-fprint per photo
# (velto-bench-stages: read, decode, resize, network, grouping), the steadiest comparison.
#
#
# Then the prints cache: a cold run (empty cache) against a warm one (every print kept) on the
# developer set, and on PHOTOS copies of its photos, each with bytes of its own appended so
# that every copy is a new file (made in a scratch folder, about 0.4 MB each, and removed).
#
#   bench/folder.sh [FOLDER...]   default: the developer set's images (../shared/bench/dev)
#                                 and, when bench/run.sh made them, its 12-megapixel JPEGs
#   REPEATS=N bench/folder.sh     best of N runs (default 5)
#   PHOTOS=N bench/folder.sh      copies for the cache table (default 10000; 0: none)
#   PARTS=cache bench/folder.sh   only the cache table (PARTS=stages: only the first)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
REPEATS=${REPEATS:-5}
PHOTOS=${PHOTOS:-10000}
PARTS=${PARTS:-stages cache}
folders=("$@")
if ((${#folders[@]} == 0)); then
  folders=("$(realpath "$root/../shared/bench/dev/images")")
  [[ -d $root/build/bench-cache/jpeg12 ]] && folders+=("$root/build/bench-cache/jpeg12")
fi
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j2 --target velto-fprint velto-fprint-folder velto-bench-stages \
  velto-bench-metadata >/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

dev=$(realpath "$root/../shared/bench/dev/images")
if [[ $PARTS == *stages* ]]; then
echo "| folder | photos | dated | velto-fprint s (cpu) | velto-fprint-folder s (cpu) | added, wall | added, cpu | scan ms/photo | capture time ms/photo | velto-fprint stages ms/photo | added, stages |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
for folder in "${folders[@]}"; do
  /usr/bin/python3 - "$root/build" "$folder" "$scratch" "$REPEATS" <<'PY'
import csv, io, json, os, resource, subprocess, sys, time
build, folder, scratch, repeats = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
fprint, tool = os.path.join(build, "velto-fprint"), os.path.join(build, "velto-fprint-folder")

def cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime

def best(cmd):
    walls, cpus = [], []
    for _ in range(repeats):
        start, start_cpu = time.perf_counter(), cpu()
        out = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True)
        walls.append(time.perf_counter() - start)
        cpus.append(cpu() - start_cpu)
    return min(walls), min(cpus), out.stdout

folder_s, folder_cpu, listing = best([tool, folder])
rows = list(csv.DictReader(io.StringIO(listing.decode("utf-8", "surrogateescape"))))
job = os.path.join(scratch, "job.json")
json.dump({"photos": [r["path"] for r in rows],
           "timeGroups": [int(r["timeGroup"]) for r in rows]}, open(job, "w"))
fprint_s, fprint_cpu, _ = best([fprint, job, os.path.join(scratch, "result.json")])
dated = sum(1 for r in rows if r["captureTime"])

def stage_lines(cmd):
    out = subprocess.run(cmd, stdout=subprocess.PIPE, check=True, text=True).stdout.split("\n")
    return {f[0]: float(f[-1]) for f in (l.split() for l in out) if len(f) == 3}

stages = stage_lines([os.path.join(build, "bench", "velto-bench-stages"), job])
own = stage_lines([os.path.join(build, "bench", "velto-bench-metadata"), folder])
per_photo = sum(stages[k] for k in ("read", "decode", "resize", "network", "grouping"))
added = own["scan"] + own["metadata"]
print(f"| {os.path.basename(folder.rstrip('/'))} | {len(rows)} | {dated} | "
      f"{fprint_s:.2f} ({fprint_cpu:.2f}) | {folder_s:.2f} ({folder_cpu:.2f}) | "
      f"{100 * (folder_s / fprint_s - 1):+.1f} % | {100 * (folder_cpu / fprint_cpu - 1):+.1f} % | "
      f"{own['scan']:.3f} | {own['metadata']:.3f} | {per_photo:.2f} | {100 * added / per_photo:.1f} % |")
PY
done
fi

# The prints cache: cold and warm runs of the same folder, each with a cache of its own.
[[ $PARTS == *cache* ]] || exit 0
echo
echo "| photos | cold s (cpu) | cold photos/s | warm s (cpu) | warm photos/s | warm/cold speed | same listing | cache MB | KB/photo |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
/usr/bin/python3 - "$root/build" "$dev" "$scratch" "$REPEATS" "$PHOTOS" <<'PY'
import os, resource, shutil, subprocess, sys, time
build, dev, scratch, repeats, copies = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
tool = os.path.join(build, "velto-fprint-folder")

def cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime

def run(folder, cache):
    start, start_cpu = time.perf_counter(), cpu()
    out = subprocess.run([tool, "--cache", cache, folder], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, check=True).stdout
    return time.perf_counter() - start, cpu() - start_cpu, out

def measure(label, folder, repeats):
    colds, warms, same = [], [], True
    for r in range(repeats):
        cache = os.path.join(scratch, f"cache-{r}.sqlite3")
        cold = run(folder, cache)
        warm = run(folder, cache)
        same = same and cold[2] == warm[2]
        cold_out = cold[2]
        colds.append(cold[:2])
        warms.append(warm[:2])
        size = sum(os.path.getsize(cache + s) for s in ("", "-wal") if os.path.exists(cache + s))
    cold, warm = min(colds), min(warms)
    photos = len(cold_out.splitlines()) - 1
    global listed
    listed = cold_out
    print(f"| {label}, {photos} | {cold[0]:.2f} ({cold[1]:.2f}) | {photos / cold[0]:.1f} | "
          f"{warm[0]:.2f} ({warm[1]:.2f}) | {photos / warm[0]:.1f} | {cold[0] / warm[0]:.1f}x | "
          f"{'yes' if same else 'NO'} | {size / 1e6:.1f} | {size / 1e3 / photos:.2f} |", flush=True)

measure("dev", dev, repeats)
if copies > 0:
    # The photos of the listing (the set's other files are no photos), copied in turn.
    photos = [os.fsencode(r.split(",")[0]) for r in listed.decode("utf-8", "surrogateescape").splitlines()[1:]]
    folder = os.path.join(scratch, "copies")
    os.mkdir(folder)
    for i in range(copies):
        source = photos[i % len(photos)]
        with open(source, "rb") as f:
            data = f.read()
        with open(os.path.join(os.fsencode(folder), b"%05d-" % i + os.path.basename(source)), "wb") as f:
            f.write(data + b"#%d" % i)
    measure("copies of dev", folder, 1)
    shutil.rmtree(folder)
PY
