#!/usr/bin/python3
"""Try print recipes offline against the developer sets, the way that cannot fool itself.

  study.py prepare WORK            per-photo data of both sets and of the reference photos
                                   (velto-study-dump, built with -DVELTO_STUDY=ON), the derived
                                   sets (bench_sets.py) and their ceilings
  study.py score WORK HALF RECIPE...   score recipes on HALF: "A" (choose), "B" (confirm) or
                                   "all" (the whole sets); prints one table row per recipe

Every recipe is scored on each developer set of the half, over DRAWS re-dealt job draws of the
same photos, with the real rules (velto-fprint-replay) and score.py. Its standing on a set is
its mean in-run F1 and ARI over the draws as a share of the set's own ceiling (ceiling.py on
the same draws); a recipe ranks by its worst set, never by a mean over sets. Choose on half A,
then score only the chosen recipe and the product on half B.

A recipe is a string of key=value fields, e.g. "net=product col=rgb w=1.5 c=1.0":
  net=V     pooled activations of network-input variant V (velto-study-dump variants), or none
  col=D     colour layout: rgb (2x2 quadrants, joint RGB 4x4x4, as shipped), gw (the same after
            each channel is divided by its mean, mapped to level gws*255), chroma (2x2, 8x8
            chromaticity r, g of the grey-world balanced pixels), none
  src=V     the input variant the colour layout is taken from (default product); lumstdS is
            lumstd at strength S (0 to 1), made here from the product's input
  w=        weight of the colour part (default 1.5);  c= the appended constant (default 1.0)
  gws=      grey-world level of the mean (default 0.5)
  nb=, q=   rgb: levels per channel (default 4), cells per side of the grid (default 2)
  col2=, src2=, w2=, q2=, nb2=   a second colour part, as col, src, w, q, nb; col=hog is the
            gradient layout (nb orientations, q x q cells) instead of a colour layout: with
            q=4 nb=8 the shipped one (velto-study-dump's gradient_V.f32), otherwise
            gradient_layout below (the same but for gradients on a sector's edge, which
            it bins by their arctangent)
  pw=      the network part's centred values raised to this power, sign kept (default 1)
  net2=, wn2=   a second network part (another input variant) and its weight
  nz=, cz=, jz=   nuisance maps of strength a (default 0: none) on the network part, the colour
            part, or both joined: x -> (I + a N)^-1/2 x, N the covariance of how the reference
            photos' features move under re-exposure (-3 to +3 EV), white balance, gamma (and
            with aug=all also crops and shifts), from augment.py's copies; nk=K removes the top
            K such directions of the network part instead
The means subtracted from both parts are the reference photos' means of the same recipe.
Prints are built in double precision here; velto-fprint's own float prints differ by ~1e-7.

Environment: BUILD (default ROOT/build) holds velto-fprint-replay and tools/velto-study-dump;
REFLIST the reference photo list (tools/refmean/fetch_photos.sh OUT writes OUT/list.txt);
DRAWS (default 5).
"""
import concurrent.futures
import json
import os
import subprocess
import sys

import numpy as np

import bench_sets

SIDE = 224
HERE = os.path.dirname(os.path.abspath(__file__))
BASES = ("dev", "bursts")
BUILD = os.environ.get("BUILD", os.path.join(bench_sets.ROOT, "build"))
REPLAY = os.path.join(BUILD, "velto-fprint-replay")
DUMP = os.path.join(BUILD, "tools", "velto-study-dump")
DRAWS = int(os.environ.get("DRAWS", "5"))


def photo_files(base):
    man = bench_sets.manifest(base)
    return [p["file"] for s in man["scenes"] for p in s["photos"]]


