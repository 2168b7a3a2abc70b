#!/usr/bin/python3
"""The image-averaged outputs of a network's late blocks for a study dump's network inputs,
written beside the dump's own (study only; needs python3-opencv):

  graph_net.py MODEL.onnx DUMP_DIR PREFIX   reads DUMP_DIR/ok.u8 and input_product.u8; for each
                                            feature-map output T of MODEL.onnx writes
                                            DUMP_DIR/pooled_PREFIX<T>.f32 ("/" dropped)

MODEL.onnx comes from graph_to_onnx.py, e.g. nsfwjs's width-1.4 MobileNetV2:
  node tools/quality/extract_graph.js .../nsfwjs/dist/models/mobilenet_v2_mid M
  tools/quality/graph_to_onnx.py M mid.onnx --outputs ec12/add,ec13/project,ec14/add,ec15/add
study.py then reads them as net=PREFIX<T>, e.g. net=midec13project.
"""
import os
import sys

import cv2
import numpy as np
import onnx

SIDE = 224


def main(model, dump_dir, prefix):
    n = len(np.fromfile(os.path.join(dump_dir, "ok.u8"), dtype=np.uint8))
    inputs = np.fromfile(os.path.join(dump_dir, "input_product.u8"),
                         dtype=np.uint8).reshape(n, SIDE, SIDE, 3)
    names = [o.name for o in onnx.load(model, load_external_data=False).graph.output]
    net = cv2.dnn.readNetFromONNX(model)
    rows = {}
    for rgb in inputs:
        net.setInput(cv2.dnn.blobFromImage(rgb.astype(np.float32) / np.float32(255)), "input")
        for name, out in zip(names, net.forward(names)):
            if out.ndim == 4:  # a feature map; "features" is already pooled
                rows.setdefault(name, []).append(out[0].mean(axis=(1, 2)))
    for name, v in rows.items():
        path = os.path.join(dump_dir, f"pooled_{prefix}{name.replace('/', '')}.f32")
        np.stack(v).astype(np.float32).tofile(path)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
