#!/usr/bin/python3
"""Turn the extracted Keras MobileNetV2 (see extract.js) into an ONNX graph.

The graph is cut at one layer (block_15_add by default: the output of block
15, 160 channels at 7 x 7) and ends in a global average pool, so it maps a
1x3x224x224 RGB image in [0, 1] to one feature vector.  It is written for
OpenCV's dnn ONNX importer (4.6), which dictates the shape of the graph:

  * opset 9: Clip carries min/max as attributes, Pad carries pads as an
    attribute;
  * BatchNormalization is folded into the preceding convolution;
  * depthwise convolutions become grouped Conv nodes;
  * asymmetric padding (ZeroPadding2D, or "same" padding that does not split
    evenly) becomes a separate Pad node, as the importer refuses asymmetric
    Conv pads.

Keras works in NHWC; the ONNX graph is NCHW, so kernels are transposed here.
Anything in the topology that is not handled below stops the conversion with
an error rather than being guessed at.
"""

import argparse
import json
import math
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

OPSET = 9


class ConversionError(Exception):
    pass


def load_extracted(directory):
    with open(os.path.join(directory, "topology.json"), encoding="utf-8") as f:
        topo = json.load(f)
    data = np.fromfile(os.path.join(directory, "weights.f32"), dtype="<f4")
    weights = {}
    end = 0
    for entry in topo["weights"]:
        n = int(np.prod(entry["shape"], dtype=np.int64))
        if n != entry["length"]:
            raise ConversionError(f"weight {entry['name']}: shape does not match length")
        start = entry["offset"]
        if start + n > data.size:
            raise ConversionError(f"weight {entry['name']} lies past the end of weights.f32")
        weights[entry["name"]] = data[start:start + n].reshape(entry["shape"])
        end = max(end, start + n)
    if end != data.size:
        raise ConversionError(f"weights.f32 has {data.size - end} values no weight refers to")
    return topo, weights


def inbound(layer):
    """Names of the layers feeding `layer` (each layer is called once)."""
    nodes = layer.get("inbound_nodes", [])
    if not nodes:
        return []
    if len(nodes) != 1:
        raise ConversionError(f"layer {layer['name']} is shared ({len(nodes)} calls)")
    names = []
    for entry in nodes[0]:
        if entry[1] != 0 or entry[2] != 0:
            raise ConversionError(f"layer {layer['name']}: multi-output inbound {entry[:3]}")
        names.append(entry[0])
    return names


def ancestors(layers_by_name, target):
    seen = set()
    stack = [target]
    while stack:
        name = stack.pop()
        if name in seen:
            continue
        if name not in layers_by_name:
            raise ConversionError(f"unknown layer {name}")
        seen.add(name)
        stack.extend(inbound(layers_by_name[name]))
    return seen


def pair(v):
    if isinstance(v, int):
        return (v, v)
    if len(v) != 2:
        raise ConversionError(f"expected a pair, got {v}")
    return (int(v[0]), int(v[1]))


def zero_padding(cfg):
    """(top, bottom, left, right) of a ZeroPadding2D config."""
    p = cfg["padding"]
    if isinstance(p, int):
        return (p, p, p, p)
    if isinstance(p[0], int):
        return (p[0], p[0], p[1], p[1])
    return (p[0][0], p[0][1], p[1][0], p[1][1])


