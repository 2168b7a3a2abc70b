#!/usr/bin/python3
"""Layers x poolings with the basic recipe: pooled - reference mean, L2, constant appended.
Prints in-run F1 / ARI / boundary F1 / AUC for several constants."""
import sys

import numpy as np

from common import l2, load, score

CONSTANTS = [float(c) for c in (sys.argv[1] if len(sys.argv) > 1 else "0.5,0.75,1.0").split(",")]
POOLS = (sys.argv[2] if len(sys.argv) > 2 else "gap").split(",")
dev, ref = load("dev"), load("ref")
layers = sorted({k.split("/")[0] for k in dev if "/" in k and k != "features/gap"},
                key=lambda s: (int(s.split("_")[1]) if s.startswith("block") else 99, s))
for layer in layers:
    for pool in POOLS:
        key = f"{layer}/{pool}"
        x = l2(dev[key] - ref[key].mean(0))
        for c in CONSTANTS:
            r = score(x, dev["index"], c)
            print(f"{key:34s} c={c:4.2f} rF1={r['inRunF1']:.3f} ARI={r['ARI']:.3f} "
                  f"bF1={r['boundaryF1']:.3f} AUC={r['AUC']:.3f}", flush=True)
