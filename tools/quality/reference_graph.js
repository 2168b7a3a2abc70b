#!/usr/bin/env node
// Runs nsfwjs's graph-model MobileNetV2 (mobilenet_v2_mid) with tfjs itself and
// prints, for each 224x224 PNG, the global average of one internal node (default: the last
// 1x1 convolution), one line per image like tools/model/reference.js. Used to check
// graph_to_onnx.py. Needs @tensorflow/tfjs-converter next to tfjs-core.
//   node reference_graph.js MODELDIR NODE_SUFFIX IMAGE.png...
'use strict';
const fs = require('fs');
const path = require('path');
const tf = require('@tensorflow/tfjs-core');
require('@tensorflow/tfjs-backend-cpu');
const tfc = require('@tensorflow/tfjs-converter');
const { PNG } = require('pngjs');

async function main() {
  const [modelDir, suffix, ...images] = process.argv.slice(2);
  const m = require(path.resolve(modelDir, 'model.min.js'));
  const entries = [];
  const bufs = [];
  for (const g of m.weightsManifest) {
    entries.push(...g.weights);
    for (const p of g.paths) bufs.push(Buffer.from(require(path.resolve(modelDir, `${p}.min.js`)), 'base64'));
  }
  const all = Buffer.concat(bufs);
  await tf.setBackend('cpu');
  const model = await tfc.loadGraphModel(tf.io.fromMemory(m.modelTopology, entries,
    all.buffer.slice(all.byteOffset, all.byteOffset + all.byteLength)));
  const node = m.modelTopology.node.find((n) => n.name.endsWith(suffix)).name;
  for (const file of images) {
    const png = PNG.sync.read(fs.readFileSync(file));
    const px = new Float32Array(224 * 224 * 3);
    for (let i = 0; i < 224 * 224; i++) for (let c = 0; c < 3; c++) px[3 * i + c] = png.data[4 * i + c] / 255;
    const x = tf.tensor4d(px, [1, 224, 224, 3]);
    const y = model.execute(x, node);
    const v = tf.mean(y, [1, 2]).dataSync();
    process.stdout.write(`${path.basename(file)} ${Array.from(v).map((t) => t.toPrecision(9)).join(' ')}\n`);
  }
}
main().catch((e) => { console.error(e); process.exit(1); });
