#!/usr/bin/env node
// Runs the original tfjs MobileNetV2 from nsfwjs, cut at block_15_add
// and averaged over height and width, on 224x224 RGB PNG files, and prints
// one line per image:
//
//   <file name> <v0> <v1> ... <v159>
//
// with each value to 9 significant digits.  These lines are the reference
// vectors that the converted ONNX trunk (and the C++ code running it) are
// compared against.  Nothing here shares code with extract.js/to_onnx.py:
// tfjs itself parses the topology and dequantises the weights.
//
// Usage: node reference.js MODELDIR IMAGE.png...
//   MODELDIR: nsfwjs's dist/models/mobilenet_v2 folder
'use strict';

const fs = require('fs');
const path = require('path');
const tf = require('@tensorflow/tfjs-core');
require('@tensorflow/tfjs-backend-cpu');
const tfl = require('@tensorflow/tfjs-layers');
const { PNG } = require('pngjs');

const LAYER = 'block_15_add';
const SIZE = 224;

function die(msg) {
  process.stderr.write(`reference.js: ${msg}\n`);
  process.exit(1);
}

// An IOHandler serving the topology and the raw (still quantised) weights.
function modelHandler(modelDir) {
  const model = require(path.resolve(modelDir, 'model.min.js'));
  const entries = [];
  const buffers = [];
  for (const group of model.weightsManifest) {
    entries.push(...group.weights);
    for (const p of group.paths) {
      buffers.push(Buffer.from(require(path.resolve(modelDir, `${p}.min.js`)), 'base64'));
    }
  }
  const all = Buffer.concat(buffers);
  const weightData = all.buffer.slice(all.byteOffset, all.byteOffset + all.byteLength);
  return tf.io.fromMemory(model.modelTopology, entries, weightData);
}

// Returns NHWC float32 pixels / 255 in RGB order.
function readPng(file) {
  const png = PNG.sync.read(fs.readFileSync(file));
  if (png.width !== SIZE || png.height !== SIZE) {
    die(`${file}: ${png.width}x${png.height}, expected ${SIZE}x${SIZE}`);
  }
  if (png.depth !== 8) die(`${file}: bit depth ${png.depth}, expected 8`);
  if (png.alpha) die(`${file}: has an alpha channel`);
  // pngjs always hands back RGBA; grey images come back with R = G = B.
  const out = new Float32Array(SIZE * SIZE * 3);
  for (let i = 0; i < SIZE * SIZE; i++) {
    for (let c = 0; c < 3; c++) out[3 * i + c] = png.data[4 * i + c] / 255;
  }
  return out;
}

async function main() {
  const [modelDir, ...images] = process.argv.slice(2);
  if (!modelDir || images.length === 0) die('usage: reference.js MODELDIR IMAGE.png...');
  await tf.setBackend('cpu');
  await tf.ready();

  const full = await tfl.loadLayersModel(modelHandler(modelDir));
  const trunk = tfl.model({ inputs: full.inputs, outputs: full.getLayer(LAYER).output });

  for (const file of images) {
    const pixels = readPng(file);
    const values = tf.tidy(() => {
      const x = tf.tensor4d(pixels, [1, SIZE, SIZE, 3], 'float32');
      const y = trunk.predict(x);
      return tf.mean(y, [1, 2]).dataSync();
    });
    const name = path.basename(file);
    if (/\s/.test(name)) die(`${file}: file name contains white space`);
    const fields = [name];
    for (const v of values) {
      if (!Number.isFinite(v)) die(`${file}: non-finite output`);
      fields.push(v.toPrecision(9));
    }
    process.stdout.write(`${fields.join(' ')}\n`);
  }
}

main().catch((e) => die(e.stack || String(e)));
