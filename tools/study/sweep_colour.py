#!/usr/bin/python3
"""Network layer x colour descriptor x colour weight, scored like run_aug.py (dev + re-jobbed
seeds, per constant). The sweep behind the chosen recipe.
  sweep_colour.py [mnv2|mid] LAYER[,LAYER...] [DESCRIPTOR,...] [WEIGHTS]"""
import sys

import numpy as np

import colour_desc as cd
import common
import run_aug
from common import l2
from recipes import centred, concat

S = common.STUDY
_inputs = {k: np.load(f"{S}/inputs_{k}.npz") for k in ("dev", "ref")}


def _grid3(x):
    h = x.shape[1] // 3
    return np.concatenate([cd.joint_rgb(x[:, a * h:(a + 1) * h, b * h:(b + 1) * h], 4) / 9
                           for a in range(3) for b in range(3)], axis=1)


DESCRIPTORS = {
    "rgb4": lambda x: cd.joint_rgb(x, 4), "rgb8": lambda x: cd.joint_rgb(x, 8),
    "rgb4soft": lambda x: cd.joint_rgb_soft(x, 4), "hsv833": cd.hsv_hist, "marg16": cd.marginal_rgb,
    "grid2 rgb4": cd.grid2(cd.joint_rgb, bins=4), "grid2 hsv833": cd.grid2(cd.hsv_hist),
    "grid2 rgb4soft": cd.grid2(cd.joint_rgb_soft, bins=4), "grid3 rgb4": _grid3,
}


def colour(name):
    d = DESCRIPTORS[name](_inputs["dev"]["rgb"])
    r = DESCRIPTORS[name](_inputs["ref"]["rgb"])

    def f(dev, ref):
        return l2(np.sqrt(d) - np.sqrt(r).mean(0))
    return f


def main():
    tag = sys.argv[1]
    layers = sys.argv[2].split(",")
    names = sys.argv[3].split(",") if len(sys.argv) > 3 else ["rgb4", "hsv833", "rgb8", "grid2 rgb4"]
    weights = [float(w) for w in (sys.argv[4] if len(sys.argv) > 4 else "1,1.25,1.5,1.75,2").split(",")]
    recipes = [(f"{tag} {l}", centred(f"{l}/gap"), False) for l in layers]
    recipes += [(f"colour only {n}", colour(n), False) for n in names]
    for l in layers:
        for n in names:
            col = colour(n)
            for w in weights:
                recipes.append((f"{tag} {l} + {n} w{w}", concat([centred(f"{l}/gap"), col], [1, w]), False))
    run_aug.run(recipes, [0.8, 0.9, 1.0, 1.1], tag=tag)


if __name__ == "__main__":
    main()
