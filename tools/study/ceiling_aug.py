#!/usr/bin/python3
"""The ceiling (one random unit vector per true scene) scored like run_aug.py."""
import json
import random

import numpy as np

from common import SET_DIR, dev_paths, score_aug

man = json.load(open(SET_DIR + "/manifest.json"))
scene = {p["file"]: s["id"] for s in man["scenes"] for p in s["photos"]}
paths = dev_paths()
for seed in (1, 2, 3):
    rng = random.Random(seed)
    unit = {}
    for sid in sorted(set(scene.values())):
        v = np.array([rng.gauss(0, 1) for _ in range(128)])
        unit[sid] = v / np.linalg.norm(v)
    index = [i + 1 for i, p in enumerate(paths) if p in scene]
    x = np.stack([unit[scene[paths[i - 1]]] for i in index]).astype(np.float32)
    for c in (0.75,):
        r = score_aug(x, np.array(index), c)
        d = r["dev"]
        print(f"ceiling seed {seed} c={c}: aug rF1_8={r['rF1_8']:.3f} ARI_8={r['ARI_8']:.3f} | dev rF1={d['inRunF1']:.3f} "
              f"ARI={d['ARI']:.3f} rF1_8={d['rF1_8']:.3f} AUC={r['AUC']:.3f}")
