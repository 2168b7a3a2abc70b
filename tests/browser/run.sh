#!/usr/bin/env bash
# Usage: tests/browser/run.sh BUILD_DIR
# Opens report pages made by BUILD_DIR's programs in Debian's chromium and checks what a person
# sees: the example job's (velto-fprint-report) and a folder's (velto-fprint-folder, photos
# dated with exiv2). Installs chromium (with its driver), exiv2 and the pinned playwright-core
# from package-lock.json first; the screenshots land in BUILD_DIR/test-artifacts.
set -euo pipefail
build=$(cd "${1:?usage: tests/browser/run.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)

"$root/tools/install-deps.sh" chromium chromium-driver exiv2
cd "$here"
# npm ci starts from the lock file every time; the package cache keeps that quick.
npm ci --prefer-offline --no-audit --no-fund --loglevel=error >/dev/null
# One after the other: two browsers at once would only crowd the machine.
status=0
node report_test.js "$build" || status=1
node folder_page_test.js "$build" || status=1
exit $status
