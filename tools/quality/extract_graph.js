#!/usr/bin/env node
// Like tools/model/extract.js, but for a tfjs *graph* model bundled as browserify
// modules (nsfwjs's mobilenet_v2_mid): writes OUTDIR/graph.json ({"nodes": [...], "weights":
// [{name, shape, offset, length}]}) and OUTDIR/weights.f32 (dequantised float32, q * scale +
// min as tfjs does).
//   node extract_graph.js MODELDIR OUTDIR
'use strict';
const fs = require('fs');
const path = require('path');

function die(msg) {
  process.stderr.write(`extract_graph.js: ${msg}\n`);
  process.exit(1);
}

const [modelDir, outDir] = process.argv.slice(2);
if (!modelDir || !outDir) die('usage: extract_graph.js MODELDIR OUTDIR');
const model = require(path.resolve(modelDir, 'model.min.js'));
if (model.format !== 'graph-model' || !model.modelTopology.node) die('not a graph model');
const entries = [];
const chunks = [];
let floatOffset = 0;
for (const group of model.weightsManifest) {
  const bytes = Buffer.concat(group.paths.map((p) =>
    Buffer.from(require(path.resolve(modelDir, `${p}.min.js`)), 'base64')));
  let off = 0;
  for (const w of group.weights) {
    const n = w.shape.reduce((a, b) => a * b, 1);
    const out = new Float32Array(n);
    const q = w.quantization;
    if (w.dtype !== 'float32') die(`${w.name}: dtype ${w.dtype}`);
    if (!q) {
      for (let i = 0; i < n; i++) out[i] = bytes.readFloatLE(off + 4 * i);
      off += 4 * n;
    } else if (q.dtype === 'uint8') {
      for (let i = 0; i < n; i++) out[i] = bytes[off + i] * q.scale + q.min;
      off += n;
    } else if (q.dtype === 'uint16') {
      for (let i = 0; i < n; i++) out[i] = bytes.readUInt16LE(off + 2 * i) * q.scale + q.min;
      off += 2 * n;
    } else {
      die(`${w.name}: quantisation ${q.dtype}`);
    }
    entries.push({ name: w.name, shape: w.shape, offset: floatOffset, length: n });
    floatOffset += n;
    chunks.push(Buffer.from(out.buffer));
  }
  if (off !== bytes.length) die('manifest and shards disagree');
}
fs.mkdirSync(outDir, { recursive: true });
fs.writeFileSync(path.join(outDir, 'weights.f32'), Buffer.concat(chunks));
fs.writeFileSync(path.join(outDir, 'graph.json'),
  JSON.stringify({ nodes: model.modelTopology.node, weights: entries }));
process.stderr.write(`extract_graph.js: ${model.modelTopology.node.length} nodes, ${entries.length} weights, ${floatOffset} values\n`);
