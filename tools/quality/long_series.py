#!/usr/bin/python3
"""A set of long series made from the developer sets' scenes, for choosing groupings.

  long_series.py OUT [BASE ...]    writes OUT/long/manifest.json and OUT/long/images/ (default
                                   BASE: dev bursts); OUT then serves as a bench folder

The developer sets hold mostly short scenes (two to five photos). Real libraries also hold long
series: panorama sweeps and bursts with motion, five to ten frames that drift. Each scene of the
bases becomes one series of 5 to 10 frames, each with a small random exposure change (within
+-0.4 EV, in linear light), of one of two kinds (even odds):
  sweep   a crop of 45 to 60 % of one of the scene's photos moving steadily from one side of it
          to the other, as a panorama sweep does: first and last frame share little
  walk    the scene's photos in their order, each frame a crop of 60 to 85 % of the picture
          whose centre and size drift steadily from the first frame to the last
Made with
ImageMagick; every choice comes from random.Random("long:<scene id>"), so reruns give the same
files. The scenes keep their sources, so the halves of bench_sets.py apply (trip / repo).
"""
import concurrent.futures
import json
import os
import random
import subprocess
import sys

import bench_sets

SIDE = 800  # long side of the frames: plenty for the 224 x 224 network input


def upright_size(path):
    """Width and height of the picture as shown (EXIF orientations 5 to 8 turn it)."""
    out = subprocess.run(["identify", "-format", "%w %h %[EXIF:Orientation]\\n", path],
                         capture_output=True, text=True, check=True).stdout.split("\n")[0].split()
    w, h = int(out[0]), int(out[1])
    return (h, w) if len(out) > 2 and out[2] in ("5", "6", "7", "8") else (w, h)


def frame_commands(scene, base, out_images, first_index):
    rng = random.Random(f"long:{base}:{scene['id']}")
    count = rng.randint(5, 10)
    sweep = rng.random() < 0.5
    if sweep:
        size0 = size1 = rng.uniform(0.45, 0.6)
        cx0, cx1 = (0.0, 1.0) if rng.random() < 0.5 else (1.0, 0.0)
        cy0 = cy1 = rng.uniform(0.3, 0.7)
        only = rng.randrange(len(scene["photos"]))
    else:
        size0, size1 = rng.uniform(0.6, 0.85), rng.uniform(0.6, 0.85)
        cx0, cy0, cx1, cy1 = (rng.uniform(0.3, 0.7) for _ in range(4))
    photos, commands = [], []
    for k in range(count):
        t = k / (count - 1)
        src = scene["photos"][only if sweep else k * len(scene["photos"]) // count]["file"]
        size = size0 + (size1 - size0) * t
        cx, cy = cx0 + (cx1 - cx0) * t, cy0 + (cy1 - cy0) * t
        left = min(max(cx - size / 2, 0.0), 1.0 - size)
        top = min(max(cy - size / 2, 0.0), 1.0 - size)
        gain = 2 ** rng.uniform(-0.4, 0.4)
        name = f"images/long_{first_index + k:05d}.jpg"
        path = os.path.join(bench_sets.BENCH, base, src)
        w, h = upright_size(path)
        crop = f"{int(w * size)}x{int(h * size)}+{int(w * left)}+{int(h * top)}"
        commands.append(["convert", path, "-auto-orient", "-crop", crop, "+repage",
                         "-resize", f"{SIDE}x{SIDE}", "-colorspace", "RGB", "-evaluate",
                         "multiply", f"{gain:.4f}", "-colorspace", "sRGB", "-quality", "90",
                         os.path.join(out_images, os.path.basename(name))])
        photos.append({"file": name, "origin": f"{base}/{src}",
                       "processing": f"{'sweep' if sweep else 'walk'}: crop {size:.2f} at ({left:.2f}, {top:.2f}), gain {gain:.3f}"})
    return photos, commands


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    out = os.path.join(argv[1], "long")
    bases = argv[2:] or ["dev", "bursts"]
    images = os.path.join(out, "images")
    os.makedirs(images, exist_ok=True)
    scenes, commands, index = [], [], 1
    for base in bases:
        for scene in bench_sets.manifest(base)["scenes"]:
            photos, cmds = frame_commands(scene, base, images, index)
            index += len(photos)
            commands += cmds
            scenes.append({**scene, "id": f"{base}-{scene['id']}", "base": base,
                           "photos": photos})
    with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 2) as pool:
        for cmd in commands:
            if not os.path.exists(cmd[-1]):
                pool.submit(subprocess.run, cmd, check=True)
    manifest = {"set": "long", "seed": "long-series", "chunk": 60, "sources": bases,
                "scenes": scenes}
    with open(os.path.join(out, "manifest.json"), "w") as f:
        json.dump(manifest, f, indent=1)
    print(f"{out}: {len(scenes)} series, {index - 1} frames", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