def prepare(work):
    reflist = os.environ.get("REFLIST")
    if not reflist:
        sys.exit("study.py prepare: set REFLIST to the reference photo list")
    for base in BASES + ("ref",):
        out = os.path.join(work, "dump", base)
        if os.path.exists(os.path.join(out, "ok.u8")):
            continue
        os.makedirs(out, exist_ok=True)
        with open(os.path.join(out, "list.txt"), "w") as f:
            if base == "ref":
                f.write(open(reflist).read())
            else:
                for p in photo_files(base):
                    f.write(os.path.join(bench_sets.BENCH, base, p) + "\n")
        subprocess.run([DUMP, os.path.join(out, "list.txt"), out], check=True)
    aug = os.path.join(work, "dump", "aug")
    if not os.path.exists(os.path.join(aug, "ok.u8")):
        images = os.path.join(work, "aug-images")
        subprocess.run(["/usr/bin/python3", os.path.join(HERE, "augment.py"), work, images],
                       check=True)
        os.makedirs(aug, exist_ok=True)
        subprocess.run([DUMP, os.path.join(images, "list.txt"), aug, "product"], check=True)
        os.replace(os.path.join(images, "meta.txt"), os.path.join(aug, "meta.txt"))
    for base in BASES:
        for half in ("all", "A", "B"):
            for draw in range(DRAWS):
                d = bench_sets.derive(work, base, half, draw)
                c = bench_sets.ceiling(d, REPLAY)
                print(f"{os.path.basename(d)}: ceiling in-run F1 {c['rF1']:.3f} ARI {c['ARI']:.3f}")


class Dump:
    """The per-photo data of one photo list, loaded lazily."""

    def __init__(self, work, base):
        self.dir = os.path.join(work, "dump", base)
        self.ok = np.fromfile(os.path.join(self.dir, "ok.u8"), dtype=np.uint8).astype(bool)
        self.n = len(self.ok)
        self.cache = {}

    def pooled(self, variant):
        key = ("pooled", variant)
        if key not in self.cache:
            self.cache[key] = np.fromfile(os.path.join(self.dir, f"pooled_{variant}.f32"),
                                          dtype=np.float32).reshape(self.n, -1).astype(np.float64)
        return self.cache[key]

    def gradient(self, variant):
        """The shipped gradient layout of the variant's input, or None where it was not dumped."""
        key = ("gradient", variant)
        path = os.path.join(self.dir, f"gradient_{variant}.f32")
        if key not in self.cache and os.path.exists(path):
            self.cache[key] = np.fromfile(path, dtype=np.float32).reshape(self.n, -1).astype(
                np.float64)
        return self.cache.get(key)

    def input(self, variant):
        if variant.startswith("lumstd") and variant != "lumstd":
            return luma_standardised(self.input("product"), float(variant[6:]))
        key = ("input", variant)
        if key not in self.cache:
            self.cache[key] = np.fromfile(os.path.join(self.dir, f"input_{variant}.u8"),
                                          dtype=np.uint8).reshape(self.n, SIDE, SIDE, 3)
        return self.cache[key]


def luma_standardised(levels, strength, mean=0.45, deviation=0.2):
    """Inputs moved `strength` of the way to luma mean `mean` and deviation `deviation` by one
    affine map of all channels (velto-study-dump's lumstd is strength 1)."""
    x = levels.astype(np.float64) / 255.0
    luma = x @ np.array([0.299, 0.587, 0.114])
    m = luma.reshape(len(x), -1).mean(axis=1)
    sd = luma.reshape(len(x), -1).std(axis=1)
    k = deviation / np.maximum(sd, 0.02)
    full = np.clip((x - m[:, None, None, None]) * k[:, None, None, None] + mean, 0.0, 1.0)
    y = strength * full + (1.0 - strength) * x
    return np.rint(y * 255.0).astype(np.uint8)


