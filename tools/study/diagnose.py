#!/usr/bin/python3
"""Per-scene view of an embedding on the one_group order: the gap score at each true boundary
and the largest gap score inside each scene (with 0.75 appended, as the product does)."""
import json
import sys

import numpy as np

from common import SET_DIR, _gap_scores, l2, load, prints_of, with_constant


def diagnose(x, index, c=0.75):
    P = prints_of(with_constant(x, c), index)
    job = json.load(open(SET_DIR + "/jobs/one_group.json"))
    truth = json.load(open(SET_DIR + "/truth/one_group.json"))["groups"]
    man = json.load(open(SET_DIR + "/manifest.json"))
    labels = [s["label"] for s in man["scenes"]]
    X = np.stack([P[p] for p in job["photos"]]).astype(float)
    d = _gap_scores(X)
    n = len(truth)
    for g in range(1, max(truth) + 1):
        idx = [i for i in range(n) if truth[i] == g]
        inner = [d[i] for i in idx[:-1]]
        bnd = d[idx[-1]] if idx[-1] < n - 1 else float("nan")
        print(f"{labels[g-1]:34s} n={len(idx):2d} inner max={max(inner) if inner else 0:.3f} "
              f"-> boundary {bnd:.3f}")


if __name__ == "__main__":
    key = sys.argv[1]
    dev, ref = load("dev"), load("ref")
    diagnose(l2(dev[key] - ref[key].mean(0)), dev["index"])
