#!/usr/bin/python3
"""The experiment table of README.md: every recipe scored on dev and on the re-jobbed seeds
(make_aug.sh) for each constant of CONSTANTS; the constant kept is the one with the best
aug mean (in-run F1 + ARI, jobs but per_scene) among those that leave per_scene uncut. Prints
one markdown row per recipe (`table.py extra`: the rows of EXTRA_ROWS).

Needs in $VELTO_STUDY (default /tmp/study): feat_*.npz (features.py), inputs_*.npz
(inputs.py), dev_list.txt, aug/ (make_aug.sh)."""
import numpy as np

import colour_desc as cd
import common
from common import l2, score_aug
from recipes import centred, concat, flipavg, grid, pca_white

CONSTANTS = [0.6, 0.7, 0.8, 0.9, 1.0, 1.1, 1.2]
S = common.STUDY
_inputs = {k: np.load(f"{S}/inputs_{k}.npz") for k in ("dev", "ref")}
_colour = {"rgb4": lambda x: cd.joint_rgb(x, 4), "hsv833": cd.hsv_hist,
           "grid2 rgb4": cd.grid2(cd.joint_rgb, bins=4)}
_colour_rows = {k: {n: f(_inputs[k]["rgb"]) for n, f in _colour.items()} for k in _inputs}


def colour(name):
    """sqrt of the histogram less its reference mean, L2 (the product's colour component)."""
    def f(dev, ref, *_):
        d, r = _colour_rows["dev"][name], _colour_rows["ref"][name]
        return l2(np.sqrt(d) - np.sqrt(r).mean(0))
    return f


def with_colour(net, name, w):
    return concat([net, colour(name)], [1, w])


g = lambda k, **kw: centred(k + "/gap", **kw)  # noqa: E731
ROWS = [
    # (label, tag, recipe, needs flip, network ms key)
    ("current: mnv2 block_13_expand_relu GAP", "mnv2", g("block_13_expand_relu"), False, "13e"),
    ("mnv2 block_13_depthwise_relu GAP", "mnv2", g("block_13_depthwise_relu"), False, "13e"),
    ("mnv2 block_13_project_BN GAP", "mnv2", g("block_13_project_BN"), False, "13e"),
    ("mnv2 block_14_add GAP", "mnv2", g("block_14_add"), False, "14a"),
    ("mnv2 block_15_add GAP", "mnv2", g("block_15_add"), False, "15a"),
    ("mnv2 out_relu GAP", "mnv2", g("out_relu"), False, "out"),
    ("mnv2 block_12_add GAP", "mnv2", g("block_12_add"), False, "13e"),
    ("mnv2 13_project+14_add+15_add GAP concat", "mnv2",
     concat([g("block_13_project_BN"), g("block_14_add"), g("block_15_add")]), False, "15a"),
    ("mnv2 13_expand sqrt(GAP)", "mnv2", g("block_13_expand_relu", power=0.5), False, "13e"),
    ("mnv2 13_expand GeM p=3", "mnv2", centred("block_13_expand_relu/gem3"), False, "13e"),
    ("mnv2 13_expand max pool", "mnv2", centred("block_13_expand_relu/max"), False, "13e"),
    ("mnv2 13_expand GAP+2x2 grid (w .5)", "mnv2",
     concat([g("block_13_expand_relu"), grid("block_13_expand_relu/grid2")], [1, 0.5]), False, "13e"),
    ("mnv2 13_expand GAP, h-flip averaged", "mnv2", flipavg("block_13_expand_relu/gap"), True, "13e x2"),
    ("mnv2 13_depthwise GAP, h-flip averaged", "mnv2", flipavg("block_13_depthwise_relu/gap"), True, "13e x2"),
    ("mnv2 13_expand GAP / ref std", "mnv2", g("block_13_expand_relu", std=True), False, "13e"),
    ("mnv2 13_expand PCA-whitened k16 (ref)", "mnv2", pca_white("block_13_expand_relu/gap", 16, 1.0), False, "13e"),
    ("mnv2 13_depthwise PCA-whitened k16 (ref)", "mnv2", pca_white("block_13_depthwise_relu/gap", 16, 1.0), False, "13e"),
    ("mid (MobileNetV2-1.4) ec13 depthwise GAP", "mid", g("ec13/dw"), False, "mid13"),
    ("mid ec14 add GAP", "mid", g("ec14/add"), False, "mid16"),
    ("mid conv1 (1792) GAP", "mid", g("conv1"), False, "mid"),
    ("mid ec13 depthwise PCA-whitened k16", "mid", pca_white("ec13/dw/gap", 16, 1.0), False, "mid13"),
    ("colour only: RGB 4x4x4 histogram", "mnv2", colour("rgb4"), False, "0"),
    ("colour only: HSV 8x3x3 histogram", "mnv2", colour("hsv833"), False, "0"),
    ("colour only: 2x2 grid of RGB 4x4x4", "mnv2", colour("grid2 rgb4"), False, "0"),
    ("mnv2 13_expand + RGB hist (w 1.5)", "mnv2", with_colour(g("block_13_expand_relu"), "rgb4", 1.5), False, "13e"),
    ("mnv2 13_expand + HSV hist (w 1.5)", "mnv2", with_colour(g("block_13_expand_relu"), "hsv833", 1.5), False, "13e"),
    ("mnv2 13_expand + 2x2 RGB hist (w 1.5)", "mnv2", with_colour(g("block_13_expand_relu"), "grid2 rgb4", 1.5), False, "13e"),
    ("mnv2 14_add + 2x2 RGB hist (w 1.5)", "mnv2", with_colour(g("block_14_add"), "grid2 rgb4", 1.5), False, "14a"),
    ("mnv2 15_add + RGB hist (w 1.25)", "mnv2", with_colour(g("block_15_add"), "rgb4", 1.25), False, "15a"),
    ("**chosen: mnv2 15_add + 2x2 RGB hist (w 1.5)**", "mnv2", with_colour(g("block_15_add"), "grid2 rgb4", 1.5), False, "15a"),
    ("mnv2 15_add + 2x2 RGB hist (w 1.0)", "mnv2", with_colour(g("block_15_add"), "grid2 rgb4", 1.0), False, "15a"),
    ("mnv2 15_add + 2x2 RGB hist (w 2.0)", "mnv2", with_colour(g("block_15_add"), "grid2 rgb4", 2.0), False, "15a"),
    ("mid ec13 depthwise + 2x2 RGB hist (w 1.5)", "mid", with_colour(g("ec13/dw"), "grid2 rgb4", 1.5), False, "mid13"),
    ("mid conv1 + 2x2 RGB hist (w 1.0)", "mid", with_colour(g("conv1"), "grid2 rgb4", 1.0), False, "mid"),
]



