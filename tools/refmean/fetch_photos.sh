#!/usr/bin/env bash
# Assemble the reference photo set listed in photos.txt (next to this script).
#
# Usage: tools/refmean/fetch_photos.sh OUTDIR
#
# Downloads the Debian packages named in photos.txt with `apt-get download
# PKG=VERSION` (falling back to the candidate version when that exact version is
# no longer offered; the sha256 check then decides), extracts them with
# `dpkg-deb -x` (nothing is installed), checks each listed file's sha256 and
# copies it to OUTDIR/NN_<basename>, NN being its line order in photos.txt.
# OUTDIR/list.txt gets the copied paths, one per line, in that order.
#
# Idempotent: when OUTDIR/list.txt already names the expected files and all of
# them still match their checksums, nothing is downloaded.
#
# Exit status: 0 on success; 1 on a missing file or checksum mismatch (one line
# on stderr naming the file); 2 on bad usage or an unusable photos.txt.
set -euo pipefail

prog=$(basename "$0")
die() { echo "$prog: $*" >&2; exit 1; }

if [[ $# -ne 1 || -z $1 ]]; then
    echo "usage: $prog OUTDIR" >&2
    exit 2
fi

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
manifest=$here/photos.txt
[[ -r $manifest ]] || { echo "$prog: cannot read $manifest" >&2; exit 2; }

for tool in apt-get dpkg-deb sha256sum; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$prog: '$tool' not found" >&2; exit 2; }
done

# ---- read the manifest ------------------------------------------------------
pkgs=() vers=() paths=() sums=()
lineno=0
while IFS= read -r line || [[ -n $line ]]; do
    lineno=$((lineno + 1))
    [[ $line =~ ^[[:space:]]*(#|$) ]] && continue
    read -r p v f s extra <<<"$line"
    if [[ -z ${s:-} || -n ${extra:-} || ! $s =~ ^[0-9a-f]{64}$ || $f != /* ]]; then
        echo "$prog: $manifest:$lineno: malformed line" >&2
        exit 2
    fi
    pkgs+=("$p") vers+=("$v") paths+=("$f") sums+=("$s")
done <"$manifest"

count=${#paths[@]}
((count > 0)) || { echo "$prog: $manifest lists no photos" >&2; exit 2; }
width=${#count}
((width < 2)) && width=2

mkdir -p "$1"
outdir=$(cd "$1" && pwd)

names=()
for ((i = 0; i < count; i++)); do
    names+=("$outdir/$(printf '%0*d' "$width" $((i + 1)))_$(basename "${paths[i]}")")
done
expected_list=$(printf '%s\n' "${names[@]}")

# ---- nothing to do when the set is already complete and intact ---------------
already_done() {
    [[ -f $outdir/list.txt ]] || return 1
    [[ $(<"$outdir/list.txt") == "$expected_list" ]] || return 1
    local i got
    for ((i = 0; i < count; i++)); do
        [[ -f ${names[i]} ]] || return 1
        got=$(sha256sum <"${names[i]}") || return 1
        [[ ${got%% *} == "${sums[i]}" ]] || return 1
    done
}
if already_done; then
    echo "$prog: $outdir already holds the $count photos; nothing to do" >&2
    exit 0
fi

# ---- download and extract ----------------------------------------------------
tmp=$(mktemp -d "${TMPDIR:-/tmp}/refphotos.XXXXXX")
trap 'rm -rf -- "$tmp"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
chmod 755 "$tmp"
mkdir "$tmp/debs" "$tmp/root"

updated=0
apt_download() { # DIR PACKAGE[=VERSION]: quiet download into DIR
    (cd "$1" && apt-get download -q "$2" >"$tmp/apt.log" 2>&1)
}
fetch_deb() { # PKG VERSION DIR: leaves exactly one .deb in DIR
    local p=$1 v=$2 d=$3
    mkdir "$d"
    # As root, apt hands the download to its unprivileged _apt user; let it write.
    if [[ $(id -u) -eq 0 ]] && id _apt >/dev/null 2>&1; then
        chown _apt "$d"
    fi
    apt_download "$d" "$p=$v" && return 0
    # Package lists may be missing or stale (fresh machine): refresh once.
    if ((updated == 0)) && [[ $(id -u) -eq 0 ]]; then
        updated=1
        apt-get update -qq >/dev/null 2>&1 || true
        apt_download "$d" "$p=$v" && return 0
    fi
    echo "$prog: note: $p=$v not available, trying the candidate version" >&2
    apt_download "$d" "$p" && return 0
    sed 's/^/  /' "$tmp/apt.log" >&2
    return 1
}

declare -A rootof=()
n=0
for ((i = 0; i < count; i++)); do
    key="${pkgs[i]}=${vers[i]}"
    [[ -n ${rootof[$key]:-} ]] && continue
    n=$((n + 1))
    fetch_deb "${pkgs[i]}" "${vers[i]}" "$tmp/debs/$n" || die "cannot download package ${pkgs[i]}"
    debs=("$tmp/debs/$n"/*.deb)
    [[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || die "cannot download package ${pkgs[i]}"
    mkdir "$tmp/root/$n"
    dpkg-deb -x "${debs[0]}" "$tmp/root/$n"
    rootof[$key]=$tmp/root/$n
done
downloaded=$(du -cb "$tmp"/debs/*/*.deb | tail -n1 | cut -f1)

# ---- verify every file before touching OUTDIR ---------------------------------
for ((i = 0; i < count; i++)); do
    src="${rootof["${pkgs[i]}=${vers[i]}"]}${paths[i]}"
    [[ -f $src ]] || die "missing file ${paths[i]} in ${pkgs[i]} ${vers[i]}"
    got=$(sha256sum <"$src")
    [[ ${got%% *} == "${sums[i]}" ]] ||
        die "sha256 mismatch for ${paths[i]} in ${pkgs[i]} (expected ${sums[i]}, got ${got%% *})"
done

# ---- copy ---------------------------------------------------------------------
# Files named in an earlier list.txt that the new set does not reuse are ours:
# remove them so OUTDIR holds exactly the current set.
if [[ -f $outdir/list.txt ]]; then
    while IFS= read -r old; do
        [[ $old == "$outdir"/* && -f $old ]] || continue
        grep -qxF -- "$old" <<<"$expected_list" || rm -f -- "$old"
    done <"$outdir/list.txt"
fi
rm -f -- "$outdir/list.txt"
for ((i = 0; i < count; i++)); do
    src="${rootof["${pkgs[i]}=${vers[i]}"]}${paths[i]}"
    cp -- "$src" "${names[i]}.tmp"
    chmod 644 "${names[i]}.tmp"
    mv -f -- "${names[i]}.tmp" "${names[i]}"
done
printf '%s\n' "$expected_list" >"$outdir/list.txt.tmp"
mv -f -- "$outdir/list.txt.tmp" "$outdir/list.txt"

echo "$prog: copied $count photos to $outdir ($(( (downloaded + 524288) / 1048576 )) MiB of packages downloaded)" >&2
