#!/usr/bin/env python3
"""Writes every picture of the application from the tables in this folder.

    python3 generate_art.py      # key pictures -> ../images/*.svg,
                                 # bitmap sources -> png/**/*.svg
    sh render_png.sh             # bitmap sources -> ../images/**/*.png

Python 3 standard library only. The output is deterministic, so a rerun
on unchanged tables leaves the working tree unchanged.
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import keyboard  # noqa: E402
import remotes  # noqa: E402
import windowart  # noqa: E402


def pictures():
    """Picture file name -> SVG text, for the clickable key pictures."""
    out = {"us101.svg": keyboard.build()}
    for name, build in remotes.PICTURES.items():
        out[name] = build()
    return out


def write_all(images_dir, png_src_dir):
    written = []
    for name, svg in pictures().items():
        dest = os.path.join(images_dir, name)
        _write(dest, svg)
        written.append(dest)
    for target, svg in windowart.sources().items():
        dest = os.path.join(png_src_dir, target[:-4] + ".svg")
        _write(dest, svg)
        written.append(dest)
    return written


def _write(dest, content):
    os.makedirs(os.path.dirname(dest), exist_ok=True)
    with open(dest, "w", encoding="utf-8", newline="\n") as f:
        f.write(content)


def main():
    images = os.path.normpath(os.path.join(HERE, "..", "images"))
    for path in write_all(images, os.path.join(HERE, "png")):
        print(os.path.relpath(path, HERE))


if __name__ == "__main__":
    main()
