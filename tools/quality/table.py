#!/usr/bin/python3
"""The quality table of a built velto-fprint on every developer set (tools/quality/table.sh).

usage: table.py BUILD_DIR WORK_DIR [DRAWS]

For each set in the bench folder: velto-fprint itself on the set's own jobs, and the same
prints (velto-fprint-embed, once per photo) regrouped by velto-fprint-replay on DRAWS re-dealt
job draws (default 5); each beside the rules' ceiling on the same jobs (ceiling.py, mean of
three draws of its scene vectors) and as a share of it. Beside each, the series grouping on the
very same prints (velto-fprint-replay --rules series): its shares are of the fixed rules'
ceiling, so it can pass 100 %.
"""
import json
import os
import subprocess
import sys

import bench_sets


def own_jobs(fprint, set_dir, out):
    os.makedirs(out, exist_ok=True)
    for name in sorted(os.listdir(os.path.join(set_dir, "jobs"))):
        subprocess.run([fprint, os.path.join("jobs", name), os.path.join(out, name)],
                       cwd=set_dir, check=False)
    text = subprocess.run(["/usr/bin/python3", os.path.join(bench_sets.BENCH, "score.py"),
                           "--set", set_dir, "--results", out],
                          capture_output=True, text=True).stdout
    return bench_sets.parse_summary(text)


def embed(embed_bin, base, out):
    """The shipped prints of every photo of the set: {photo path as jobs name it: print file}."""
    files = [p["file"] for s in bench_sets.manifest(base)["scenes"] for p in s["photos"]]
    os.makedirs(out, exist_ok=True)
    job = os.path.join(out, "all.json")
    with open(job, "w") as f:
        json.dump({"photos": files, "timeGroups": [1] * len(files)}, f)
    prints = os.path.join(out, "prints")
    if not os.path.exists(os.path.join(prints, "job.json")):
        subprocess.run([embed_bin, job, prints], cwd=os.path.join(bench_sets.BENCH, base),
                       check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(prints, "job.json")) as f:
        paths = json.load(f)["photos"]
    return {name: os.path.join(prints, p) for name, p in zip(files, paths)
            if os.path.exists(os.path.join(prints, p))}


def row(label, got, ceil):
    share = lambda k: f"{got[k] / ceil[k] * 100:5.1f} %"
    return (f"| {label} | {got['rF1']:.3f} | {ceil['rF1']:.3f} | {share('rF1')} | "
            f"{got['ARI']:.3f} | {ceil['ARI']:.3f} | {share('ARI')} | "
            f"{got['bF1']:.3f} | {ceil['bF1']:.3f} | {share('bF1')} |")


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__, file=sys.stderr)
        return 2
    build, work = os.path.abspath(argv[0]), os.path.abspath(argv[1])
    draws = int(argv[2]) if len(argv) == 3 else 5
    fprint = os.path.join(build, "velto-fprint")
    replay = os.path.join(build, "velto-fprint-replay")
    embed_bin = os.path.join(build, "velto-fprint-embed")
    print("| set, jobs | in-run F1 | ceiling | share | ARI | ceiling | share "
          "| boundary F1 | ceiling | share |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for base in bench_sets.developer_sets():
        set_dir = os.path.join(bench_sets.BENCH, base)
        ceil0 = bench_sets.ceiling(bench_sets.derive(work, base, "all", 0), replay)
        print(row(f"{base}, its own jobs, fixed rules",
                  own_jobs(fprint, set_dir, os.path.join(work, "own", base)), ceil0), flush=True)
        prints = embed(embed_bin, base, os.path.join(work, "embed", base))
        series = ["--rules", "series"]
        print(row(f"{base}, its own jobs, series",
                  bench_sets.replay_set(bench_sets.derive(work, base, "all", 0), prints, replay,
                                        os.path.join(work, "series", f"{base}-d0"), series),
                  ceil0), flush=True)
        if draws < 1:
            continue
        got, got_series, ceil = [], [], []
        for d in range(draws):
            derived = bench_sets.derive(work, base, "all", d)
            ceil.append(bench_sets.ceiling(derived, replay))
            got.append(bench_sets.replay_set(derived, prints, replay,
                                             os.path.join(work, "replay", f"{base}-d{d}")))
            got_series.append(bench_sets.replay_set(
                derived, prints, replay, os.path.join(work, "series", f"{base}-d{d}"), series))
        mean = lambda rs: {k: sum(r[k] for r in rs) / len(rs) for k in rs[0]}
        print(row(f"{base}, {draws} job draws, fixed rules", mean(got), mean(ceil)), flush=True)
        print(row(f"{base}, {draws} job draws, series", mean(got_series), mean(ceil)),
              flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
