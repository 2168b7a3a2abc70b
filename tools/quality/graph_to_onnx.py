#!/usr/bin/python3
"""The tfjs graph-model MobileNetV2 written by extract_graph.js into an ONNX
graph that OpenCV's dnn importer (4.6) reads, in the same style as tools/model/to_onnx.py
(opset 9, NCHW, asymmetric "same" padding as a separate Pad node, depthwise as grouped Conv).

  graph_to_onnx.py EXTRACTED_DIR OUT.onnx [--last TENSOR] [--outputs a,b,c]

Tensors get short names: "input", "prep" (x * 2 - 1), "ec<N>/expand", "ec<N>/dw",
"ec<N>/project", "ec<N>/add", "conv1" (the last 1x1 convolution, after its ReLU6).
The graph ends with "features": the global average of --last (default conv1). --outputs adds the
raw feature maps of the named tensors as extra outputs.
"""
import argparse
import base64
import json
import math
import os
import re
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

PREFIX = re.compile(r"^.*?/predict/")


def short(name):
    n = PREFIX.sub("", name)
    m = re.match(r"MobilenetV2/expanded_conv(?:_(\d+))?/(expand|depthwise|project|add)", n)
    if m:
        k = m.group(1) or "0"
        kind = {"expand": "expand", "depthwise": "dw", "project": "project", "add": "add"}[m.group(2)]
        return f"ec{k}/{kind}"
    if n.startswith("MobilenetV2/Conv_1/"):
        return "conv1"
    if n.startswith("MobilenetV2/Conv/"):
        return "conv0"
    return n


def s_attr(node, key):
    return base64.b64decode(node["attr"][key]["s"]).decode()


def same_pad(size, k, s):
    out = math.ceil(size / s)
    total = max((out - 1) * s + k - size, 0)
    return total // 2, total - total // 2


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("extracted")
    ap.add_argument("output")
    ap.add_argument("--last", default="conv1")
    ap.add_argument("--outputs", default="")
    a = ap.parse_args()
    g = json.load(open(os.path.join(a.extracted, "graph.json")))
    data = np.fromfile(os.path.join(a.extracted, "weights.f32"), dtype="<f4")
    W = {w["name"]: data[w["offset"]:w["offset"] + w["length"]].reshape(w["shape"]) for w in g["weights"]}
    nodes, inits = [], []
    shape = {}
    alias = {}

    def init(name, arr):
        inits.append(numpy_helper.from_array(np.ascontiguousarray(arr, dtype=np.float32), name))
        return name

    for n in g["nodes"]:
        op = n["op"]
        if op == "Const":
            continue
        name = short(n["name"])
        ins = n.get("input", [])
        if op == "Placeholder":
            alias[n["name"]] = "input"
            shape["input"] = (3, 224, 224)
            continue
        if op == "Mul":  # hub_input/Mul: x * 2
            k = float(W[ins[0]].reshape(-1)[0])
            nodes.append(helper.make_node("Mul", [alias[ins[1]], init("prep_mul", np.array([k]))], ["prep_scaled"]))
            alias[n["name"]] = "prep_scaled"
            shape["prep_scaled"] = shape["input"]
            continue
        if op == "Sub":  # hub_input/Sub: - 1
            k = float(W[ins[1]].reshape(-1)[0])
            nodes.append(helper.make_node("Add", [alias[ins[0]], init("prep_add", np.array([-k]))], ["prep"]))
            alias[n["name"]] = "prep"
            shape["prep"] = shape["input"]
            continue
        if op in ("_FusedConv2D", "FusedDepthwiseConv2dNative"):
            src = alias[ins[0]]
            c, h, w = shape[src]
            kern = W[ins[1]]
            bias = W[ins[2]]
            fused = [base64.b64decode(s).decode() for s in n["attr"]["fused_ops"]["list"]["s"]]
            strides = [int(v) for v in n["attr"]["strides"]["list"]["i"]]
            s = strides[1]
            pad = s_attr(n, "padding")
            kh, kw = kern.shape[:2]
            if op == "_FusedConv2D":
                kernel = kern.transpose(3, 2, 0, 1)
                group = 1
            else:
                kernel = kern.transpose(2, 3, 0, 1).reshape(kern.shape[2] * kern.shape[3], 1, kh, kw)
                group = c
            if pad == "SAME":
                pt, pb = same_pad(h, kh, s)
                pl, pr = same_pad(w, kw, s)
            else:
                pt = pb = pl = pr = 0
            if pt != pb or pl != pr:
                pname = name + "_pad"
                nodes.append(helper.make_node("Pad", [src], [pname], mode="constant", value=0.0,
                                              pads=[0, 0, pt, pl, 0, 0, pb, pr]))
                shape[pname] = (c, h + pt + pb, w + pl + pr)
                src = pname
                h, w = h + pt + pb, w + pl + pr
                pt = pb = pl = pr = 0
            conv_out = name if fused == ["BiasAdd"] else name + "_lin"
            nodes.append(helper.make_node("Conv", [src, init(name + "/W", kernel), init(name + "/B", bias)],
                                          [conv_out], kernel_shape=[kh, kw], strides=[s, s],
                                          pads=[pt, pl, pb, pr], group=group))
            oh = (h + pt + pb - kh) // s + 1
            ow = (w + pl + pr - kw) // s + 1
            shape[conv_out] = (kernel.shape[0], oh, ow)
            if fused == ["BiasAdd", "Relu6"]:
                nodes.append(helper.make_node("Clip", [conv_out], [name], min=0.0, max=6.0))
                shape[name] = shape[conv_out]
            elif fused != ["BiasAdd"]:
                raise SystemExit(f"{name}: fused ops {fused}")
            alias[n["name"]] = name
            if name == a.last:
                break
            continue
        if op == "AddV2":
            x, y = alias[ins[0]], alias[ins[1]]
            nodes.append(helper.make_node("Add", [x, y], [name]))
            shape[name] = shape[x]
            alias[n["name"]] = name
            if name == a.last:
                break
            continue
        if op in ("AvgPool", "Squeeze", "_FusedMatMul", "Softmax", "Identity"):
            break
        raise SystemExit(f"op {op} not handled ({n['name']})")
    if a.last not in shape:
        raise SystemExit(f"no tensor {a.last}")
    nodes.append(helper.make_node("GlobalAveragePool", [a.last], ["pooled"]))
    nodes.append(helper.make_node("Flatten", ["pooled"], ["features"], axis=1))
    outputs = [helper.make_tensor_value_info("features", TensorProto.FLOAT, [1, shape[a.last][0]])]
    for o in [s for s in a.outputs.split(",") if s]:
        outputs.append(helper.make_tensor_value_info(o, TensorProto.FLOAT, [1, *shape[o]]))
    graph = helper.make_graph(nodes, "trunk", [helper.make_tensor_value_info("input", TensorProto.FLOAT, [1, 3, 224, 224])],
                              outputs, initializer=inits)
    model = helper.make_model(graph, producer_name="velto-study", opset_imports=[helper.make_opsetid("", 9)])
    model.ir_version = 4
    onnx.checker.check_model(model)
    onnx.save(model, a.output)
    print(f"{a.output}: up to {a.last} {shape[a.last]}", file=sys.stderr)


if __name__ == "__main__":
    main()
