#!/usr/bin/python3
"""Fails when a source file includes a header of a folder its own folder may not depend on.

The folders of src/ form layers: each may include its own headers and those of the folders
listed for it below, nothing else of ours. The grouping core includes only the standard library.

    check_includes.py SRC_DIR
"""
import pathlib
import re
import sys

# folder -> folders it may include from (besides itself)
ALLOWED = {
    "core": set(),
    "io": set(),
    "job": {"io"},
    "prints": {"core", "io"},
    # One subsystem: the decoder front (image_decode) picks a codec; the codecs share the
    # header sniffing and pixel work of image/.
    "image": {"image/codecs", "io"},
    "image/codecs": {"image", "io"},
    "nn": {"io"},
    "embedding": {"core", "image", "nn", "prints", "io"},
    "app": {"core", "io", "job", "prints"},
    "report": {"app", "core", "image", "io", "job", "prints"},
    # Photo metadata through Exiv2: capture times, XMP sidecars.
    "metadata": {"io"},
    # The prints cache: kept prints of the current recipe, behind the image-analysis seam.
    "cache": {"core", "embedding", "io", "prints"},
    # velto-fprint-folder: a folder of photos through the same steps as a job.
    "folder": {"app", "cache", "core", "image", "io", "job", "metadata", "prints", "report"},
    "cmd": {"app", "core", "embedding", "folder", "io", "job", "prints", "report"},
}
STANDARD_ONLY = {"core"}  # may include nothing but the C++ standard library

OURS = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SYSTEM = re.compile(r"^\s*#\s*include\s+<([^>]+)>")


def folder_of(path, src):
    rel = path.relative_to(src).parent.as_posix()
    return rel


def header_folder(include):
    return include.rsplit("/", 1)[0] if "/" in include else ""


def is_standard(header):
    # C++ standard headers have no extension and no folder (<vector>, <cmath>).
    return "/" not in header and "." not in header


def main():
    src = pathlib.Path(sys.argv[1]).resolve()
    problems = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in {".h", ".cpp", ".inc"}:
            continue
        folder = folder_of(path, src)
        if folder not in ALLOWED:
            problems.append(f"{path.relative_to(src)}: folder {folder!r} has no layer")
            continue
        for number, line in enumerate(path.read_text().splitlines(), 1):
            where = f"{path.relative_to(src)}:{number}"
            if m := OURS.match(line):
                target = header_folder(m.group(1))
                if target != folder and target not in ALLOWED[folder]:
                    problems.append(f"{where}: {folder} may not include {m.group(1)}")
            elif (m := SYSTEM.match(line)) and folder in STANDARD_ONLY:
                if not is_standard(m.group(1)):
                    problems.append(f"{where}: {folder} includes only the standard library, "
                                    f"not <{m.group(1)}>")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
