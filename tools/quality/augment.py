#!/usr/bin/python3
"""Re-exposed, re-balanced and re-framed copies of the reference photos' network inputs.

  augment.py WORK OUT     writes OUT/NNN_KIND.png (224 x 224) for every reference photo that
                          decoded (WORK/dump/ref), OUT/list.txt (their paths) and OUT/meta.txt
                          ("photo-index kind" a line, in the same order)

study.py measures how the features move under these changes (the nuisance maps: nz, cz, jz).
Exposure and white balance are applied in linear light, then encoded and rounded to 8 bits, so
a frame 3 EV under loses its shadows the way a real under-exposed JPEG does.
"""
import os
import struct
import sys
import zlib

import numpy as np

SIDE = 224


def write_png(path, rgb):
    h, w, _ = rgb.shape
    raw = b"".join(b"\x00" + rgb[y].tobytes() for y in range(h))

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def to_linear(levels):
    x = levels / 255.0
    return np.where(x <= 0.04045, x / 12.92, ((x + 0.055) / 1.055) ** 2.4)


def to_levels(linear):
    x = np.clip(linear, 0.0, 1.0)
    s = np.where(x <= 0.0031308, 12.92 * x, 1.055 * x ** (1 / 2.4) - 0.055)
    return np.rint(s * 255.0).astype(np.uint8)


def crop(levels, y0, y1, x0, x1):
    """The window [y0, y1) x [x0, x1) scaled back to SIDE x SIDE, bilinear."""
    ys = np.linspace(y0, y1 - 1, SIDE)
    xs = np.linspace(x0, x1 - 1, SIDE)
    yi, xi = np.floor(ys).astype(int), np.floor(xs).astype(int)
    yj, xj = np.minimum(yi + 1, SIDE - 1), np.minimum(xi + 1, SIDE - 1)
    fy, fx = (ys - yi)[:, None, None], (xs - xi)[None, :, None]
    a = levels.astype(np.float64)
    out = (a[yi][:, xi] * (1 - fy) * (1 - fx) + a[yj][:, xi] * fy * (1 - fx)
           + a[yi][:, xj] * (1 - fy) * fx + a[yj][:, xj] * fy * fx)
    return np.rint(out).astype(np.uint8)


KINDS = {f"ev{ev:+d}": (lambda a, ev=ev: to_levels(to_linear(a) * 2.0 ** ev))
         for ev in (-3, -2, -1, 1, 2, 3)}
KINDS.update({
    "warm": lambda a: to_levels(to_linear(a) * np.array([1.35, 1.0, 0.7])),
    "cool": lambda a: to_levels(to_linear(a) * np.array([0.7, 1.0, 1.35])),
    "tint": lambda a: to_levels(to_linear(a) * np.array([1.15, 0.85, 1.15])),
    "gam07": lambda a: np.rint(255.0 * (a / 255.0) ** 0.7).astype(np.uint8),
    "gam14": lambda a: np.rint(255.0 * (a / 255.0) ** 1.4).astype(np.uint8),
    "crop85": lambda a: crop(a, 17, 207, 17, 207),
    "shiftL": lambda a: crop(a, 20, 204, 0, 184),
    "shiftR": lambda a: crop(a, 20, 204, 40, 224),
})


def main(work, out):
    ok = np.fromfile(os.path.join(work, "dump", "ref", "ok.u8"), dtype=np.uint8).astype(bool)
    inputs = np.fromfile(os.path.join(work, "dump", "ref", "input_product.u8"),
                         dtype=np.uint8).reshape(len(ok), SIDE, SIDE, 3)
    os.makedirs(out, exist_ok=True)
    paths, meta = [], []
    for i in np.flatnonzero(ok):
        for kind, make in [("orig", lambda a: a)] + list(KINDS.items()):
            path = os.path.join(out, f"{i:03d}_{kind}.png")
            write_png(path, make(inputs[i]))
            paths.append(path)
            meta.append(f"{i} {kind}")
    for name, lines in (("list.txt", paths), ("meta.txt", meta)):
        with open(os.path.join(out, name), "w") as f:
            f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
