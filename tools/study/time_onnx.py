#!/usr/bin/python3
"""Median forward time (1 thread, OpenCV dnn) of ONNX files on one 224 x 224 input, runs
interleaved so that load on the machine hits all alike.   time_onnx.py A.onnx B.onnx ..."""
import sys
import time

import cv2
import numpy as np

cv2.setNumThreads(1)
blob = cv2.dnn.blobFromImage(np.random.default_rng(1).random((224, 224, 3), dtype=np.float32))
nets = []
for path in sys.argv[1:]:
    net = cv2.dnn.readNetFromONNX(path)
    net.setInput(blob, "input")
    net.forward("features")
    nets.append(net)
times = [[] for _ in nets]
for _ in range(30):
    for net, t in zip(nets, times):
        net.setInput(blob, "input")
        t0 = time.perf_counter()
        net.forward("features")
        t.append((time.perf_counter() - t0) * 1000)
for path, t in zip(sys.argv[1:], times):
    print(f"{path}: median {np.median(t):.1f} ms, min {np.min(t):.1f} ms")
