#!/usr/bin/python3
"""How the series grouping was chosen, and how it compares with the fixed rules on the same prints.

  series_study.py prepare WORK     the long-series set (long_series.py), every photo's print of
                                   dev, bursts and long (velto-fprint-embed), derived job draws
  series_study.py fit WORK         fits the evidence weights on half A of all three sets
  series_study.py score WORK       fixed rules and series grouping side by side, through
                                   velto-fprint-replay --rules, on halves A, B and the whole sets

The evidence of a gap is a logistic regression on features the job itself gives (the fixed
rules' cut and candidate; at windows of 1, 2 and 3 photos a side: the score over its threshold
from the time-group changes, its prominence over the neighbouring gaps over that threshold, the
score). It is fitted on the in-run gaps of half A (every set weighted alike), confirmed on half
B; the decision rule (peaks within one gap inside the run, pieces of two, the least probability
of a cut) is chosen on A too: `fit` prints the worst set's in-run F1 and ARI on A for every
probability tried, and the one taken is where the neighbours score alike.
The fit here is the reference implementation of src/core/series.cpp in double precision; `score`
measures the shipped binary itself. Environment: BUILD (default ROOT/build), DRAWS (default 5).
"""
import importlib.util
import json
import os
import struct
import subprocess
import sys

import numpy as np

import bench_sets

_spec = importlib.util.spec_from_file_location("score", os.path.join(bench_sets.BENCH, "score.py"))
SCORE = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(SCORE)

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.environ.get("BUILD", os.path.join(bench_sets.ROOT, "build"))
DRAWS = int(os.environ.get("DRAWS", "5"))
BASES = ("dev", "bursts", "long")
_in_half = bench_sets.in_half


def in_half(base, scene, half):  # long-series scenes keep the halves of the set they came from
    return _in_half(scene.get("base", base), scene, half)


bench_sets.in_half = in_half


def bench_of(work, base):
    return os.path.join(work, "bench") if base == "long" else bench_sets.BENCH


def set_dirs(work, base, half):
    return [bench_sets.derive(work, base, half, d, bench=bench_of(work, base))
            for d in range(DRAWS)]


def prepare(work):
    bench = os.path.join(work, "bench")
    if not os.path.exists(os.path.join(bench, "long", "manifest.json")):
        os.makedirs(bench, exist_ok=True)
        for f in ("score.py", "gen_jobs.py"):
            if not os.path.lexists(os.path.join(bench, f)):
                os.symlink(os.path.join(bench_sets.BENCH, f), os.path.join(bench, f))
        subprocess.run(["/usr/bin/python3", os.path.join(HERE, "long_series.py"), bench], check=True)
    for base in BASES:
        out = os.path.join(work, "prints", base)
        if os.path.exists(os.path.join(out, "job.json")):
            continue
        os.makedirs(out, exist_ok=True)
        man = bench_sets.manifest(base, bench_of(work, base))
        files = [os.path.join(bench_of(work, base), base, p["file"])
                 for s in man["scenes"] for p in s["photos"]]
        with open(os.path.join(work, f"all-{base}.json"), "w") as f:
            json.dump({"photos": files, "timeGroups": [1] * len(files)}, f)
        subprocess.run([os.path.join(BUILD, "velto-fprint-embed"),
                        os.path.join(work, f"all-{base}.json"), out], check=True,
                       stdout=subprocess.DEVNULL)
    for base in BASES:
        for half in ("all", "A", "B"):
            set_dirs(work, base, half)


def print_files(work, base):
    """Photo path as the jobs name it -> its print file."""
    with open(os.path.join(work, f"all-{base}.json")) as f:
        files = json.load(f)["photos"]
    with open(os.path.join(work, "prints", base, "job.json")) as f:
        prints = json.load(f)["photos"]
    out = {}
    for src, p in zip(files, prints):
        path = p if os.path.isabs(p) else os.path.join(work, "prints", base, os.path.basename(p))
        out["images/" + os.path.basename(src)] = path
    return out


