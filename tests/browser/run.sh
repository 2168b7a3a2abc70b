#!/usr/bin/env bash
# Usage: tests/browser/run.sh BUILD_DIR
# Opens the report of the example job, made by BUILD_DIR/velto-fprint-report, in Debian's
# chromium and checks what a person sees. Installs chromium (with its driver) and the pinned
# playwright-core from package-lock.json first; the screenshot lands in BUILD_DIR/test-artifacts.
set -euo pipefail
build=$(cd "${1:?usage: tests/browser/run.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)

"$root/tools/install-deps.sh" chromium chromium-driver
cd "$here"
# npm ci starts from the lock file every time; the package cache keeps that quick.
npm ci --prefer-offline --no-audit --no-fund --loglevel=error >/dev/null
exec node report_test.js "$build"
