#!/usr/bin/python3
"""The 224 x 224 RGB network inputs (uint8, INTER_AREA as in C++) of every decoded photo in one
npz, so colour descriptors can be computed in numpy.   inputs.py DECODED_DIR OUT.npz"""
import os
import sys

import cv2
import numpy as np

d, out = sys.argv[1], sys.argv[2]
files = sorted(f for f in os.listdir(d) if f.endswith(".png"))
imgs = []
for f in files:
    rgb = cv2.cvtColor(cv2.imread(os.path.join(d, f), cv2.IMREAD_COLOR), cv2.COLOR_BGR2RGB)
    imgs.append(cv2.resize(rgb, (224, 224), interpolation=cv2.INTER_AREA))
np.savez(out, rgb=np.stack(imgs), index=np.array([int(f[:-4]) for f in files]))
