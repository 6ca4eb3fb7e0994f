#!/usr/bin/env python3
"""Checks the pictures against the layout file and the main window.

    python3 check_art.py -v

A key is placed by the bounds of its dark element and drawn with its
highlight element in the same box, and Qt hit-tests keys by their boxes,
so the geometry is measured here from the SVG itself, independently of
the generator's tables.
"""

import math
import os
import re
import struct
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
IMAGES = os.path.normpath(os.path.join(HERE, "..", "images"))
LAYOUTS = os.path.normpath(os.path.join(HERE, "..", "keyboards", "default.xml"))
NS = "{http://www.w3.org/2000/svg}"

# What Qt's SVG Tiny renderer draws; anything else would silently vanish.
TINY_ELEMENTS = {"svg", "title", "defs", "linearGradient", "radialGradient", "stop", "g", "rect",
                 "circle", "ellipse", "line", "polygon", "polyline", "path", "text"}
UNSUPPORTED_ATTRS = {"style", "class", "filter", "mask", "clip-path", "transform"}

# Canvas areas covered by widgets of the main window (x0, y0, x1, y1): the
# firmware version label, always, and the go button on the sequenced layouts.
VERSION_LABEL = (0, 358, 133, 400)
GO_BUTTON = (708, 328, 800, 400)


def tag(el):
    return el.tag[len(NS):] if el.tag.startswith(NS) else el.tag


def f(el, name, default=0.0):
    return float(el.get(name, default))


def arc_points(x1, y1, rx, ry, large, sweep, x2, y2):
    """Points along an SVG arc (rotation 0), by the endpoint-to-centre rule."""
    if rx == 0 or ry == 0:
        return [(x2, y2)]
    dx, dy = (x1 - x2) / 2, (y1 - y2) / 2
    lam = (dx * dx) / (rx * rx) + (dy * dy) / (ry * ry)
    if lam > 1:
        rx, ry = rx * math.sqrt(lam), ry * math.sqrt(lam)
    num = rx * rx * ry * ry - rx * rx * dy * dy - ry * ry * dx * dx
    den = rx * rx * dy * dy + ry * ry * dx * dx
    k = math.sqrt(max(0.0, num / den)) if den else 0.0
    if large == sweep:
        k = -k
    cxp, cyp = k * rx * dy / ry, -k * ry * dx / rx
    cx, cy = cxp + (x1 + x2) / 2, cyp + (y1 + y2) / 2
    t1 = math.atan2((dy - cyp) / ry, (dx - cxp) / rx)
    t2 = math.atan2((-dy - cyp) / ry, (-dx - cxp) / rx)
    dt = t2 - t1
    if sweep and dt < 0:
        dt += 2 * math.pi
    if not sweep and dt > 0:
        dt -= 2 * math.pi
    return [(cx + rx * math.cos(t1 + dt * i / 64), cy + ry * math.sin(t1 + dt * i / 64)) for i in range(65)]


def path_points(d):
    tokens = re.findall(r"[A-Za-z]|-?[0-9]*\.?[0-9]+(?:e-?[0-9]+)?", d)
    pts, i, cmd, cur, start = [], 0, None, (0.0, 0.0), (0.0, 0.0)
    while i < len(tokens):
        if tokens[i].isalpha():
            cmd = tokens[i]
            i += 1
            if cmd in "Zz":
                cur = start
                continue
        take = {"M": 2, "L": 2, "A": 7}.get(cmd)
        if take is None:
            raise ValueError(f"path command {cmd} not measured")
        vals = [float(t) for t in tokens[i:i + take]]
        i += take
        if cmd == "A":
            pts += arc_points(cur[0], cur[1], vals[0], vals[1], int(vals[3]), int(vals[4]), vals[5], vals[6])
            cur = (vals[5], vals[6])
        else:
            cur = (vals[0], vals[1])
            if cmd == "M":
                start = cur
            pts.append(cur)
    return pts


def text_box(el):
    """Generous estimate of a label's ink box in DejaVu Sans."""
    s = el.text or ""
    size = f(el, "font-size")
    width = sum(0.75 if (c.isupper() or ord(c) > 0x2000) else 0.62 for c in s) * size
    x, base = f(el, "x"), f(el, "y")
    anchor = el.get("text-anchor", "start")
    x0 = x - width / 2 if anchor == "middle" else (x - width if anchor == "end" else x)
    return (x0, base - 0.76 * size, x0 + width, base + 0.24 * size)