def cropavg(key):
    """Pooled activations averaged over the whole frame and its central square (2 passes)."""
    def f(dev, ref, *_):
        d = (dev[key] + common.load("dev", "crop")[key]) / 2
        r = (ref[key] + common.load("ref", "crop")[key]) / 2
        return l2(d - r.mean(0))
    return f


EXTRA_ROWS = [
    ("mnv2 13_expand GAP, whole frame + centre square averaged", "mnv2",
     cropavg("block_13_expand_relu/gap"), False, "13e x2"),
    ("chosen, network component h-flip averaged", "mnv2",
     concat([flipavg("block_15_add/gap"), colour("grid2 rgb4")], [1, 1.5]), True, "15a x2"),
    ("chosen with HSV 8x3x3 per quadrant", "mnv2",
     concat([g("block_15_add"), colour("grid2 hsv")], [1, 1.5]), False, "15a"),
]
_colour["grid2 hsv"] = cd.grid2(cd.hsv_hist)
for _k in _inputs:
    _colour_rows[_k]["grid2 hsv"] = _colour["grid2 hsv"](_inputs[_k]["rgb"])


def main():
    import sys
    rows = EXTRA_ROWS if sys.argv[1:] == ["extra"] else ROWS
    cache = {}
    print("| recipe | c | dev in-run F1 | dev ARI | dev boundary F1 | aug in-run F1* | aug ARI* | net |")
    print("|---|---:|---:|---:|---:|---:|---:|---|")
    for label, tag, fn, flip, ms in rows:
        if tag not in cache:
            cache[tag] = (common.load("dev", tag=tag), common.load("ref", tag=tag),
                          common.load("dev", "flip", tag=tag), common.load("ref", "flip", tag=tag))
        dev, ref, devf, reff = cache[tag]
        x = (fn(dev, ref, devf, reff) if flip else fn(dev, ref)).astype(np.float32)
        rows = [(c, score_aug(x, dev["index"], c)) for c in CONSTANTS]
        ok = [t for t in rows if t[1]["per_scene_ok"]] or rows
        c, r = max(ok, key=lambda t: t[1]["rF1_8"] + t[1]["ARI_8"])
        d = r["dev"]
        print(f"| {label} | {c:.1f} | {d['inRunF1']:.3f} | {d['ARI']:.3f} | {d['boundaryF1']:.3f} | "
              f"{r['rF1_8']:.3f} | {r['ARI_8']:.3f} | {ms} |", flush=True)


if __name__ == "__main__":
    main()
