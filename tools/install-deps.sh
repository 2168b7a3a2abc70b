#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the model conversion need, when they are
# missing. Safe to run again; needs root (or sudo) only when something is missing.
set -euo pipefail

packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libopencv-dev libheif-dev libjpeg-dev libpng-dev libtiff-dev libwebp-dev
  libgif-dev libjxl-dev libraw-dev libsqlite3-dev libxxhash-dev
  python3-onnx python3-numpy nodejs npm util-linux)
[[ $# -gt 0 ]] && packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  # node and npm may come from elsewhere than Debian; a working command is enough.
  if [[ $p == nodejs ]] && command -v node >/dev/null; then continue; fi
  if [[ $p == npm ]] && command -v npm >/dev/null; then continue; fi
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
((${#missing[@]} == 0)) && exit 0

echo "install-deps.sh: installing ${missing[*]}" >&2
sudo=()
((EUID != 0)) && sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
