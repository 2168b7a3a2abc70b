#!/usr/bin/python3
"""Evaluates named recipes over a list of constants.
  run_recipes.py MODULE  (MODULE.RECIPES: list of (name, function, needs_flip))"""
import importlib
import sys

import numpy as np

from common import load, score

CONSTANTS = [0.5, 0.6, 0.7, 0.75, 0.8, 0.9, 1.0, 1.2]


def run(recipes, constants=CONSTANTS, tag="mnv2"):
    dev, ref = load("dev", tag=tag), load("ref", tag=tag)
    devf = reff = None
    for name, fn, flip in recipes:
        if flip and devf is None:
            devf, reff = load("dev", "flip", tag=tag), load("ref", "flip", tag=tag)
        x = fn(dev, ref, devf, reff) if flip else fn(dev, ref)
        rows = []
        for c in constants:
            r = score(x.astype(np.float32), dev["index"], c)
            rows.append((c, r))
        best = max(rows, key=lambda t: (t[1]["inRunF1"] + t[1]["ARI"]))
        mid = [r for c, r in rows if 0.6 <= c <= 1.0]
        mf = np.mean([r["inRunF1"] for r in mid])
        ma = np.mean([r["ARI"] for r in mid])
        print(f"{name:44s} best c={best[0]:.2f} rF1={best[1]['inRunF1']:.3f} ARI={best[1]['ARI']:.3f} "
              f"bF1={best[1]['boundaryF1']:.3f} | c0.6-1.0 mean rF1={mf:.3f} ARI={ma:.3f} | "
              f"AUC={best[1]['AUC']:.3f} | " +
              " ".join(f"{c}:{r['rF1_8']:.3f}/{r['ARI_8']:.3f}{'' if r['per_scene_ok'] else '!'}"
                       for c, r in rows), flush=True)


if __name__ == "__main__":
    mod = importlib.import_module(sys.argv[1])
    run(mod.RECIPES)
