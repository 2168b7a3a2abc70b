#!/usr/bin/python3
"""Writes the trunk network (trunk.onnx) as the flat layer list the programs run.

    to_layers.py TRUNK.onnx OUT.layers

The network is a chain of 3 x 3 and 1 x 1 convolutions: a zero Pad is folded into the padding
of the convolution after it, a Clip(0, 6) becomes that convolution's activation, an Add of an
earlier tensor becomes its residual input, and the final GlobalAveragePool (+ Flatten) is the
pooling every run ends with. Anything else stops the conversion: the programs run exactly what
this file describes, nothing is guessed.

Layout, all little-endian:
    b"VELTONN1", uint32 input side, uint32 input channels, uint32 layer count
    per layer: uint32 kind (0 dense 3x3, 1 depthwise 3x3, 2 pointwise 1x1), in channels,
               out channels, stride, pad top, pad left, pad bottom, pad right,
               relu6 (0/1), residual tensor (0xFFFFFFFF for none; tensor 0 is the input,
               tensor i + 1 the output of layer i),
               float32 weights in ONNX order (out, in / group, kernel rows, kernel columns),
               float32 bias (out)
"""
import struct
import sys

import numpy as np
import onnx
from onnx import numpy_helper

DENSE, DEPTHWISE, POINTWISE = 0, 1, 2
NO_RESIDUAL = 0xFFFFFFFF


def attrs(node):
    return {a.name: onnx.helper.get_attribute_value(a) for a in node.attribute}


def fail(message):
    sys.exit(f"to_layers.py: {message}")


def convert(model):
    graph = model.graph
    init = {t.name: numpy_helper.to_array(t) for t in graph.initializer}
    if len(graph.input) != 1:
        fail("expected one graph input")
    dims = [d.dim_value for d in graph.input[0].type.tensor_type.shape.dim]
    if len(dims) != 4 or dims[0] != 1 or dims[2] != dims[3]:
        fail(f"unexpected input shape {dims}")
    channels, side = dims[1], dims[2]

    tensor = {graph.input[0].name: 0}  # tensor name -> tensor index
    width = {0: channels}  # tensor index -> channels
    padded = {}  # name of a Pad output -> (source tensor, top, left, bottom, right)
    layers = []
    pooled = False
    for node in graph.node:
        a = attrs(node)
        if pooled and node.op_type != "Flatten":
            fail(f"{node.name}: nothing but Flatten may follow the pooling")
        if node.op_type == "Pad":
            pads = list(a.get("pads", []))
            if a.get("mode", b"constant") != b"constant" or a.get("value", 0.0) != 0.0:
                fail(f"{node.name}: only zero padding is supported")
            if len(pads) != 8 or any(pads[i] for i in (0, 1, 4, 5)):
                fail(f"{node.name}: only spatial padding is supported")
            padded[node.output[0]] = (tensor[node.input[0]], pads[2], pads[3], pads[6], pads[7])
        elif node.op_type == "Conv":
            src = node.input[0]
            if src in padded:
                source, top, left, bottom, right = padded[src]
            else:
                source, top, left, bottom, right = tensor[src], 0, 0, 0, 0
            w = init[node.input[1]].astype(np.float32)
            b = init[node.input[2]].astype(np.float32)
            pads = list(a.get("pads", [0, 0, 0, 0]))
            strides = list(a.get("strides", [1, 1]))
            group = a.get("group", 1)
            if list(a.get("dilations", [1, 1])) != [1, 1] or strides[0] != strides[1]:
                fail(f"{node.name}: unsupported dilation or stride")
            if source != len(layers):
                fail(f"{node.name}: a convolution must read the tensor just before it")
            out_c, in_per_group, kh, kw = w.shape
            in_c = width[source]
            if (kh, kw) == (1, 1) and group == 1:
                kind = POINTWISE
            elif (kh, kw) == (3, 3) and group == 1:
                kind = DENSE
            elif (kh, kw) == (3, 3) and group == in_c == out_c and in_per_group == 1:
                kind = DEPTHWISE
            else:
                fail(f"{node.name}: unsupported convolution {w.shape} group {group}")
            if kind != DEPTHWISE and in_per_group != in_c:
                fail(f"{node.name}: {in_per_group} input channels, expected {in_c}")
            layers.append(dict(kind=kind, in_c=in_c, out_c=out_c, stride=strides[0],
                               pads=(top + pads[0], left + pads[1], bottom + pads[2],
                                     right + pads[3]),
                               relu6=0, residual=NO_RESIDUAL, w=w, b=b))
            tensor[node.output[0]] = len(layers)
            width[len(layers)] = out_c
        elif node.op_type == "Clip":
            low, high = a.get("min"), a.get("max")
            if (low, high) != (0.0, 6.0) or tensor.get(node.input[0]) != len(layers):
                fail(f"{node.name}: only Clip(0, 6) right after a convolution is supported")
            if layers[-1]["relu6"] or layers[-1]["residual"] != NO_RESIDUAL:
                fail(f"{node.name}: a second operation on the same convolution")
            layers[-1]["relu6"] = 1
            tensor[node.output[0]] = len(layers)
        elif node.op_type == "Add":
            ins = [tensor.get(i) for i in node.input]
            if len(ins) != 2 or len(layers) not in ins or None in ins:
                fail(f"{node.name}: only the last convolution plus an earlier tensor is supported")
            other = ins[0] if ins[1] == len(layers) else ins[1]
            if other == len(layers) or width[other] != layers[-1]["out_c"]:
                fail(f"{node.name}: residual of the wrong shape")
            if layers[-1]["relu6"] or layers[-1]["residual"] != NO_RESIDUAL:
                fail(f"{node.name}: a second operation on the same convolution")
            layers[-1]["residual"] = other
            tensor[node.output[0]] = len(layers)
        elif node.op_type == "GlobalAveragePool":
            if tensor.get(node.input[0]) != len(layers):
                fail(f"{node.name}: the pooling must read the last convolution")
            pooled = True
        elif node.op_type == "Flatten":
            if not pooled:
                fail(f"{node.name}: Flatten only after the pooling")
        else:
            fail(f"{node.name}: unsupported operation {node.op_type}")
    if not pooled or not layers:
        fail("the network does not end in a global average pooling")
    return side, channels, layers


def write(path, side, channels, layers):
    with open(path, "wb") as out:
        out.write(b"VELTONN1")
        out.write(struct.pack("<3I", side, channels, len(layers)))
        for layer in layers:
            out.write(struct.pack("<10I", layer["kind"], layer["in_c"], layer["out_c"],
                                  layer["stride"], *layer["pads"], layer["relu6"],
                                  layer["residual"]))
            out.write(layer["w"].astype("<f4").tobytes())
            out.write(layer["b"].astype("<f4").tobytes())


def main():
    if len(sys.argv) != 3:
        fail("usage: to_layers.py TRUNK.onnx OUT.layers")
    side, channels, layers = convert(onnx.load(sys.argv[1]))
    write(sys.argv[2], side, channels, layers)
    print(f"to_layers.py: {len(layers)} layers, input {side} x {side} x {channels}, "
          f"{layers[-1]['out_c']} pooled features", file=sys.stderr)


if __name__ == "__main__":
    main()
