#!/usr/bin/python3
"""Check a converted trunk.onnx with OpenCV's dnn module.

For every line of the reference file (written by reference.js from the
original tfjs network) the named PNG is run through the ONNX graph and the
result must match to within --tol, measured as max |onnx - ref| divided by
max |ref| of that vector.  The forward pass is also timed with 1 and with 2
threads, and its output must be bitwise identical between thread counts and
between repeated runs, since grouping results must not depend on either.

Exit status 0 only if every check passes.
"""

import argparse
import os
import sys
import time

import cv2
import numpy as np

SIZE = 224


def read_reference(path):
    refs = []
    with open(path, encoding="utf-8") as f:
        for lineno, line in enumerate(f, 1):
            fields = line.split()
            if not fields:
                continue
            values = np.array([float(v) for v in fields[1:]], dtype=np.float64)
            if values.size == 0:
                raise ValueError(f"{path}:{lineno}: no values")
            refs.append((fields[0], values))
    if not refs:
        raise ValueError(f"{path}: no reference vectors")
    return refs


def load_blob(path):
    bgr = cv2.imread(path, cv2.IMREAD_COLOR)
    if bgr is None:
        raise ValueError(f"cannot read {path}")
    if bgr.shape[:2] != (SIZE, SIZE):
        raise ValueError(f"{path}: {bgr.shape[1]}x{bgr.shape[0]}, expected {SIZE}x{SIZE}")
    rgb = cv2.cvtColor(bgr, cv2.COLOR_BGR2RGB).astype(np.float32) / np.float32(255)
    return cv2.dnn.blobFromImage(rgb, scalefactor=1.0, size=(SIZE, SIZE),
                                 mean=(0, 0, 0), swapRB=False, crop=False)


def forward(net, blob):
    net.setInput(blob, "input")
    out = net.forward("features")
    return np.array(out, dtype=np.float32, copy=True)


def time_forward(net, blob, runs):
    forward(net, blob)  # warm-up: first call allocates and fuses layers
    times = []
    for _ in range(runs):
        t0 = time.perf_counter()
        forward(net, blob)
        times.append((time.perf_counter() - t0) * 1000.0)
    return float(np.median(times)), float(np.min(times))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("model", help="trunk.onnx")
    ap.add_argument("reference", help="reference.txt written by reference.js")
    ap.add_argument("--images", help="folder of the PNGs (default: the reference file's folder)")
    ap.add_argument("--tol", type=float, default=1e-4)
    ap.add_argument("--runs", type=int, default=20, help="timed forward passes per thread count")
    args = ap.parse_args()
    images = args.images or os.path.dirname(os.path.abspath(args.reference))

    refs = read_reference(args.reference)
    blobs = [load_blob(os.path.join(images, name)) for name, _ in refs]
    failures = []

    cv2.setNumThreads(1)
    net = cv2.dnn.readNetFromONNX(args.model)
    outputs_1 = []
    worst = 0.0
    for (name, ref), blob in zip(refs, blobs):
        out = forward(net, blob)
        if out.shape not in ((1, ref.size), (1, ref.size, 1, 1)):
            failures.append(f"{name}: output shape {out.shape}, expected (1, {ref.size})")
            continue
        v = out.reshape(-1).astype(np.float64)
        rel = float(np.max(np.abs(v - ref)) / np.max(np.abs(ref)))
        worst = max(worst, rel)
        print(f"{name}: max rel diff {rel:.3g}")
        if not np.isfinite(rel) or rel > args.tol:
            failures.append(f"{name}: max rel diff {rel:.3g} > {args.tol:g}")
        outputs_1.append(out)
    print(f"worst max rel diff: {worst:.3g} (tolerance {args.tol:g})")
    if failures:
        for f in failures:
            print(f"FAIL {f}", file=sys.stderr)
        return 1

    # Determinism: repeated runs on one net, a fresh net, and 2 threads.
    for (name, _), blob, first in zip(refs, blobs, outputs_1):
        for _ in range(3):
            if not np.array_equal(forward(net, blob), first):
                failures.append(f"{name}: output differs between runs (1 thread)")
                break
    ms1 = time_forward(net, blobs[0], args.runs)

    cv2.setNumThreads(2)
    net2 = cv2.dnn.readNetFromONNX(args.model)
    for (name, _), blob, first in zip(refs, blobs, outputs_1):
        for _ in range(3):
            if not np.array_equal(forward(net2, blob), first):
                failures.append(f"{name}: output with 2 threads differs from 1 thread")
                break
    ms2 = time_forward(net2, blobs[0], args.runs)
    for (name, _), blob, first in zip(refs, blobs, outputs_1):
        if not np.array_equal(forward(net2, blob), first):
            failures.append(f"{name}: output with 2 threads differs after timing runs")

    print(f"forward pass, 1 thread: median {ms1[0]:.1f} ms (min {ms1[1]:.1f})")
    print(f"forward pass, 2 threads: median {ms2[0]:.1f} ms (min {ms2[1]:.1f})")
    print("determinism: " + ("bitwise identical across runs and thread counts" if not failures else "FAILED"))
    for f in failures:
        print(f"FAIL {f}", file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (ValueError, OSError, cv2.error) as e:
        print(f"check_onnx.py: {e}", file=sys.stderr)
        sys.exit(1)