def quadrant_hist(bins_per_pixel, nbins, q=2):
    """Fractions of the picture per cell of a q x q grid and bin: (n, q*q*nbins)."""
    n = bins_per_pixel.shape[0]
    cell = (np.arange(SIDE) * q // SIDE)
    cells = (cell[:, None] * q + cell[None, :]).reshape(-1)
    flat = bins_per_pixel.reshape(n, -1) + (cells * nbins)[None, :]
    out = np.zeros((n, q * q * nbins))
    for i in range(n):
        out[i] = np.bincount(flat[i], minlength=q * q * nbins)
    return out / (SIDE * SIDE)


def colour_layout(levels, kind, gws=0.5, nb=4, q=2):
    x = levels.astype(np.float64)
    if kind == "rgb":
        b = (levels.astype(np.int64) * nb) // 256
        return quadrant_hist((b[..., 0] * nb + b[..., 1]) * nb + b[..., 2], nb ** 3, q)
    if kind == "gw":
        mean = x.reshape(len(x), -1, 3).mean(axis=1)[:, None, None, :]
        v = np.clip(x / np.maximum(mean, 1.0) * (gws * 255.0), 0, 255.0)
        b = np.minimum((v * 4 / 256).astype(np.int64), 3)
        return quadrant_hist(b[..., 0] * 16 + b[..., 1] * 4 + b[..., 2], 64)
    if kind == "chroma":
        mean = x.reshape(len(x), -1, 3).mean(axis=1)[:, None, None, :]
        v = x / np.maximum(mean, 1.0)
        s = v.sum(axis=-1)
        dark = x.sum(axis=-1) < 12  # too dark for a colour: a bin of its own
        r = np.minimum((v[..., 0] / np.maximum(s, 1e-9) * 8).astype(np.int64), 7)
        g = np.minimum((v[..., 1] / np.maximum(s, 1e-9) * 8).astype(np.int64), 7)
        b = np.where(dark, 64, r * 8 + g)
        return quadrant_hist(b, 65)
    if kind == "hog":
        return gradient_layout(levels, nb, q)
    raise ValueError(kind)


def gradient_layout(levels, nbins=8, q=4, eps=8.0):
    """Orientations of the log-luma gradients, weighted by their strength, per cell of a q x q
    grid, each cell scaled to unit length (a floor of half the mean cell keeps flat cells quiet);
    src/embedding/gradient_layout.cpp computes the 4 x 4 x 8 one shipped.
    Exposure scales luma, which the logarithm turns into an offset that gradients ignore."""
    x = levels.astype(np.float64)
    luma = np.log(x @ np.array([0.299, 0.587, 0.114]) + eps)
    n = len(x)
    luma = luma.reshape(n, SIDE // 2, 2, SIDE // 2, 2).mean(axis=(2, 4))
    gx = np.zeros_like(luma)
    gy = np.zeros_like(luma)
    gx[:, :, 1:-1] = luma[:, :, 2:] - luma[:, :, :-2]
    gy[:, 1:-1, :] = luma[:, 2:, :] - luma[:, :-2, :]
    mag = np.hypot(gx, gy)
    ang = np.mod(np.arctan2(gy, gx), np.pi)
    b = np.minimum((ang / np.pi * nbins).astype(np.int64), nbins - 1)
    side = SIDE // 2
    cell = np.arange(side) * q // side
    cells = (cell[:, None] * q + cell[None, :]).reshape(-1)
    flat = b.reshape(n, -1) + (cells * nbins)[None, :]
    out = np.zeros((n, q * q * nbins))
    for i in range(n):
        out[i] = np.bincount(flat[i], weights=mag[i].reshape(-1), minlength=q * q * nbins)
    h = out.reshape(n, q * q, nbins)
    norm = np.linalg.norm(h, axis=2, keepdims=True)
    floor = norm.mean(axis=1, keepdims=True) * 0.5
    return (h / (norm + floor + 1e-12)).reshape(n, -1) / q


DEFAULTS = {"net": "product", "col": "rgb", "src": "product", "w": 1.5, "c": 1.0, "gws": 0.5,
            "nb": 4, "q": 2, "col2": "none", "src2": "product", "w2": 0.0, "q2": 2, "nb2": 4,
            "net2": "none", "wn2": 1.0, "pw": 1.0, "nz": 0.0, "nk": 0, "cz": 0.0, "jz": 0.0,
            "aug": "photo"}


def parse_recipe(text):
    """The recipe's fields over DEFAULTS, each read as the type of its default."""
    r = dict(DEFAULTS)
    for field in text.split():
        k, v = field.split("=")
        r[k] = type(DEFAULTS[k])(v)
    return r


def unit(m):
    norm = np.linalg.norm(m, axis=1, keepdims=True)
    return m / np.where(norm > 0, norm, 1.0)


PHOTOMETRIC = ("ev-3", "ev-2", "ev-1", "ev+1", "ev+2", "ev+3", "warm", "cool", "tint",
               "gam07", "gam14")


def nuisance_map(r, key, features, dumps):
    """A linear map that shrinks the directions along which the reference photos' features move
    when the photo is re-exposed, re-balanced or re-framed (dump "aug": augmented copies of the
    reference inputs): x -> (I + a N)^-1/2 x, N the covariance of those moves scaled to a mean
    eigenvalue of 1, a = r[key]; with nk > 0 (network only) the top nk directions are removed."""
    a = r[key]
    k = r["nk"] if key == "nz" else 0
    if a <= 0 and k <= 0:
        return lambda x: x
    aug = dumps["aug"]
    meta = [line.split() for line in open(os.path.join(aug.dir, "meta.txt"))]
    f = features(aug)
    orig = {int(m[0]): j for j, m in enumerate(meta) if m[1] == "orig"}
    keep = [j for j, m in enumerate(meta)
            if m[1] != "orig" and (r["aug"] == "all" or m[1] in PHOTOMETRIC)]
    d = f[keep] - f[[orig[int(meta[j][0])] for j in keep]]
    n = d.T @ d / len(d)
    vals, vecs = np.linalg.eigh(n / (np.trace(n) / len(n)))
    if k > 0:
        top = vecs[:, -k:]
        return lambda x: x - (x @ top) @ top.T
    m = vecs @ np.diag(1.0 / np.sqrt(1.0 + a * np.maximum(vals, 0))) @ vecs.T
    return lambda x: x @ m


def prints(recipe, dumps):
    """{base: (n, dims) prints} for the recipe, centred on the reference photos."""
    r = parse_recipe(recipe)
    names = BASES + (("aug",) if r["jz"] > 0 else ())
    parts = {b: [] for b in names}
    if r["net"] != "none":
        ref = dumps["ref"].pooled(r["net"]).mean(axis=0)
        nmap = nuisance_map(r, "nz", lambda dd: dd.pooled(r["net"]), dumps)
        for b in names:
            d = nmap(dumps[b].pooled(r["net"]) - ref)
            parts[b].append(unit(np.sign(d) * np.abs(d) ** r["pw"]))
    if r["net2"] != "none":
        ref = dumps["ref"].pooled(r["net2"]).mean(axis=0)
        for b in names:
            parts[b].append(unit(dumps[b].pooled(r["net2"]) - ref) * r["wn2"])
    def layout(d, kind, src, nb, q):
        if kind == "hog" and (nb, q) == (8, 4) and d.gradient(src) is not None:
            return d.gradient(src)
        return colour_layout(d.input(src), kind, r["gws"], nb, q)

    if r["col"] != "none":
        def col(d):
            return np.sqrt(layout(d, r["col"], r["src"], r["nb"], r["q"]))
        ref = col(dumps["ref"]).mean(axis=0)
        cmap = nuisance_map(r, "cz", col, dumps)
        for b in names:
            parts[b].append(unit(cmap(col(dumps[b]) - ref)) * r["w"])
    if r["col2"] != "none":
        def col2(d):
            return np.sqrt(layout(d, r["col2"], r["src2"], r["nb2"], r["q2"]))
        ref = col2(dumps["ref"]).mean(axis=0)
        for b in names:
            parts[b].append(unit(col2(dumps[b]) - ref) * r["w2"])
    joined = {b: np.concatenate(parts[b], axis=1) for b in names}
    jmap = nuisance_map(r, "jz", lambda _: joined["aug"], dumps)
    out = {}
    for b in BASES:
        v = unit(jmap(joined[b]))
        out[b] = np.concatenate([v, np.full((len(v), 1), r["c"])], axis=1)
    return out


def set_names(half):
    return [(b, half) for b in BASES]


def score(work, half, recipes):
    dumps = {b: Dump(work, b) for b in BASES + ("ref",)}
    if os.path.exists(os.path.join(work, "dump", "aug", "ok.u8")):
        dumps["aug"] = Dump(work, "aug")
    files = {b: photo_files(b) for b in BASES}
    ceilings = {}
    for b, h in set_names(half):
        cs = [bench_sets.ceiling(bench_sets.derive(work, b, h, d), REPLAY) for d in range(DRAWS)]
        ceilings[b] = {k: np.mean([c[k] for c in cs]) for k in cs[0]}
    rows = []
    for recipe in recipes:
        tag = "".join(ch if ch.isalnum() or ch in ".=" else "_" for ch in recipe)
        run = os.path.join(work, "runs", tag)
        cache = os.path.join(run, f"score-{half}-{DRAWS}.json")
        if os.path.exists(cache):
            with open(cache) as f:
                rows.append((recipe, json.load(f)))
            continue
        vecs = prints(recipe, dumps)
        print_of = {}
        for b in BASES:
            os.makedirs(os.path.join(run, "prints", b), exist_ok=True)
            print_of[b] = {}
            for i, f in enumerate(files[b]):
                if not dumps[b].ok[i]:
                    continue
                path = os.path.join(run, "prints", b, os.path.basename(f) + ".print")
                bench_sets.write_print(path, vecs[b][i])
                print_of[b][f] = path
        tasks = [(b, h, d) for b, h in set_names(half) for d in range(DRAWS)]
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            got = list(pool.map(lambda t: bench_sets.replay_set(
                bench_sets.derive(work, t[0], t[1], t[2]), print_of[t[0]], REPLAY,
                os.path.join(run, f"{t[0]}-{t[1]}-d{t[2]}")), tasks))
        result = {}
        for b, _ in set_names(half):
            mine = [g for t, g in zip(tasks, got) if t[0] == b]
            mean = {k: float(np.mean([m[k] for m in mine])) for k in mine[0]}
            mean["rF1min"] = float(min(m["rF1"] for m in mine))
            for k in ("rF1", "ARI", "bF1"):
                mean["share_" + k] = mean[k] / ceilings[b][k]
            result[b] = mean
        with open(cache, "w") as f:
            json.dump(result, f)
        rows.append((recipe, result))
    print(f"half {half}, {DRAWS} job draws; ceilings: " + ", ".join(
        f"{b} {ceilings[b]['rF1']:.3f}/{ceilings[b]['ARI']:.3f}" for b in BASES))
    head = " ".join(f"{b + ' F1/ARI (share)':>30s}" for b in BASES)
    print(f"{'worst F1%':>9s} {'worst ARI%':>10s} {head}  recipe")
    for recipe, res in sorted(rows, key=lambda r: -min(v["share_rF1"] for v in r[1].values())):
        wf = min(v["share_rF1"] for v in res.values()) * 100
        wa = min(v["share_ARI"] for v in res.values()) * 100
        cols = " ".join(
            f"{res[b]['rF1']:.3f}/{res[b]['ARI']:.3f} ({res[b]['share_rF1'] * 100:3.0f}/"
            f"{res[b]['share_ARI'] * 100:3.0f}%)".rjust(30) for b in BASES)
        print(f"{wf:9.1f} {wa:10.1f} {cols}  {recipe}")


def main(argv):
    if len(argv) >= 2 and argv[0] == "prepare":
        prepare(argv[1])
    elif len(argv) >= 4 and argv[0] == "score" and argv[2] in ("A", "B", "all"):
        score(argv[1], argv[2], argv[3:])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