def same_padding(size, kernel, stride, dilation):
    """TensorFlow's "same" padding along one axis: (before, after)."""
    extent = (kernel - 1) * dilation + 1
    out = math.ceil(size / stride)
    total = max((out - 1) * stride + extent - size, 0)
    return (total // 2, total - total // 2)


def conv_out(size, kernel, stride, dilation, before, after):
    extent = (kernel - 1) * dilation + 1
    return (size + before + after - extent) // stride + 1


class Builder:
    def __init__(self, weights):
        self.weights = weights
        self.used = set()
        self.nodes = []
        self.inits = []
        self.shape = {}  # tensor name -> (C, H, W)
        self.alias = {}  # Keras layer name -> ONNX tensor name

    def weight(self, name):
        if name not in self.weights:
            raise ConversionError(f"missing weight {name}")
        self.used.add(name)
        return self.weights[name]

    def init(self, name, array):
        self.inits.append(numpy_helper.from_array(np.ascontiguousarray(array, dtype=np.float32), name))
        return name

    def tensor(self, layer_name):
        return self.alias[layer_name]

    def pad(self, name, src, top, bottom, left, right):
        c, h, w = self.shape[src]
        self.nodes.append(helper.make_node(
            "Pad", [src], [name], name=name, mode="constant", value=0.0,
            pads=[0, 0, top, left, 0, 0, bottom, right]))
        self.shape[name] = (c, h + top + bottom, w + left + right)
        return name

    def conv(self, layer, bn):
        cfg = layer["config"]
        name = layer["name"]
        src = self.tensor(inbound(layer)[0])
        c_in, h, w = self.shape[src]
        if cfg.get("data_format", "channels_last") != "channels_last":
            raise ConversionError(f"{name}: data_format {cfg['data_format']}")
        if cfg.get("activation", "linear") != "linear":
            raise ConversionError(f"{name}: fused activation {cfg['activation']} not handled")
        kh, kw = pair(cfg["kernel_size"])
        sh, sw = pair(cfg["strides"])
        dh, dw = pair(cfg.get("dilation_rate", 1))

        if layer["class_name"] == "Conv2D":
            k = self.weight(f"{name}/kernel")  # kh, kw, in, out
            if k.shape[:3] != (kh, kw, c_in) or k.shape[3] != cfg["filters"]:
                raise ConversionError(f"{name}: kernel shape {k.shape} does not fit input {c_in}")
            kernel = k.transpose(3, 2, 0, 1).astype(np.float64)
            group = 1
        else:  # DepthwiseConv2D
            k = self.weight(f"{name}/depthwise_kernel")  # kh, kw, in, multiplier
            mult = cfg.get("depth_multiplier", 1)
            if k.shape != (kh, kw, c_in, mult):
                raise ConversionError(f"{name}: kernel shape {k.shape} does not fit input {c_in}")
            # Output channel c*mult + j reads input channel c, as in TensorFlow.
            kernel = k.transpose(2, 3, 0, 1).reshape(c_in * mult, 1, kh, kw).astype(np.float64)
            group = c_in
        c_out = kernel.shape[0]

        bias = np.zeros(c_out, dtype=np.float64)
        if cfg.get("use_bias", False):
            bias = self.weight(f"{name}/bias").astype(np.float64)

        if bn is not None:
            bcfg = bn["config"]
            bname = bn["name"]
            if bcfg.get("axis", -1) not in (-1, 3, [3], [-1]):
                raise ConversionError(f"{bname}: axis {bcfg['axis']} is not the channel axis")
            mean = self.weight(f"{bname}/moving_mean").astype(np.float64)
            var = self.weight(f"{bname}/moving_variance").astype(np.float64)
            gamma = (self.weight(f"{bname}/gamma").astype(np.float64)
                     if bcfg.get("scale", True) else np.ones(c_out))
            beta = (self.weight(f"{bname}/beta").astype(np.float64)
                    if bcfg.get("center", True) else np.zeros(c_out))
            for v in (mean, var, gamma, beta):
                if v.shape != (c_out,):
                    raise ConversionError(f"{bname}: parameter shape {v.shape}, expected ({c_out},)")
            s = gamma / np.sqrt(var + float(bcfg["epsilon"]))
            kernel = kernel * s[:, None, None, None]
            bias = (bias - mean) * s + beta
            out_name = bname
        else:
            out_name = name

        padding = cfg["padding"]
        if padding == "valid":
            pt = pb = pl = pr = 0
        elif padding == "same":
            pt, pb = same_padding(h, kh, sh, dh)
            pl, pr = same_padding(w, kw, sw, dw)
        else:
            raise ConversionError(f"{name}: padding {padding}")
        if pt != pb or pl != pr:
            src = self.pad(f"{name}_same_pad", src, pt, pb, pl, pr)
            pt = pb = pl = pr = 0
            _, h, w = self.shape[src]

        wname = self.init(f"{name}/W", kernel)
        bname_ = self.init(f"{name}/B", bias)
        self.nodes.append(helper.make_node(
            "Conv", [src, wname, bname_], [out_name], name=name,
            kernel_shape=[kh, kw], strides=[sh, sw], dilations=[dh, dw],
            pads=[pt, pl, pb, pr], group=group))
        self.shape[out_name] = (c_out,
                                conv_out(h, kh, sh, dh, pt, pb),
                                conv_out(w, kw, sw, dw, pl, pr))
        self.alias[name] = out_name
        if bn is not None:
            self.alias[bn["name"]] = out_name


def convert(topo, weights, target, input_name, output_name):
    layers = topo["layers"]
    by_name = {l["name"]: l for l in layers}
    keep = ancestors(by_name, target)
    order = [l for l in layers if l["name"] in keep]

    consumers = {}
    for l in order:
        for src in inbound(l):
            consumers.setdefault(src, []).append(l["name"])

    # BatchNormalization layers that fold into the convolution feeding them.
    fold = {}
    for l in order:
        if l["class_name"] != "BatchNormalization":
            continue
        srcs = inbound(l)
        src = by_name[srcs[0]]
        if (len(srcs) != 1 or src["class_name"] not in ("Conv2D", "DepthwiseConv2D")
                or consumers.get(src["name"]) != [l["name"]]):
            raise ConversionError(f"{l['name']}: BatchNormalization not directly after a convolution")
        fold[src["name"]] = l

    b = Builder(weights)
    graph_inputs = []
    done = set()
    for l in order:
        name, cls, cfg = l["name"], l["class_name"], l["config"]
        for src in inbound(l):
            if src not in done:
                raise ConversionError(f"layer {name} comes before its input {src}")
        if cls == "InputLayer":
            shape = cfg["batch_input_shape"]
            if len(shape) != 4 or shape[0] is not None or None in shape[1:]:
                raise ConversionError(f"input {name}: shape {shape} is not [None, H, W, C]")
            _, h, w, c = shape
            graph_inputs.append(helper.make_tensor_value_info(input_name, TensorProto.FLOAT, [1, c, h, w]))
            b.shape[input_name] = (c, h, w)
            b.alias[name] = input_name
        elif cls == "ZeroPadding2D":
            top, bottom, left, right = zero_padding(cfg)
            b.alias[name] = b.pad(name, b.tensor(inbound(l)[0]), top, bottom, left, right)
        elif cls in ("Conv2D", "DepthwiseConv2D"):
            b.conv(l, fold.get(name))
        elif cls == "BatchNormalization":
            if b.alias.get(name) is None:
                raise ConversionError(f"{name}: not folded")
        elif cls == "ReLU":
            src = b.tensor(inbound(l)[0])
            if cfg.get("negative_slope", 0) != 0 or cfg.get("threshold", 0) != 0:
                raise ConversionError(f"{name}: leaky/thresholded ReLU not handled")
            maxv = cfg.get("max_value")
            if maxv is None:
                b.nodes.append(helper.make_node("Relu", [src], [name], name=name))
            else:
                b.nodes.append(helper.make_node("Clip", [src], [name], name=name,
                                                min=0.0, max=float(maxv)))
            b.shape[name] = b.shape[src]
            b.alias[name] = name
        elif cls == "Add":
            srcs = [b.tensor(s) for s in inbound(l)]
            shapes = {b.shape[s] for s in srcs}
            if len(srcs) < 2 or len(shapes) != 1:
                raise ConversionError(f"{name}: Add of {srcs} with shapes {shapes}")
            acc = srcs[0]
            for i, s in enumerate(srcs[1:], 1):
                out = name if i == len(srcs) - 1 else f"{name}_{i}"
                b.nodes.append(helper.make_node("Add", [acc, s], [out], name=out))
                b.shape[out] = b.shape[srcs[0]]
                acc = out
            b.alias[name] = name
        else:
            raise ConversionError(f"layer {name}: class {cls} not handled")
        done.add(name)

    last = b.tensor(target)
    channels = b.shape[last][0]
    b.nodes.append(helper.make_node("GlobalAveragePool", [last], ["pooled"], name="pooled"))
    b.nodes.append(helper.make_node("Flatten", ["pooled"], [output_name], name=output_name, axis=1))
    outputs = [helper.make_tensor_value_info(output_name, TensorProto.FLOAT, [1, channels])]

    kept_weights = {w for w in weights if w.split("/")[0] in keep}
    if b.used != kept_weights:
        raise ConversionError(f"weights of kept layers left unused: {sorted(kept_weights - b.used)}")
    n_params = sum(int(np.prod(t.dims)) for t in b.inits)

    graph = helper.make_graph(b.nodes, "trunk", graph_inputs, outputs, initializer=b.inits)
    model = helper.make_model(graph, producer_name="velto-fprint",
                              opset_imports=[helper.make_opsetid("", OPSET)])
    model.ir_version = 4  # the IR version that goes with opset 9
    model.doc_string = f"MobileNetV2 trunk up to {target}, global average pooled"
    onnx.checker.check_model(model)
    inferred = onnx.shape_inference.infer_shapes(model)
    dims = [d.dim_value for d in inferred.graph.output[0].type.tensor_type.shape.dim]
    if dims != [1, channels]:
        raise ConversionError(f"inferred output shape {dims}, expected [1, {channels}]")
    return model, n_params, channels


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("extracted", help="directory written by extract.js")
    ap.add_argument("output", help="ONNX file to write (replaced atomically)")
    ap.add_argument("--layer", default="block_15_add", help="last Keras layer kept")
    ap.add_argument("--input-name", default="input")
    ap.add_argument("--output-name", default="features")
    args = ap.parse_args()
    try:
        topo, weights = load_extracted(args.extracted)
        model, n_params, channels = convert(topo, weights, args.layer, args.input_name, args.output_name)
    except (ConversionError, OSError, KeyError, ValueError) as e:
        print(f"to_onnx.py: {e}", file=sys.stderr)
        return 1
    tmp = f"{args.output}.tmp.{os.getpid()}"
    try:
        with open(tmp, "wb") as f:
            f.write(model.SerializeToString())
            f.flush()
            os.fsync(f.fileno())
        os.replace(tmp, args.output)
    except OSError as e:
        print(f"to_onnx.py: writing {args.output}: {e}", file=sys.stderr)
        if os.path.exists(tmp):
            os.unlink(tmp)
        return 1
    print(f"to_onnx.py: {args.output}: up to {args.layer}, {channels} features, "
          f"{n_params} parameters", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
