#!/usr/bin/python3
"""Runs a MobileNetV2 graph model (tools/study/extract_graph.js's output) in numpy on a study dump's network
inputs and writes the image-averaged outputs of its late blocks beside the dump's own:

  graph_net.py MODEL_DIR DUMP_DIR PREFIX     reads DUMP_DIR/ok.u8 and input_product.u8, writes
                                             DUMP_DIR/pooled_PREFIXbNN.f32 (blocks 12 to 16) and
                                             pooled_PREFIXconv1.f32 (the 1 x 1 conv before pooling)

For the print study only (about 0.45 s a photo); study.py then reads them as net=PREFIXbNN.
The network takes levels / 255 (its graph maps them to [-1, 1] itself).
"""
import base64
import json
import os
import sys

import numpy as np

SIDE = 224


class Graph:
    def __init__(self, model_dir):
        g = json.load(open(os.path.join(model_dir, "graph.json")))
        w = np.fromfile(os.path.join(model_dir, "weights.f32"), dtype=np.float32)
        self.consts = {e["name"]: w[e["offset"]:e["offset"] + e["length"]].reshape(e["shape"])
                       for e in g["weights"]}
        self.nodes = g["nodes"]
        self.outputs = {}
        for n in self.nodes:
            name = n["name"]
            for b in range(12, 17):
                block = f"/expanded_conv_{b}/"
                # A block's output is its residual sum where it has one, else its projection.
                if block in name and (name.endswith("/add") or
                                      ("/project/" in name and name.endswith("FusedBatchNormV3"))):
                    self.outputs[f"b{b}"] = name
            if name.endswith("Conv_1/Relu6"):
                self.outputs["conv1"] = name

    def run(self, x):
        vals = {}
        for n in self.nodes:
            op, name = n["op"], n["name"]
            if op == "Const":
                vals[name] = self.consts[name]
                continue
            if op == "Placeholder":
                vals[name] = x
                continue
            a = [vals[i.split(":")[0]] for i in n["input"] if not i.startswith("^")]
            if op == "Mul":
                vals[name] = a[0] * a[1]
            elif op == "Sub":
                vals[name] = a[0] - a[1]
            elif op == "AddV2":
                vals[name] = a[0] + a[1]
            elif op in ("_FusedConv2D", "FusedDepthwiseConv2dNative"):
                stride = int(n["attr"]["strides"]["list"]["i"][1])
                y = (conv if op == "_FusedConv2D" else depthwise)(a[0], a[1], stride)
                fused = [base64.b64decode(s).decode()
                         for s in n["attr"].get("fused_ops", {}).get("list", {}).get("s", [])]
                y = y + a[2]
                vals[name] = np.clip(y, 0, 6) if "Relu6" in fused else y
            else:
                break  # the classifier head
        return {k: vals[v].mean(axis=(1, 2)) for k, v in self.outputs.items()}


def pad_same(x, k, stride):
    size = x.shape[1]
    out = -(-size // stride)
    total = max((out - 1) * stride + k - size, 0)
    before = total // 2
    return np.pad(x, ((0, 0), (before, total - before), (before, total - before), (0, 0))), out


def conv(x, w, stride):
    k, _, ci, co = w.shape
    if k == 1 and stride == 1:
        return x @ w.reshape(ci, co)
    xp, out = pad_same(x, k, stride)
    acc = np.zeros((x.shape[0], out, out, co), np.float32)
    for dy in range(k):
        for dx in range(k):
            acc += xp[:, dy:dy + stride * out:stride, dx:dx + stride * out:stride, :] @ w[dy, dx]
    return acc


def depthwise(x, w, stride):
    k = w.shape[0]
    xp, out = pad_same(x, k, stride)
    acc = np.zeros((x.shape[0], out, out, x.shape[3]), np.float32)
    for dy in range(k):
        for dx in range(k):
            acc += xp[:, dy:dy + stride * out:stride, dx:dx + stride * out:stride, :] * w[dy, dx, :, 0]
    return acc


def main(model_dir, dump_dir, prefix):
    n = len(np.fromfile(os.path.join(dump_dir, "ok.u8"), dtype=np.uint8))
    inputs = np.fromfile(os.path.join(dump_dir, "input_product.u8"),
                         dtype=np.uint8).reshape(n, SIDE, SIDE, 3)
    graph = Graph(model_dir)
    got = {}
    for i in range(0, n, 16):
        for k, v in graph.run(inputs[i:i + 16].astype(np.float32) / 255.0).items():
            got.setdefault(k, []).append(v)
    for k, v in got.items():
        np.concatenate(v).astype(np.float32).tofile(os.path.join(dump_dir, f"pooled_{prefix}{k}.f32"))


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
