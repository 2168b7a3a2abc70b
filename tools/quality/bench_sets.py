"""The developer photo sets as the quality tools use them: re-dealt job draws, source halves,
ceilings, and grouping with recorded prints through velto-fprint-replay.

A derived set is a folder of its own (manifest, job and truth files, images/ as links to the
original photos) made by the bench's gen_jobs.py from a copy of the set's manifest:
  draw 0        the manifest's own seed: the very jobs the set ships with
  draw k > 0    the seed "<seed>/k": the same photos dealt into other jobs
  half A / B    only the scenes of one half of the sources (HALVES), so that a recipe can be
                chosen on one half and confirmed on photos it was never scored on
"""
import json
import os
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
BENCH = os.path.realpath(os.path.join(ROOT, "..", "shared", "bench"))

# Each half holds whole sources. dev: by repository. bursts: its exposure brackets come mostly
# from one repository that collects series from several origins; its "trip" tells them apart.
HALVES = {
    "dev": ("repo", {"magicleap/SuperGluePretrainedNetwork", "EadCat/APAP-Image-Stitching",
                     "alicevision/dataset_monstree"}),
    "bursts": ("trip", {"achin-library", "mefb-indoor", "mefb-knossos", "mefb-disney"}),
}


def developer_sets(bench=BENCH):
    """Names of the sets in the bench folder (each a folder with manifest.json and jobs/)."""
    return sorted(d for d in os.listdir(bench)
                  if os.path.exists(os.path.join(bench, d, "manifest.json"))
                  and os.path.isdir(os.path.join(bench, d, "jobs")))


def manifest(base, bench=BENCH):
    with open(os.path.join(bench, base, "manifest.json")) as f:
        return json.load(f)


def in_half(base, scene, half):
    if half == "all":
        return True
    key, first = HALVES[base]
    return (scene[key] in first) == (half == "A")


def derive(work, base, half="all", draw=0, bench=BENCH):
    """The folder of set `base`, half `half` ("all", "A", "B"), job draw `draw`; made once."""
    name = f"{base}-{half}-d{draw}"
    set_dir = os.path.join(work, "sets", name)
    if os.path.exists(os.path.join(set_dir, "done")):
        return set_dir
    os.makedirs(os.path.join(set_dir, "images"), exist_ok=True)
    score = os.path.join(work, "sets", "score.py")  # ceiling.py looks for it beside the set
    if not os.path.exists(score):
        os.symlink(os.path.join(bench, "score.py"), score)
    man = manifest(base, bench)
    man["scenes"] = [s for s in man["scenes"] if in_half(base, s, half)]
    if draw:
        man["seed"] = f"{man['seed']}/{draw}"
    for scene in man["scenes"]:
        for photo in scene["photos"]:
            link = os.path.join(set_dir, photo["file"])
            if not os.path.lexists(link):
                os.symlink(os.path.join(bench, base, photo["file"]), link)
    with open(os.path.join(set_dir, "manifest.json"), "w") as f:
        json.dump(man, f, indent=1)
    subprocess.run(["/usr/bin/python3", os.path.join(bench, "gen_jobs.py"), set_dir],
                   check=True, stdout=subprocess.DEVNULL)
    open(os.path.join(set_dir, "done"), "w").close()
    return set_dir


def parse_summary(text):
    line = [l for l in text.splitlines() if "SUMMARY" in l][-1]
    out = {}
    for key, field in (("rF1", "inRunF1="), ("ARI", "ARI="), ("bF1", "boundaryF1=")):
        out[key] = float(line.split(field)[1].split()[0])
    return out


def ceiling(set_dir, replay, vector_seeds=(1, 2, 3)):
    """The rules' ceiling on a set: tools/quality/ceiling.py's best constant, averaged over
    several draws of its random scene vectors (one draw alone moves by about 0.02)."""
    cache = os.path.join(set_dir, "ceiling.json")
    if os.path.exists(cache):
        with open(cache) as f:
            return json.load(f)
    runs = []
    for seed in vector_seeds:
        out = subprocess.run(["/usr/bin/python3", os.path.join(HERE, "ceiling.py"), replay,
                              set_dir, os.path.join(set_dir, f"ceiling-{seed}"),
                              "--seed", str(seed)],
                             check=True, capture_output=True, text=True).stdout
        best = [l for l in out.splitlines() if l.startswith("best constant")][0]
        runs.append(parse_summary(best))
    result = {k: sum(r[k] for r in runs) / len(runs) for k in runs[0]}
    with open(cache, "w") as f:
        json.dump(result, f)
    return result


def write_print(path, vector):
    with open(path, "wb") as f:
        f.write(struct.pack("<I", 1) + struct.pack(f"<{len(vector)}f", *vector))


def replay_set(set_dir, print_of, replay, out_dir, options=()):
    """Groups every job of the set with recorded prints (`print_of`: photo path as the jobs name
    it -> print file; photos without one get none) and scores the results with score.py.
    `options` go to the replay program before the job (e.g. ["--rules", "series"])."""
    prints = os.path.join(out_dir, "jobs")
    results = os.path.join(out_dir, "results")
    os.makedirs(prints, exist_ok=True)
    os.makedirs(results, exist_ok=True)
    for name in sorted(os.listdir(os.path.join(set_dir, "jobs"))):
        with open(os.path.join(set_dir, "jobs", name)) as f:
            job = json.load(f)
        paths = [print_of.get(p, os.path.join(out_dir, "no-print")) for p in job["photos"]]
        replay_job = os.path.join(prints, name)
        with open(replay_job, "w") as f:
            json.dump({"photos": paths, "timeGroups": job["timeGroups"]}, f)
        subprocess.run([replay, *options, replay_job, os.path.join(results, name)], check=True)
    out = subprocess.run(["/usr/bin/python3", os.path.join(os.path.dirname(set_dir), "score.py"),
                          "--set", set_dir, "--results", results],
                         capture_output=True, text=True).stdout
    return parse_summary(out)


def main():
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