def load(path):
    raw = open(path, "rb").read() if os.path.exists(path) else b""
    if len(raw) < 4:
        return None
    kind = struct.unpack("<I", raw[:4])[0] & 0xFFFF
    return np.frombuffer(raw[4:], dtype="<f4" if kind == 1 else "<f8").astype(np.float64)


def jobs_of(set_dir):
    for name in sorted(os.listdir(os.path.join(set_dir, "jobs"))):
        job = json.load(open(os.path.join(set_dir, "jobs", name)))
        truth = json.load(open(os.path.join(set_dir, "truth", name)))["groups"]
        yield name, job["photos"], [int(t) for t in job["timeGroups"]], truth


# ---- the reference grouping, double precision ----
def runs_of(tg):
    runs, i = [], 0
    while i < len(tg):
        if tg[i] <= 0:
            i += 1
            continue
        j = i
        while j + 1 < len(tg) and tg[j + 1] == tg[i]:
            j += 1
        runs.append((i, j))
        i = j + 1
    return runs


def unit(v):
    n = np.linalg.norm(v)
    return v / n if n > 0 else v


def scores(tg, vecs, ok, w):
    n = len(tg)
    D = np.zeros(max(n - 1, 0))
    for i in range(n - 1):
        a = [vecs[p] for p in range(max(0, i - w + 1), i + 1) if ok[p]]
        b = [vecs[p] for p in range(i + 1, min(n, i + 1 + w)) if ok[p]]
        if a and b:
            D[i] = np.linalg.norm(unit(np.mean(a, 0)) - unit(np.mean(b, 0)))
    return D


def threshold(D, runs, fallback, lo, hi):
    cd = [D[runs[k][1]] for k in range(len(runs) - 1) if runs[k][1] + 1 == runs[k + 1][0]]
    return fallback if len(cd) < 3 else float(min(max(np.median(cd), lo), hi))


def features(tg, vecs):
    """Per gap: fixed cut, fixed candidate, (score/T, prominence/T, score) at windows 1..3, 1."""
    dims = next((len(v) for t, v in zip(tg, vecs) if t > 0 and v is not None), None)
    ok = [t > 0 and v is not None and len(v) == dims for t, v in zip(tg, vecs)]
    runs = runs_of(tg)
    Ds = [scores(tg, vecs, ok, w) for w in (1, 2, 3)]
    Ts = [threshold(D, runs, 0.54, 0.3, 0.9) for D in Ds]
    D3, t_split = Ds[2], threshold(Ds[2], runs, 0.54, 0.45, 0.62)
    fixed_cuts = set(fixed_rules(runs, D3, t_split))
    F = []
    for i in range(len(tg) - 1):
        peak = D3[i] >= t_split and all(D3[j] <= D3[i] for j in range(max(0, i - 2), min(len(D3), i + 3)))
        f = [float(i in fixed_cuts), float(peak)]
        for D, T in zip(Ds, Ts):
            nb = [D[j] for j in (i - 1, i + 1) if 0 <= j < len(D)]
            f += [D[i] / T, (D[i] - max(nb)) / T if nb else 0.0, D[i]]
        F.append(f + [1.0])
    return np.array(F).reshape(-1, 12), runs


def peak_cuts(runs, z, floor, radius, whole_job):
    """In each run, the gaps whose z reaches floor and is no less than any within radius (the
    fixed rules look across the run's ends, the series grouping inside it), strongest first,
    each kept when both pieces hold two photos."""
    cuts = []
    for a, b in runs:
        lo, hi = (0, len(z) - 1) if whole_job else (a, b - 1)
        cands = [i for i in range(a, b) if z[i] >= floor and
                 all(z[j] <= z[i] for j in range(max(lo, i - radius), min(hi, i + radius) + 1))]
        cands.sort(key=lambda i: -z[i])
        bounds = [a - 1, b]
        for c in cands:
            k = next(k for k, x in enumerate(bounds) if x > c)
            if c - bounds[k - 1] >= 2 and bounds[k] - c >= 2:
                bounds.insert(k, c)
        cuts += bounds[1:-1]
    return cuts


def fixed_rules(runs, D, t_split):
    return peak_cuts(runs, D, t_split, 2, True)


