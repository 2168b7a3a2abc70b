#!/usr/bin/python3
"""Scores any set of feature prints on a benchmark set with the real grouping rules.

evaluate(prints, ...) takes {photo path as written in the jobs: vector}, writes one print file
per photo (type 1, float32), a replay job per job of the set (a photo without a print stays a
missing file, as a broken photo does), runs velto-fprint-replay on each and returns score.py's
SUMMARY numbers as a dict. Used by the experiment scripts next to it.
"""
import json
import os
import struct
import subprocess
import sys
import tempfile

import numpy as np

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
REPLAY = os.environ.get("VELTO_REPLAY", os.path.join(ROOT, "build-study", "velto-fprint-replay"))
SET_DIR = os.environ.get("VELTO_SET", "/work/shared/bench/dev")


def write_print(path, v):
    v = np.asarray(v, dtype="<f4")
    with open(path, "wb") as f:
        f.write(struct.pack("<I", 1) + v.tobytes())


def evaluate(prints, set_dir=SET_DIR, replay=REPLAY, keep=None, table=False):
    work = keep or tempfile.mkdtemp(prefix="velto-eval-")
    pdir = os.path.join(work, "prints")
    rdir = os.path.join(work, "results")
    os.makedirs(pdir, exist_ok=True)
    os.makedirs(rdir, exist_ok=True)
    files = {}
    for i, (photo, v) in enumerate(sorted(prints.items())):
        files[photo] = os.path.join(pdir, f"{i:05d}.print")
        write_print(files[photo], v)
    jobs = sorted(f[:-5] for f in os.listdir(os.path.join(set_dir, "jobs")) if f.endswith(".json"))
    for name in jobs:
        job = json.load(open(os.path.join(set_dir, "jobs", name + ".json")))
        photos = [files.get(p, os.path.join(pdir, "missing_" + os.path.basename(p))) for p in job["photos"]]
        rjob = os.path.join(pdir, name + ".json")
        json.dump({"photos": photos, "timeGroups": job["timeGroups"]}, open(rjob, "w"))
        subprocess.run([replay, rjob, os.path.join(rdir, name + ".json")], check=True)
    out = subprocess.run([sys.executable, os.path.join(set_dir, "..", "score.py"), "--set", set_dir,
                          "--results", rdir], capture_output=True, text=True).stdout
    if table:
        print(out)
    line = [l for l in out.splitlines() if l.startswith("SUMMARY")][0]
    res = {"jobs_table": {}}
    for l in out.splitlines():
        f = l.split()
        if len(f) == 10 and f[0] in jobs:
            res["jobs_table"][f[0]] = {"bF1": float(f[4]), "rF1": float(f[7]), "ARI": float(f[8])}
    for tok in line.split():
        if "=" in tok:
            k, v = tok.split("=")
            res[k] = float(v)
    others = [v for k, v in res["jobs_table"].items() if k != "per_scene"]
    res["rF1_8"] = sum(v["rF1"] for v in others) / len(others)
    res["ARI_8"] = sum(v["ARI"] for v in others) / len(others)
    res["per_scene_ok"] = res["jobs_table"]["per_scene"]["rF1"] == 1.0
    if keep is None:
        subprocess.run(["rm", "-rf", work], check=True)
    return res