def shape_box(el):
    """Bounds of one drawn shape, stroke included; None for text and groups."""
    t = tag(el)
    if t == "rect":
        box = (f(el, "x"), f(el, "y"), f(el, "x") + f(el, "width"), f(el, "y") + f(el, "height"))
    elif t == "circle":
        r = f(el, "r")
        box = (f(el, "cx") - r, f(el, "cy") - r, f(el, "cx") + r, f(el, "cy") + r)
    elif t == "line":
        xs, ys = (f(el, "x1"), f(el, "x2")), (f(el, "y1"), f(el, "y2"))
        box = (min(xs), min(ys), max(xs), max(ys))
    elif t == "path":
        pts = path_points(el.get("d"))
        box = (min(p[0] for p in pts), min(p[1] for p in pts), max(p[0] for p in pts), max(p[1] for p in pts))
    else:
        return None
    if el.get("stroke", "none") != "none":
        h = f(el, "stroke-width", 1) / 2
        box = (box[0] - h, box[1] - h, box[2] + h, box[3] + h)
    return box


def union(boxes):
    boxes = [b for b in boxes if b]
    return (min(b[0] for b in boxes), min(b[1] for b in boxes), max(b[2] for b in boxes), max(b[3] for b in boxes))


def element_box(el):
    return union([shape_box(e) for e in el.iter()])


def overlaps(a, b, slack=0.01):
    return a[0] < b[2] - slack and b[0] < a[2] - slack and a[1] < b[3] - slack and b[1] < a[3] - slack


def contains(outer, inner, slack=0.5):
    return (inner[0] >= outer[0] - slack and inner[1] >= outer[1] - slack
            and inner[2] <= outer[2] + slack and inner[3] <= outer[3] + slack)


class Picture:
    def __init__(self, path):
        self.root = ET.parse(path).getroot()
        self.ids = {}
        self.duplicates = []
        for el in self.root.iter():
            if el.get("id"):
                if el.get("id") in self.ids:
                    self.duplicates.append(el.get("id"))
                self.ids[el.get("id")] = el
        vb = [float(v) for v in self.root.get("viewBox").split()]
        self.canvas = (vb[0], vb[1], vb[0] + vb[2], vb[1] + vb[3])


def sequenced_layouts():
    """Names of the layouts that "go" steps through: they show the go button."""
    root = ET.parse(LAYOUTS).getroot()
    return {kb.get("name") for kb in root.iter("keyboard") if kb.get("type") == "sequenced"}


def load_layouts():
    """[(layout name, picture file, [(key name, highlight id, dark id)])]."""
    out = []
    for kb in ET.parse(LAYOUTS).getroot().iter("keyboard"):
        keys = [(k.get("name"), k.get("highlight"), k.get("dark")) for k in kb.iter("key")]
        out.append((kb.get("name"), kb.get("image").split("/")[-1], keys))
    return out


def png_size(path):
    with open(path, "rb") as fh:
        head = fh.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path} is not a PNG")
    return struct.unpack(">II", head[16:24])


