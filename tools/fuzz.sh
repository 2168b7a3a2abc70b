#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (in build-fuzz/) and runs one of them.
#
#   tools/fuzz.sh job|image|metadata|cache SECONDS [extra libFuzzer options...]
#
# SECONDS 0 only builds.
# The corpus grows in build-fuzz/corpus-TARGET, seeded from fuzz/corpus/TARGET (and, for
# images and metadata, from the tests' image fixtures; for images also the example photos, for
# metadata the tests' sidecars; for the prints cache a cache the fuzzer itself writes).
# Findings land in build-fuzz/findings-TARGET/; keep each as a regression file under
# fuzz/regressions/TARGET/.
# BUILD_DIR overrides the build folder, CORPUS_DIR the corpus folder.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
[[ $# -ge 2 && ($1 == job || $1 == image || $1 == metadata || $1 == cache) && $2 =~ ^[0-9]+$ ]] ||
  { echo "usage: tools/fuzz.sh job|image|metadata|cache SECONDS [libFuzzer options...]" >&2; exit 2; }
target=$1
seconds=$2
shift 2
build=${BUILD_DIR:-$root/build-fuzz}

command -v clang++ >/dev/null || { echo "fuzz.sh: clang++ not found (tools/install-deps.sh clang libclang-rt-14-dev)" >&2; exit 1; }
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DVELTO_FUZZ=ON -DVELTO_TESTS=OFF -DVELTO_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target "${target}_fuzzer" >/dev/null

[[ $seconds == 0 ]] && exit 0

corpus=${CORPUS_DIR:-$build/corpus-$target}
findings=$build/findings-$target
mkdir -p "$corpus" "$findings"
cp -n "$root/fuzz/corpus/$target"/* "$corpus/" 2>/dev/null || true
case $target in
  job)
    max_len=$((1 << 20))
    options=(-dict="$root/fuzz/job.dict")
    ;;
  image)
    max_len=$((2 << 20))
    options=()
    if [[ ! -e $corpus/.seeded ]]; then
      # Every variant the decoder handles, from the tests' image fixtures, and real photos.
      for f in "$root"/tests/data/images/*/*; do
        cp -n "$f" "$corpus/$(basename "$(dirname "$f")")-$(basename "$f")"
      done
      cp -n "$root"/examples/photos/*.jpg "$corpus/"
      touch "$corpus/.seeded"
    fi
    ;;
  metadata)
    # Photos are read whole by Exiv2; a megabyte leaves room for every fixture.
    max_len=$((1 << 20))
    options=(-dict="$root/fuzz/metadata.dict")
    if [[ ! -e $corpus/.seeded ]]; then
      # Every format's container, with and without Exif and XMP, and the tests' sidecars (the
      # dated photos and a sidecar as the program writes it are in fuzz/corpus/metadata).
      for f in "$root"/tests/data/images/*/* "$root"/tests/data/sidecar/*; do
        cp -n "$f" "$corpus/$(basename "$(dirname "$f")")-$(basename "$f")"
      done
      touch "$corpus/.seeded"
    fi
    ;;
  cache)
    # A cache of a few entries is about 30 KB; SQLite reads pages of 4 KB.
    max_len=$((256 << 10))
    options=()
    [[ -e $corpus/seed.sqlite3 ]] ||
      "$build/fuzz/cache_fuzzer" -velto_make_seed="$corpus/seed.sqlite3"
    ;;
esac

# Leaks are checked; UBSan findings abort (the code is built so), ASan ones always do.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec "$build/fuzz/${target}_fuzzer" "$corpus" -artifact_prefix="$findings/" \
  -max_total_time="$seconds" -max_len="$max_len" -rss_limit_mb=4096 -timeout=10 \
  -print_final_stats=1 "${options[@]}" "$@"
