#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice: in the Release
# build and in a build with AddressSanitizer and UndefinedBehaviorSanitizer; then fuzzes.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# The format tests make their files from photos with ImageMagick, cjxl and img2webp.
"$root/tools/install-deps.sh" libexiv2-dev exiv2 libheif-examples chromium chromium-driver dpkg-dev man-db \
  libjpeg-turbo-progs imagemagick libjxl-tools webp

cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j2
(cd "$root/build" && ctest --output-on-failure -j2)

cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTO_SANITIZE=ON \
  -DVELTO_BENCH=OFF >/dev/null
cmake --build "$root/build-asan" -j2
# Leak checks stay off: OpenCV keeps its thread pool and caches until exit by design.
# The SIGKILL test is left to the Release pass: a killed process reports nothing to the
# sanitizers, and its 200 runs of a 300000-photo job take nine minutes here (the SIGTERM test,
# whose handler does run, stays).
(cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j2 -E 'CrashSafeResultE2E\.KilledAtRandomMoments')

# Then a minute of fuzzing per target, and every kept fuzzing finding replayed, with clang and
# libFuzzer under the sanitizers (tools/fuzz-ci.sh; longer runs: tools/fuzz.sh).
"$root/tools/install-deps.sh" clang libclang-rt-14-dev
"$root/tools/fuzz-ci.sh" 60
