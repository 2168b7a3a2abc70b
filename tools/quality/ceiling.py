#!/usr/bin/python3
"""The ceiling of the grouping rules on a benchmark set.

Writes print files from the truth (one random unit vector per true scene, taken from the set's
manifest, plus one constant component whose size sets where "same scene" turns into "another
scene"), groups every job of the set with velto-fprint-replay and scores the results. Whatever
an image embedding does, the fixed rules cannot do much better than this.

usage: ceiling.py REPLAY_BINARY SET_DIR WORK_DIR [--dims 128] [--seed 1] [--constants 0,0.5,...]
Prints score.py's SUMMARY line for every constant and then the best one.
"""
import argparse
import json
import os
import random
import struct
import subprocess
import sys


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("replay")
    ap.add_argument("set_dir")
    ap.add_argument("work")
    ap.add_argument("--dims", type=int, default=128)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--constants", default="0,0.25,0.5,0.75,1,1.25,1.5")
    a = ap.parse_args()
    set_dir = os.path.abspath(a.set_dir)
    score = os.path.join(set_dir, "..", "score.py")
    manifest = json.load(open(os.path.join(set_dir, "manifest.json")))
    scene_of = {}
    for scene in manifest["scenes"]:
        for photo in scene["photos"]:
            scene_of[photo["file"]] = scene["id"]
    rng = random.Random(a.seed)
    unit = {}
    for sid in sorted(set(scene_of.values())):
        v = [rng.gauss(0, 1) for _ in range(a.dims)]
        norm = sum(x * x for x in v) ** 0.5
        unit[sid] = [x / norm for x in v]
    jobs = sorted(f[:-5] for f in os.listdir(os.path.join(set_dir, "jobs")) if f.endswith(".json"))
    best = None
    for c in [float(x) for x in a.constants.split(",")]:
        prints = os.path.join(a.work, f"c{c}", "prints")
        results = os.path.join(a.work, f"c{c}", "results")
        os.makedirs(prints, exist_ok=True)
        os.makedirs(results, exist_ok=True)
        for name in jobs:
            job = json.load(open(os.path.join(set_dir, "jobs", name + ".json")))
            paths = []
            for i, photo in enumerate(job["photos"]):
                path = os.path.join(prints, f"{name}_{i:06d}.print")
                paths.append(path)
                if photo not in scene_of:  # a broken file: no print, as from the real tool
                    if os.path.exists(path):
                        os.remove(path)
                    continue
                v = unit[scene_of[photo]] + [c]
                with open(path, "wb") as f:
                    f.write(struct.pack("<I", 1) + struct.pack(f"<{len(v)}f", *v))
            replay_job = os.path.join(prints, name + ".json")
            json.dump({"photos": paths, "timeGroups": job["timeGroups"]}, open(replay_job, "w"))
            subprocess.run([a.replay, replay_job, os.path.join(results, name + ".json")], check=True)
        out = subprocess.run([sys.executable, score, "--set", set_dir, "--results", results],
                             capture_output=True, text=True).stdout
        summary = [l for l in out.splitlines() if l.startswith("SUMMARY")][0]
        print(f"constant {c}: {summary}")
        f1 = float(summary.split("inRunF1=")[1].split()[0])
        if best is None or f1 > best[0]:
            best = (f1, c, summary)
    print(f"best constant {best[1]}: {best[2]}")


if __name__ == "__main__":
    main()
