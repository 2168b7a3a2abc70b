#!/usr/bin/env node
// Reads a TensorFlow graph model that nsfwjs ships as browserify bundles (mobilenet_v2_mid:
// a MobileNetV2 of width 1.4 behind a classifier head) and writes what graph_net.py runs:
//
//   OUTDIR/graph.json   {"nodes": [{name, op, input, attr}], "weights": [{name, shape, offset, length}]}
//   OUTDIR/weights.f32  all weights dequantised as tfjs does it, float32, offsets in floats
//
// Usage: node graph_model.js MODELDIR OUTDIR      (study only; the programs never read it)
'use strict';

const fs = require('fs');
const path = require('path');

function load(file) {
  return require(path.resolve(file));
}

function dequantise(entry, bytes, at) {
  const n = entry.shape.reduce((a, b) => a * b, 1);
  const out = new Float32Array(n);
  const q = entry.quantization;
  if (!q) {
    const copy = Buffer.from(bytes.subarray(at, at + 4 * n));
    for (let i = 0; i < n; i++) out[i] = copy.readFloatLE(4 * i);
    return { values: out, used: 4 * n };
  }
  if (q.dtype !== 'uint8') throw new Error(`${entry.name}: quantisation ${q.dtype}`);
  for (let i = 0; i < n; i++) out[i] = bytes[at + i] * q.scale + q.min;
  return { values: out, used: n };
}

const [modelDir, outDir] = process.argv.slice(2);
const model = load(path.join(modelDir, 'model.min.js'));
const weights = [];
const chunks = [];
let offset = 0;
for (const group of model.weightsManifest) {
  const bytes = Buffer.concat(group.paths.map((p) => Buffer.from(load(path.join(modelDir, `${p}.min.js`)), 'base64')));
  let at = 0;
  for (const entry of group.weights) {
    const { values, used } = dequantise(entry, bytes, at);
    at += used;
    weights.push({ name: entry.name, shape: entry.shape, offset, length: values.length });
    offset += values.length;
    chunks.push(Buffer.from(values.buffer, values.byteOffset, values.byteLength));
  }
}
fs.mkdirSync(outDir, { recursive: true });
fs.writeFileSync(path.join(outDir, 'weights.f32'), Buffer.concat(chunks));
const nodes = model.modelTopology.node.map((n) => ({ name: n.name, op: n.op, input: n.input || [], attr: n.attr || {} }));
fs.writeFileSync(path.join(outDir, 'graph.json'), JSON.stringify({ nodes, weights }));
