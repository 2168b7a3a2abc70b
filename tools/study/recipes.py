#!/usr/bin/python3
"""Recipe building blocks over the dumped features: each takes (dev, ref) feature dicts and
returns the print rows (before the constant) for the dev photos."""
import numpy as np

from common import l2


def centred(key, power=1.0, std=False, eps=None):
    """pooled ** power less the reference mean (optionally / reference std), L2."""
    def f(dev, ref):
        d, r = dev[key] ** power, ref[key] ** power
        x = d - r.mean(0)
        if std:
            s = r.std(0)
            x = x / (s + (eps if eps is not None else np.median(s)))
        return l2(x)
    return f


def flipavg(key, power=1.0):
    def f(dev, ref, devf, reff):
        d = (dev[key] ** power + devf[key] ** power) / 2
        r = (ref[key] ** power + reff[key] ** power) / 2
        return l2(d - r.mean(0))
    return f


def concat(pieces, weights=None):
    """L2 of the weighted concatenation of already L2-normalised pieces."""
    def f(*args):
        xs = [p(*args) for p in pieces]
        w = weights or [1.0] * len(xs)
        return l2(np.concatenate([wi * x for wi, x in zip(w, xs)], axis=1))
    return f


def grid(key, gap_key=None, w_grid=1.0):
    """Centred 2x2 quadrant means (each quadrant its own reference mean), L2; optionally with
    the centred GAP appended first."""
    def f(dev, ref):
        x = l2(dev[key] - ref[key].mean(0)) * w_grid
        if gap_key:
            g = l2(dev[gap_key] - ref[gap_key].mean(0))
            x = np.concatenate([g, x], axis=1)
        return l2(x)
    return f


def pca_white(key, k=32, shrink=1.0, power=1.0):
    """Centred on the reference mean, projected on the top-k reference principal axes, each
    divided by (its std + shrink * mean std), plus the untouched residual; L2."""
    def f(dev, ref):
        r = ref[key] ** power
        mu = r.mean(0)
        u, s, vt = np.linalg.svd(r - mu, full_matrices=False)
        sd = s / np.sqrt(len(r) - 1)
        x = dev[key] ** power - mu
        proj = x @ vt[:k].T
        resid = x - proj @ vt[:k]
        scale = sd[:k] + shrink * sd[:k].mean()
        z = np.concatenate([proj / scale * sd[:k].mean(), resid], axis=1)
        return l2(z)
    return f


def hellinger(key):
    """sqrt of a histogram less the reference mean of those square roots, L2."""
    def f(dev, ref):
        return l2(np.sqrt(dev[key]) - np.sqrt(ref[key]).mean(0))
    return f


def standardised(key):
    """(statistics - reference mean) / reference std, L2."""
    def f(dev, ref):
        r = ref[key]
        return l2((dev[key] - r.mean(0)) / r.std(0))
    return f