class LayoutPictures(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.layouts = load_layouts()
        cls.sequenced = sequenced_layouts()
        cls.pictures = {name: Picture(os.path.join(IMAGES, name)) for _, name, _ in cls.layouts}

    def test_nine_layouts_over_eight_pictures(self):
        self.assertEqual(len(self.layouts), 9)
        self.assertEqual(len(self.pictures), 8)

    def test_pictures_use_only_what_qt_draws(self):
        for name, pic in self.pictures.items():
            self.assertEqual(pic.duplicates, [], name)
            for el in pic.root.iter():
                self.assertIn(tag(el), TINY_ELEMENTS, f"{name}: <{tag(el)}>")
                self.assertFalse(UNSUPPORTED_ATTRS & set(el.attrib), f"{name}: {tag(el)} {el.attrib}")
                for value in el.attrib.values():
                    for ref in re.findall(r"url\(#([^)]+)\)", value):
                        self.assertIn(ref, pic.ids, f"{name}: dangling url(#{ref})")

    def test_background_spans_the_canvas(self):
        # The layout's bounds decide its scale in the view: every picture
        # must fill its canvas exactly, and keep a canvas near 2:1.
        for name, pic in self.pictures.items():
            self.assertIn("background", pic.ids, name)
            self.assertEqual(element_box(pic.ids["background"])[:2], pic.canvas[:2], name)
            box = element_box(pic.ids["background"])
            self.assertTrue(contains(pic.canvas, box, 10), f"{name}: background {box} outside canvas")
            w, h = pic.canvas[2] - pic.canvas[0], pic.canvas[3] - pic.canvas[1]
            self.assertAlmostEqual(w / h, 801 / 401, delta=0.05)

    def test_every_key_has_both_looks_in_one_place(self):
        for layout, name, keys in self.layouts:
            pic = self.pictures[name]
            for key, lit, dark in keys:
                with self.subTest(layout=layout, key=key):
                    self.assertIn(dark, pic.ids)
                    self.assertIn(lit, pic.ids)
                    a, b = element_box(pic.ids[dark]), element_box(pic.ids[lit])
                    for u, v in zip(a, b):
                        self.assertAlmostEqual(u, v, places=2, msg=f"{dark} {a} vs {lit} {b}")

    def test_keys_of_a_layout_do_not_overlap(self):
        for layout, name, keys in self.layouts:
            pic = self.pictures[name]
            boxes = {dark: element_box(pic.ids[dark]) for _, _, dark in keys}
            darks = sorted(boxes)
            for i, a in enumerate(darks):
                for b in darks[i + 1:]:
                    self.assertFalse(overlaps(boxes[a], boxes[b]), f"{layout}: {a} {boxes[a]} overlaps {b} {boxes[b]}")

    def test_keys_stay_clear_of_the_window_widgets(self):
        for layout, name, keys in self.layouts:
            pic = self.pictures[name]
            covered = [VERSION_LABEL] + ([GO_BUTTON] if layout in self.sequenced else [])
            for key, _, dark in keys:
                box = element_box(pic.ids[dark])
                self.assertTrue(contains(pic.canvas, box, 0), f"{layout}: {key} leaves the canvas")
                for zone in covered:
                    self.assertFalse(overlaps(box, zone), f"{layout}: {key} {box} lies under a widget {zone}")

    def test_labels_fit_on_their_keys(self):
        for name, pic in self.pictures.items():
            for eid, el in pic.ids.items():
                if tag(el) != "g" or not (eid.endswith("_g") or eid.endswith("_h") or eid == "grey_disc"):
                    continue
                outline = element_box(el)
                for t in el.iter(NS + "text"):
                    self.assertTrue(contains(outline, text_box(t), 1.0), f"{name}: '{t.text}' spills off {eid}")


class WindowBitmaps(unittest.TestCase):
    # The stop pictures replace both go (81 wide) and erase (90 wide), so
    # all picture buttons are 81x61.
    SIZES = {"keyboard_back.png": (801, 571), "TextBox.png": (601, 71),
             "bottom_connected.png": (91, 71), "bottom_disconnected.png": (91, 71),
             **{f"Buttons/{k}Button{c}.png": (81, 61) for k in ("go", "erase", "stop") for c in ("Gray", "Green")}}

    def test_bitmaps_have_the_widget_sizes(self):
        for name, size in self.SIZES.items():
            self.assertEqual(png_size(os.path.join(IMAGES, name)), size, name)

    def test_every_source_has_its_bitmap_at_the_same_size(self):
        src_root = os.path.join(HERE, "png")
        for dirpath, _, files in os.walk(src_root):
            for fn in files:
                src = os.path.join(dirpath, fn)
                root = ET.parse(src).getroot()
                rel = os.path.relpath(src, src_root)[:-4] + ".png"
                self.assertEqual(png_size(os.path.join(IMAGES, rel)),
                                 (int(root.get("width")), int(root.get("height"))), rel)


class Generator(unittest.TestCase):
    def test_committed_files_match_the_generator(self):
        # Catches hand edits of generated files and forgotten regenerations.
        sys.path.insert(0, HERE)
        import generate_art
        with tempfile.TemporaryDirectory() as tmp:
            written = generate_art.write_all(os.path.join(tmp, "images"), os.path.join(tmp, "png"))
            for path in written:
                rel = os.path.relpath(path, tmp)
                committed = os.path.join(IMAGES, rel[len("images/"):]) if rel.startswith("images") \
                    else os.path.join(HERE, rel)
                with open(path, encoding="utf-8") as a, open(committed, encoding="utf-8") as b:
                    self.assertTrue(a.read() == b.read(), f"{rel} is stale: run generate_art.py")


if __name__ == "__main__":
    unittest.main()
