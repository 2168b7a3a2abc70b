#!/usr/bin/python3
"""Pooled activations of many layers for the photos velto-study-decoded wrote.

  features.py MODEL.onnx DECODED_DIR OUT.npz [--variant orig|flip|crop|big] [--names a,b]

Each NNNN.png is prepared as the C++ code does (whole frame to 224 x 224 by INTER_AREA, value /
255) and run through MODEL.onnx (from to_onnx_multi.py). For every graph output the file gets
<layer>/gap (mean), <layer>/max, <layer>/grid2 (means of the 2 x 2 quadrants, 4C values) and
<layer>/gem3 (generalised mean, p = 3) as arrays with one row per photo; `index` holds the
photo numbers. Variants: flip = mirrored left-right; crop = central square of the frame.
"""
import argparse
import os

import cv2
import numpy as np
import onnx

SIDE = 224


def prepare(bgr, variant, side=SIDE):
    rgb = cv2.cvtColor(bgr, cv2.COLOR_BGR2RGB)
    if variant == "crop":
        h, w = rgb.shape[:2]
        s = min(h, w)
        y, x = (h - s) // 2, (w - s) // 2
        rgb = rgb[y:y + s, x:x + s]
    if rgb.shape[:2] != (side, side):
        rgb = cv2.resize(rgb, (side, side), interpolation=cv2.INTER_AREA)
    if variant == "flip":
        rgb = rgb[:, ::-1]
    x = rgb.astype(np.float32) / np.float32(255)
    return cv2.dnn.blobFromImage(np.ascontiguousarray(x))


def pools(fm):
    c, h, w = fm.shape
    out = {"gap": fm.mean(axis=(1, 2)), "max": fm.max(axis=(1, 2)),
           "gem3": np.cbrt((np.maximum(fm, 0).astype(np.float64) ** 3).mean(axis=(1, 2)))}
    hh, hw = h // 2, w // 2
    quads = []
    for ys in (slice(0, h - hh), slice(hh, h)) if h % 2 == 0 else (slice(0, hh + 1), slice(hh, h)):
        for xs in (slice(0, w - hw), slice(hw, w)) if w % 2 == 0 else (slice(0, hw + 1), slice(hw, w)):
            quads.append(fm[:, ys, xs].mean(axis=(1, 2)))
    out["grid2"] = np.concatenate(quads)
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("model")
    ap.add_argument("decoded")
    ap.add_argument("out")
    ap.add_argument("--variant", default="orig")
    ap.add_argument("--side", type=int, default=SIDE)
    a = ap.parse_args()
    cv2.setNumThreads(1)
    names = [o.name for o in onnx.load(a.model, load_external_data=False).graph.output]
    net = cv2.dnn.readNetFromONNX(a.model)
    files = sorted(f for f in os.listdir(a.decoded) if f.endswith(".png"))
    rows = {}
    for f in files:
        blob = prepare(cv2.imread(os.path.join(a.decoded, f), cv2.IMREAD_COLOR), a.variant, a.side)
        net.setInput(blob, "input")
        outs = net.forward(names)
        for name, o in zip(names, outs):
            o = np.asarray(o)
            if o.ndim == 2:  # the pooled "features" output
                rows.setdefault(f"{name}/gap", []).append(o[0])
                continue
            for k, v in pools(o[0]).items():
                rows.setdefault(f"{name}/{k}", []).append(v.astype(np.float32))
    data = {k: np.stack(v) for k, v in rows.items()}
    data["index"] = np.array([int(f[:-4]) for f in files])
    np.savez(a.out, **data)


if __name__ == "__main__":
    main()
