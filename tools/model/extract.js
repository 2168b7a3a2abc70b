#!/usr/bin/env node
// Reads the MobileNetV2 that nsfwjs ships as browserify bundles (a topology
// module and one or more base64 weight shards) and writes a plain
// intermediate for to_onnx.py:
//
//   OUTDIR/topology.json  {"layers": [...Keras layer configs...],
//                          "input_layers": [...], "weights": [{"name",
//                          "shape", "offset", "length"}]}
//   OUTDIR/weights.f32    all weights, dequantised, little-endian float32,
//                          concatenated in manifest order; offset/length
//                          count floats, not bytes.
//
// Dequantisation is done here, exactly as tfjs does it when it loads the
// model (q * scale + min, computed in double and stored as float32), so the
// converted network sees the same numbers as the original one.
//
// Usage: node extract.js MODELDIR OUTDIR
'use strict';

const fs = require('fs');
const path = require('path');

function die(msg) {
  process.stderr.write(`extract.js: ${msg}\n`);
  process.exit(1);
}

function dequantise(entry, bytes, byteOffset) {
  const n = entry.shape.reduce((a, b) => a * b, 1);
  const out = new Float32Array(n);
  const q = entry.quantization;
  if (entry.dtype !== 'float32') die(`weight ${entry.name}: unsupported dtype ${entry.dtype}`);
  if (!q) {
    if (byteOffset % 4 !== 0) {
      const copy = Buffer.from(bytes.subarray(byteOffset, byteOffset + 4 * n));
      for (let i = 0; i < n; i++) out[i] = copy.readFloatLE(4 * i);
    } else {
      for (let i = 0; i < n; i++) out[i] = bytes.readFloatLE(byteOffset + 4 * i);
    }
    return { values: out, bytes: 4 * n };
  }
  if (typeof q.min !== 'number' || typeof q.scale !== 'number') {
    die(`weight ${entry.name}: quantisation without numeric min/scale`);
  }
  if (q.dtype === 'uint8') {
    for (let i = 0; i < n; i++) out[i] = bytes[byteOffset + i] * q.scale + q.min;
    return { values: out, bytes: n };
  }
  if (q.dtype === 'uint16') {
    for (let i = 0; i < n; i++) out[i] = bytes.readUInt16LE(byteOffset + 2 * i) * q.scale + q.min;
    return { values: out, bytes: 2 * n };
  }
  return die(`weight ${entry.name}: unsupported quantisation ${q.dtype}`);
}

function loadBundle(file) {
  if (!fs.existsSync(file)) die(`missing ${file}`);
  try {
    return require(path.resolve(file));
  } catch (e) {
    return die(`cannot load ${file}: ${e.message}`);
  }
}

function main() {
  const [modelDir, outDir] = process.argv.slice(2);
  if (!modelDir || !outDir) die('usage: extract.js MODELDIR OUTDIR');

  const model = loadBundle(path.join(modelDir, 'model.min.js'));
  if (!model || !model.modelTopology || !Array.isArray(model.weightsManifest)) {
    die('model.min.js has no modelTopology/weightsManifest');
  }
  const config = model.modelTopology.model_config;
  if (!config || config.class_name !== 'Model' || !config.config || !Array.isArray(config.config.layers)) {
    die('modelTopology is not a Keras functional model');
  }

  const entriesOut = [];
  const chunks = [];
  let floatOffset = 0;
  for (const group of model.weightsManifest) {
    const shards = group.paths.map((p) => {
      const b64 = loadBundle(path.join(modelDir, `${p}.min.js`));
      if (typeof b64 !== 'string') die(`${p}.min.js does not export a base64 string`);
      return Buffer.from(b64, 'base64');
    });
    const bytes = Buffer.concat(shards);
    let byteOffset = 0;
    for (const entry of group.weights) {
      const { values, bytes: used } = dequantise(entry, bytes, byteOffset);
      if (byteOffset + used > bytes.length) die(`weight ${entry.name} runs past the end of its shard`);
      byteOffset += used;
      entriesOut.push({ name: entry.name, shape: entry.shape, offset: floatOffset, length: values.length });
      floatOffset += values.length;
      chunks.push(Buffer.from(values.buffer, values.byteOffset, values.byteLength));
    }
    if (byteOffset !== bytes.length) {
      die(`weight group ${group.paths.join(',')}: ${bytes.length - byteOffset} unused bytes (manifest and shard disagree)`);
    }
  }

  fs.mkdirSync(outDir, { recursive: true });
  // Float32Array is host order; every platform this runs on is little-endian.
  if (new Uint8Array(new Uint16Array([1]).buffer)[0] !== 1) die('big-endian host not supported');
  fs.writeFileSync(path.join(outDir, 'weights.f32'), Buffer.concat(chunks));
  fs.writeFileSync(path.join(outDir, 'topology.json'), JSON.stringify({
    keras_version: model.modelTopology.keras_version,
    layers: config.config.layers,
    input_layers: config.config.input_layers,
    weights: entriesOut,
  }));
  process.stderr.write(`extract.js: ${config.config.layers.length} layers, ${entriesOut.length} weight tensors, ${floatOffset} values\n`);
}

main();
