#!/usr/bin/env bash
# Usage: tests/package/run.sh BUILD_DIR
# Builds the Debian package from BUILD_DIR with cpack, checks its control data, unpacks it into
# a scratch root, groups the example job with the unpacked velto-fprint, and renders every
# manual page it holds without a single groff warning.
set -euo pipefail
build=$(cd "${1:?usage: tests/package/run.sh BUILD_DIR}" && pwd)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
"$root/tools/install-deps.sh" dpkg-dev man-db groff-base

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
check() {  # check DESCRIPTION COMMAND...: runs the command, reports and counts a failure
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what" >&2; failed=1; fi
}

# The package, built into the scratch folder so the build tree keeps no stale copies.
(cd "$build" && cpack -G DEB -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1) ||
  { cat "$scratch/cpack.log" >&2; exit 1; }
arch=$(dpkg --print-architecture)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb="$scratch/pkg/velto-fprint_${version}_${arch}.deb"
check "package file is named velto-fprint_<version>_<arch>.deb" test -f "$deb"
[[ -f $deb ]] || { ls "$scratch/pkg" >&2; exit 1; }

# Control data: the runtime libraries must arrive as dependencies, found by dpkg-shlibdeps.
dpkg-deb -I "$deb" >"$scratch/info"
field() { sed -n "s/^ $1: //p" "$scratch/info"; }
depends=$(field Depends)
echo "Depends: $depends"
check "Package is velto-fprint" test "$(field Package)" = velto-fprint
check "Version is $version" test "$(field Version)" = "$version"
check "Architecture is $arch" test "$(field Architecture)" = "$arch"
check "Maintainer is set" test -n "$(field Maintainer)"
check "Description is set" test -n "$(field Description)"
for lib in 'libopencv-core[0-9.]+' 'libopencv-imgproc[0-9.]+' \
           'libopencv-imgcodecs[0-9.]+' 'libheif1' 'libjpeg62-turbo' 'libpng16-16' 'libtiff6' \
           'libwebp7' 'libwebpdemux2' 'libgif7' 'libjxl0.7' 'libraw20' 'libexiv2-27' \
           'libsqlite3-0' 'libxxhash0' \
           'libstdc\+\+6' 'libc6'; do
  check "Depends names $lib" grep -Eq "(^|, )$lib( |,|$)" <<<"$depends"
done

# Contents: the five programs and their pages, nothing from the tests or tools.
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' | grep -v '/$' | sort >"$scratch/files"
expected=$(printf '%s\n' /usr/bin/velto-fprint /usr/bin/velto-fprint-embed \
  /usr/bin/velto-fprint-folder /usr/bin/velto-fprint-replay /usr/bin/velto-fprint-report \
  /usr/share/man/man1/velto-fprint-embed.1 /usr/share/man/man1/velto-fprint-folder.1 \
  /usr/share/man/man1/velto-fprint-replay.1 /usr/share/man/man1/velto-fprint-report.1 \
  /usr/share/man/man1/velto-fprint.1)
check "package holds exactly the programs and manual pages" \
  diff <(echo "$expected") "$scratch/files"

# Unpacked into a scratch root, the programs run from there on the example job.
dpkg -x "$deb" "$scratch/root"
bin="$scratch/root/usr/bin"
(cd "$root/examples" && "$bin/velto-fprint" job.json "$scratch/result.json") 2>"$scratch/err" || true
check "installed velto-fprint groups the example job" \
  test "$(cat "$scratch/result.json" 2>/dev/null)" = '{"groups":[1,1,1,2,2,2,3,3,4,4]}'
check "installed velto-fprint is silent" test ! -s "$scratch/err"
(cd "$root/examples" && "$bin/velto-fprint-report" job.json "$scratch/report.html") || true
check "installed velto-fprint-report writes a page" grep -q '<figure class="tile"' "$scratch/report.html"
(cd "$root/examples" && "$bin/velto-fprint-embed" job.json "$scratch/prints" >/dev/null &&
  "$bin/velto-fprint-replay" "$scratch/prints/job.json" "$scratch/replayed.json") || true
check "installed embed and replay give the same groups" \
  test "$(cat "$scratch/replayed.json" 2>/dev/null)" = '{"groups":[1,1,1,2,2,2,3,3,4,4]}'

# Its prints cache goes to the scratch folder, not the user's.
(cd "$root/examples" && XDG_CACHE_HOME="$scratch/cache" "$bin/velto-fprint-folder" photos \
  >"$scratch/listing.csv" 2>"$scratch/folder.err") || true
check "installed velto-fprint-folder lists the example photos" \
  test "$(wc -l <"$scratch/listing.csv")" -eq 11
check "installed velto-fprint-folder sums up" grep -q '^velto-fprint-folder: 10 photos' "$scratch/folder.err"
check "installed velto-fprint-folder keeps its prints" test -s "$scratch/cache/velto-fprint/prints.sqlite3"
check "installed velto-fprint-folder answers --version" \
  grep -q '^velto-fprint-folder [0-9]' <("$bin/velto-fprint-folder" --version)

# Every page renders at 80 columns without warnings and has the sections a reader looks for.
for page in "$scratch"/root/usr/share/man/man1/*.1; do
  name=$(basename "$page" .1)
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  check "man page $name renders without warnings" test -z "$warnings"
  [[ -z $warnings ]] || echo "$warnings" >&2
  text=$(MANWIDTH=80 MAN_KEEP_FORMATTING=0 man -l "$page" 2>/dev/null | col -b)
  for section in NAME SYNOPSIS DESCRIPTION 'JOB FILE' 'EXIT STATUS' DIAGNOSTICS EXAMPLES; do
    check "man page $name has $section" grep -q "^$section\$" <<<"$text"
  done
  check "man page $name names its program" grep -q "^       $name " <<<"$text"
  check "man page $name fits 80 columns" test "$(awk '{ if (length > m) m = length } END { print m }' <<<"$text")" -le 80
done

if ((failed)); then echo "package test: failures above" >&2; exit 1; fi
echo "package test: all checks passed"
