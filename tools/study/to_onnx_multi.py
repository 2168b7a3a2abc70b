#!/usr/bin/python3
"""Study copy of the converter: the MobileNetV2 trunk up to --last (default out_relu), with the
raw (not pooled) feature maps of every layer named in --outputs as extra graph outputs, so
scripts can compare layers, poolings and concatenations with one forward pass.

  to_onnx_multi.py EXTRACTED_DIR OUT.onnx [--last out_relu] [--outputs a,b,c]

It reuses tools/model/to_onnx.py unchanged; the product's default network is not affected.
"""
import argparse
import os
import sys

import onnx
from onnx import TensorProto, helper

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "model"))
import to_onnx  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("extracted")
    ap.add_argument("output")
    ap.add_argument("--last", default="out_relu")
    ap.add_argument("--outputs", default="")
    a = ap.parse_args()
    topo, weights = to_onnx.load_extracted(a.extracted)
    model, _, _ = to_onnx.convert(topo, weights, a.last, "input", "features")
    # A convolution followed by BatchNormalization has no tensor of its own: the folded
    # result carries the BN layer's name.
    inferred = onnx.shape_inference.infer_shapes(model)
    shapes = {v.name: [d.dim_value for d in v.type.tensor_type.shape.dim]
              for v in inferred.graph.value_info}
    for name in [s for s in a.outputs.split(",") if s]:
        if name not in shapes:
            raise SystemExit(f"no tensor named {name}")
        model.graph.output.append(helper.make_tensor_value_info(name, TensorProto.FLOAT, shapes[name]))
    onnx.save(model, a.output)
    print(f"{a.output}: outputs features + {a.outputs}", file=sys.stderr)


if __name__ == "__main__":
    main()
