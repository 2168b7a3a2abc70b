#!/usr/bin/python3
"""Colour descriptors of the 224 x 224 network inputs (inputs.py), each a function
rgb uint8 (N, 224, 224, 3) -> (N, D) histogram rows that sum to 1 (per region)."""
import cv2
import numpy as np


def joint_rgb(rgb, bins=4):
    q = (rgb.astype(np.int32) * bins) // 256
    idx = (q[..., 0] * bins + q[..., 1]) * bins + q[..., 2]
    n = rgb.shape[1] * rgb.shape[2]
    return np.stack([np.bincount(i.ravel(), minlength=bins ** 3) / n for i in idx])


def joint_rgb_soft(rgb, bins=4):
    """Each channel value spreads linearly over the two nearest bin centres."""
    out = []
    for img in rgb:
        x = img.reshape(-1, 3).astype(np.float64) * bins / 256 - 0.5
        lo = np.floor(x)
        fr = x - lo
        lo = lo.astype(np.int64)
        h = np.zeros(bins ** 3)
        for dr in (0, 1):
            for dg in (0, 1):
                for db in (0, 1):
                    ir, ig, ib = (np.clip(lo[:, k] + d, 0, bins - 1) for k, d in enumerate((dr, dg, db)))
                    w = ((fr[:, 0] if dr else 1 - fr[:, 0]) * (fr[:, 1] if dg else 1 - fr[:, 1]) *
                         (fr[:, 2] if db else 1 - fr[:, 2]))
                    np.add.at(h, (ir * bins + ig) * bins + ib, w)
        out.append(h / h.sum())
    return np.stack(out)


def marginal_rgb(rgb, bins=16):
    n = rgb.shape[1] * rgb.shape[2]
    q = (rgb.astype(np.int32) * bins) // 256
    return np.stack([np.concatenate([np.bincount(im[..., c].ravel(), minlength=bins) / n / 3
                                     for c in range(3)]) for im in q])


def hsv_hist(rgb, hb=8, sb=3, vb=3):
    out = []
    for img in rgb:
        hsv = cv2.cvtColor(img, cv2.COLOR_RGB2HSV).reshape(-1, 3).astype(np.int32)  # H 0..179
        h = (hsv[:, 0] * hb) // 180
        s = (hsv[:, 1] * sb) // 256
        v = (hsv[:, 2] * vb) // 256
        out.append(np.bincount((h * sb + s) * vb + v, minlength=hb * sb * vb) / len(hsv))
    return np.stack(out)


def grid2(fn, **kw):
    def f(rgb):
        h = rgb.shape[1] // 2
        blocks = [fn(rgb[:, y:y + h, x:x + h], **kw) / 4 for y in (0, h) for x in (0, h)]
        return np.concatenate(blocks, axis=1)
    return f
