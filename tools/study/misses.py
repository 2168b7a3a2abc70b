#!/usr/bin/python3
"""Which in-run boundaries an embedding misses and which cuts it adds, over all jobs of the
set, counted per scene pair, from the result files of an evaluation (evaluate(..., keep=DIR))."""
import collections
import json
import os
import sys

from common import SET_DIR


def report(results):
    man = json.load(open(SET_DIR + "/manifest.json"))
    scene_of = {p["file"]: s["label"] for s in man["scenes"] for p in s["photos"]}
    missed, extra = collections.Counter(), collections.Counter()
    for f in sorted(os.listdir(os.path.join(SET_DIR, "jobs"))):
        job = json.load(open(os.path.join(SET_DIR, "jobs", f)))
        truth = json.load(open(os.path.join(SET_DIR, "truth", f)))["groups"]
        res = json.load(open(os.path.join(results, f)))["groups"]
        tg = job["timeGroups"]
        for i in range(len(truth) - 1):
            if truth[i] == 0 or truth[i + 1] == 0 or tg[i] <= 0 or tg[i] != tg[i + 1]:
                continue
            tb, pb = truth[i] != truth[i + 1], res[i] != res[i + 1]
            a = scene_of.get(job["photos"][i], "?")
            b = scene_of.get(job["photos"][i + 1], "?")
            if tb and not pb:
                missed[f"{a} | {b}"] += 1
            if pb and not tb:
                extra[f"{a} @{i}"] += 1
    print("missed boundaries:")
    for k, v in missed.most_common():
        print(f"  {v} {k}")
    print("false cuts:")
    for k, v in extra.most_common():
        print(f"  {v} {k}")


if __name__ == "__main__":
    report(sys.argv[1])
