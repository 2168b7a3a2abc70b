#!/usr/bin/python3
"""Shared helpers of the experiment scripts: loading the dumped features, the basic recipe
steps, and a rule-independent separability measure (AUC of the gap scores)."""
import json
import os

import numpy as np

from evalprints import SET_DIR, evaluate

STUDY = os.environ.get("VELTO_STUDY", "/tmp/study")
DEV_LIST = os.path.join(STUDY, "dev_list.txt")


def load(kind, variant="orig", tag="mnv2"):
    d = np.load(os.path.join(STUDY, f"feat_{kind}_{variant}.npz" if tag == "mnv2"
                             else f"feat_{tag}_{kind}_{variant}.npz"))
    return {k: d[k] for k in d.files}


def dev_paths():
    return open(DEV_LIST).read().split()


def l2(x):
    return x / np.linalg.norm(x, axis=-1, keepdims=True)


def with_constant(x, c):
    return np.concatenate([x, np.full((x.shape[0], 1), c, dtype=x.dtype)], axis=1)


def prints_of(rows, index):
    paths = dev_paths()
    return {paths[i - 1]: v for i, v in zip(index, rows)}


def _gap_scores(x):
    """Gap scores of the fixed rules for photos in order (all in one run)."""
    n = len(x)
    d = np.zeros(n - 1)
    for i in range(n - 1):
        b = x[max(0, i - 2):i + 1].mean(0)
        a = x[i + 1:i + 4].mean(0)
        d[i] = np.linalg.norm(b / np.linalg.norm(b) - a / np.linalg.norm(a))
    return d


def gap_auc(prints, set_dir=SET_DIR):
    """AUC of the gap scores of the one_group job: how well true scene boundaries score above
    the gaps inside scenes, whatever the threshold."""
    job = json.load(open(os.path.join(set_dir, "jobs", "one_group.json")))
    truth = json.load(open(os.path.join(set_dir, "truth", "one_group.json")))["groups"]
    x = np.stack([prints[p] for p in job["photos"]]).astype(np.float64)
    d = _gap_scores(x)
    lab = np.array([truth[i] != truth[i + 1] for i in range(len(d))])
    pos, neg = d[lab], d[~lab]
    return float((pos[:, None] > neg[None, :]).mean() + 0.5 * (pos[:, None] == neg[None, :]).mean())


def score(rows, index, c):
    prints = prints_of(with_constant(rows, c), index)
    r = evaluate(prints)
    r["AUC"] = gap_auc(prints)
    return r


def pair_auc(x, index, span=3, set_dir=SET_DIR):
    """AUC of cosine similarity for photo pairs at most `span` apart in the one_group order:
    same-scene pairs should be more similar than pairs across a scene change."""
    job = json.load(open(os.path.join(set_dir, "jobs", "one_group.json")))
    truth = json.load(open(os.path.join(set_dir, "truth", "one_group.json")))["groups"]
    P = prints_of(l2(x), index)
    X = np.stack([P[p] for p in job["photos"]]).astype(np.float64)
    pos, neg = [], []
    for i in range(len(X)):
        for j in range(i + 1, min(len(X), i + span + 1)):
            (pos if truth[i] == truth[j] else neg).append(X[i] @ X[j])
    pos, neg = np.array(pos), np.array(neg)
    return float((pos[:, None] > neg[None, :]).mean())


AUG_SETS = sorted(os.path.join(STUDY, "aug", d) for d in os.listdir(os.path.join(STUDY, "aug"))
                  if d.startswith("seed")) if os.path.isdir(os.path.join(STUDY, "aug")) else []


def score_aug(rows, index, c):
    """The dev set plus the same photos re-jobbed with other seeds (make_aug.sh): mean rF1 and
    ARI over all jobs except per_scene, and whether per_scene stays uncut."""
    prints = prints_of(with_constant(rows, c), index)
    dev = evaluate(prints)
    res = [dev] + [evaluate(prints, set_dir=s) for s in AUG_SETS]
    return {"dev": dev, "rF1_8": float(np.mean([r["rF1_8"] for r in res])),
            "ARI_8": float(np.mean([r["ARI_8"] for r in res])), "per_scene_ok": dev["per_scene_ok"],
            "AUC": gap_auc(prints)}
