#!/usr/bin/python3
"""Like run_recipes.py, scored on dev + the re-jobbed seeds: per constant the mean in-run F1 and
ARI over all jobs but per_scene ('!' = per_scene got a false cut), and the dev SUMMARY numbers
at the constant with the best mean."""
import numpy as np

from common import load, score_aug


def run(recipes, constants, tag="mnv2"):
    dev, ref = load("dev", tag=tag), load("ref", tag=tag)
    devf = reff = None
    out = {}
    for name, fn, flip in recipes:
        if flip and devf is None:
            devf, reff = load("dev", "flip", tag=tag), load("ref", "flip", tag=tag)
        x = (fn(dev, ref, devf, reff) if flip else fn(dev, ref)).astype(np.float32)
        rows = [(c, score_aug(x, dev["index"], c)) for c in constants]
        ok = [(c, r) for c, r in rows if r["per_scene_ok"]] or rows
        c, best = max(ok, key=lambda t: t[1]["rF1_8"] + t[1]["ARI_8"])
        d = best["dev"]
        print(f"{name:40s} c*={c:.2f} aug rF1_8={best['rF1_8']:.3f} ARI_8={best['ARI_8']:.3f} | dev "
              f"rF1={d['inRunF1']:.3f} ARI={d['ARI']:.3f} bF1={d['boundaryF1']:.3f} AUC={best['AUC']:.3f} | " +
              " ".join(f"{c}:{r['rF1_8']:.3f}/{r['ARI_8']:.3f}{'' if r['per_scene_ok'] else '!'}"
                       for c, r in rows), flush=True)
        out[name] = rows
    return out
