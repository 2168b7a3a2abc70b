#!/usr/bin/env bash
# Installs what is missing, builds velto-fprint and groups the bundled example job.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/tools/install-deps.sh" libexiv2-dev
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j2 --target velto-fprint >/dev/null
result=$(mktemp -d)
trap 'rm -rf "$result"' EXIT
(cd "$root/examples" && "$root/build/velto-fprint" job.json "$result/result.json")
cat "$result/result.json"
echo