def series_cuts(runs, z, floor):
    return peak_cuts(runs, z, floor, 1, False)


def numbered(tg, cuts):
    cuts, g, out = set(cuts), 0, []
    for i, t in enumerate(tg):
        if t <= 0:
            out.append(0)
            continue
        if i == 0 or tg[i - 1] != t or (i - 1) in cuts:
            g += 1
        out.append(g)
    return out


def fit(work):
    X, y, w = [], [], []
    for base in BASES:
        files = print_files(work, base)
        vecs_of = {p: load(f) for p, f in files.items()}
        bx, by = [], []
        for sd in set_dirs(work, base, "A"):
            for name, photos, tg, truth in jobs_of(sd):
                F, _ = features(tg, [vecs_of.get(p) for p in photos])
                for i in range(len(tg) - 1):
                    if tg[i] > 0 and tg[i] == tg[i + 1] and truth[i] and truth[i + 1]:
                        bx.append(F[i])
                        by.append(float(truth[i] != truth[i + 1]))
        X += bx
        y += by
        w += [1.0 / len(by)] * len(by)
    X, y, w = np.array(X), np.array(y), np.array(w) / sum(w)
    beta = np.zeros(X.shape[1])
    for _ in range(50):  # Newton steps, a touch of ridge
        p = 1 / (1 + np.exp(-X @ beta))
        g = X.T @ (w * (p - y)) + 1e-3 * beta
        H = (X * (w * p * (1 - p))[:, None]).T @ X + 1e-3 * np.eye(len(beta))
        beta -= np.linalg.solve(H, g)
    print("weights: fixed cut, fixed candidate, (score/T, prominence/T, score) x windows 1..3, bias")
    print(", ".join(f"{b:.6g}" for b in beta))
    for p in (0.3, 0.35, 0.4, 0.45, 0.5, 0.55):
        worst = None
        for base in BASES:
            vecs_of = {q: load(f) for q, f in print_files(work, base).items()}
            f1, ari = [], []
            for sd in set_dirs(work, base, "A"):
                jf, ja = [], []
                for name, photos, tg, truth in jobs_of(sd):
                    F, runs = features(tg, [vecs_of.get(q) for q in photos])
                    got = numbered(tg, series_cuts(runs, F @ beta, np.log(p / (1 - p))))
                    s = SCORE.score(truth, got, tg)
                    jf.append(s["rF1"])
                    ja.append(s["ARI"])
                f1.append(np.mean(jf))
                ari.append(np.mean(ja))
            here = (np.mean(f1), np.mean(ari), base)
            worst = here if worst is None or here < worst else worst
        print(f"probability {p}: worst set on A {worst[2]}: in-run F1 {worst[0]:.3f} ARI {worst[1]:.3f}")


def score(work):
    replay = os.path.join(BUILD, "velto-fprint-replay")
    print("set-half".ljust(12) + "fixed rules F1 / ARI".rjust(24) + "series F1 / ARI".rjust(20))
    for base in BASES:
        files = print_files(work, base)
        for half in ("A", "B", "all"):
            res = {}
            for rules in ("platform", "series"):
                f1, ari = [], []
                for d, sd in enumerate(set_dirs(work, base, half)):
                    out = os.path.join(work, "runs", rules, os.path.basename(sd))
                    s = bench_sets.replay_set(sd, files, replay, out, ["--rules", rules])
                    f1.append(s["rF1"])
                    ari.append(s["ARI"])
                res[rules] = (np.mean(f1), np.mean(ari))
            print(f"{base}-{half}".ljust(12) + f"{res['platform'][0]:.3f} / {res['platform'][1]:.3f}".rjust(24)
                  + f"{res['series'][0]:.3f} / {res['series'][1]:.3f}".rjust(20))


def main(argv):
    if len(argv) != 3 or argv[1] not in ("prepare", "fit", "score"):
        print(__doc__, file=sys.stderr)
        return 2
    {"prepare": prepare, "fit": fit, "score": score}[argv[1]](os.path.abspath(argv[2]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
