"""Drawing helpers shared by the picture generators.

Everything here emits plain SVG Tiny 1.2 markup (attributes only: no CSS,
filters, masks or clip paths), because the application draws the pictures
with Qt's SVG renderer, which supports nothing more.
"""

import math

FONT = "DejaVu Sans, sans-serif"

# One palette for every picture: graphite surfaces, light ink, and a single
# mint-green accent for hover and selection (the "green" buttons use it too).
ACCENT = "#3ddc97"
ACCENT_TOP = "#6ff0b6"
ACCENT_BOTTOM = "#1fbf7a"
ACCENT_EDGE = "#118a57"
ACCENT_INK = "#062a1b"

KEY_TOP = "#3c424e"
KEY_BOTTOM = "#2b3039"
KEY_EDGE = "#15181d"
MOD_TOP = "#323741"
MOD_BOTTOM = "#252930"
INK = "#eef1f6"
INK_DIM = "#9ba4b4"
RED = "#ff5c6c"
AMBER = "#ffc145"
BLUE = "#4aa3ff"

BODY_TOP = "#2c313b"
BODY_BOTTOM = "#1b1e25"
BODY_EDGE = "#4a5260"
PRINT = "#8d96a6"  # captions printed on device bodies


def num(v):
    """Shortest stable text for a coordinate, so regenerated files diff cleanly."""
    s = f"{v:.2f}".rstrip("0").rstrip(".")
    return "0" if s in ("-0", "") else s


def attrs(**kw):
    out = []
    for k, v in kw.items():
        if v is None:
            continue
        name = k.rstrip("_").replace("_", "-")
        out.append(f'{name}="{num(v) if isinstance(v, (int, float)) else v}"')
    return " ".join(out)


def rect(x, y, w, h, rx=0, **kw):
    return f'<rect {attrs(x=x, y=y, width=w, height=h, rx=rx or None, **kw)}/>'


def circle(cx, cy, r, **kw):
    return f'<circle {attrs(cx=cx, cy=cy, r=r, **kw)}/>'


def path(d, **kw):
    return f'<path {attrs(d=d, **kw)}/>'


def line(x1, y1, x2, y2, **kw):
    return f'<line {attrs(x1=x1, y1=y1, x2=x2, y2=y2, **kw)}/>'


def escape(s):
    return s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def text(x, y, s, size, fill, anchor="middle", weight=None, **kw):
    """Text whose visual middle sits at y: Qt ignores baseline alignment
    attributes, so the baseline is placed by hand."""
    base = y + size * 0.36
    return (f'<text {attrs(x=x, y=base, font_family=FONT, font_size=size, font_weight=weight, fill=fill, text_anchor=anchor, **kw)}>'
            f"{escape(s)}</text>")


def text_width(s, size, bold=False):
    """Rough advance width in DejaVu Sans, used to shrink labels to fit."""
    narrow = set("il.,:;'|!1Ij()[]{}/\\ft")
    wide = set("MWmw@%")
    w = 0.0
    for ch in s:
        if ch in narrow:
            w += 0.36
        elif ch in wide:
            w += 0.9
        elif ch.isupper() or ord(ch) > 0x2000:
            w += 0.72
        else:
            w += 0.6
    return w * size * (1.08 if bold else 1.0)


def fit_size(s, size, width, bold=False):
    while size > 7 and text_width(s, size, bold) > width:
        size -= 0.5
    return size


def pt(cx, cy, r, deg):
    """Point at angle deg (counter-clockwise from east, as on paper)."""
    a = math.radians(deg)
    return cx + r * math.cos(a), cy - r * math.sin(a)


def sector_path(cx, cy, r_in, r_out, a0, a1):
    x0, y0 = pt(cx, cy, r_out, a0)
    x1, y1 = pt(cx, cy, r_out, a1)
    x2, y2 = pt(cx, cy, r_in, a1)
    x3, y3 = pt(cx, cy, r_in, a0)
    return (f"M{num(x0)},{num(y0)} A{num(r_out)},{num(r_out)} 0 0 0 {num(x1)},{num(y1)} "
            f"L{num(x2)},{num(y2)} A{num(r_in)},{num(r_in)} 0 0 1 {num(x3)},{num(y3)} Z")


def gradient(gid, top, bottom, x2=0, y2=1):
    return (f'<linearGradient id="{gid}" x1="0" y1="0" x2="{x2}" y2="{y2}">'
            f'<stop offset="0" stop-color="{top}"/><stop offset="1" stop-color="{bottom}"/>'
            "</linearGradient>")


GRADIENTS = [
    gradient("keyFace", KEY_TOP, KEY_BOTTOM),
    gradient("modFace", MOD_TOP, MOD_BOTTOM),
    gradient("litFace", ACCENT_TOP, ACCENT_BOTTOM),
    gradient("body", BODY_TOP, BODY_BOTTOM),
]


# ---------------------------------------------------------------- icons
# Each icon is drawn centred on (cx, cy) within a box of side s, in one ink
# colour, so the same call serves the dark and the highlighted look.

def _tri(cx, cy, s, right=True):
    h = s / 2
    if right:
        return f"M{num(cx - h * 0.8)},{num(cy - h)} L{num(cx + h)},{num(cy)} L{num(cx - h * 0.8)},{num(cy + h)} Z"
    return f"M{num(cx + h * 0.8)},{num(cy - h)} L{num(cx - h)},{num(cy)} L{num(cx + h * 0.8)},{num(cy + h)} Z"


def _stroke(d, ink, w):
    return path(d, fill="none", stroke=ink, stroke_width=w, stroke_linecap="round",
                stroke_linejoin="round")


def icon(name, cx, cy, s, ink):
    w = max(1.4, s * 0.12)
    if name == "play":
        return path(_tri(cx + s * 0.05, cy, s * 0.8), fill=ink)
    if name == "pause":
        bw = s * 0.22
        return (rect(cx - s * 0.3, cy - s * 0.38, bw, s * 0.76, rx=1, fill=ink)
                + rect(cx + s * 0.08, cy - s * 0.38, bw, s * 0.76, rx=1, fill=ink))
    if name == "playpause":
        return (path(_tri(cx - s * 0.2, cy, s * 0.6), fill=ink)
                + rect(cx + s * 0.16, cy - s * 0.3, s * 0.12, s * 0.6, fill=ink)
                + rect(cx + s * 0.36, cy - s * 0.3, s * 0.12, s * 0.6, fill=ink))
    if name == "stop":
        return rect(cx - s * 0.32, cy - s * 0.32, s * 0.64, s * 0.64, rx=s * 0.06, fill=ink)
    if name == "record":
        return circle(cx, cy, s * 0.34, fill=ink)
    if name in ("ff", "rew"):
        right = name == "ff"
        d = s * 0.22
        return (path(_tri(cx - d if right else cx + d, cy, s * 0.55, right), fill=ink)
                + path(_tri(cx + d if right else cx - d, cy, s * 0.55, right), fill=ink))
    if name in ("next", "prev"):
        right = name == "next"
        bar_x = cx + s * 0.28 if right else cx - s * 0.28 - s * 0.12
        return (path(_tri(cx - s * 0.08 if right else cx + s * 0.08, cy, s * 0.62, right), fill=ink)
                + rect(bar_x, cy - s * 0.31, s * 0.12, s * 0.62, fill=ink))
    if name in ("arrow_up", "arrow_down", "arrow_left", "arrow_right"):
        h = s * 0.4
        pts = {"arrow_up": [(0, -h), (h, h * 0.6), (-h, h * 0.6)],
               "arrow_down": [(0, h), (h, -h * 0.6), (-h, -h * 0.6)],
               "arrow_left": [(-h, 0), (h * 0.6, -h), (h * 0.6, h)],
               "arrow_right": [(h, 0), (-h * 0.6, -h), (-h * 0.6, h)]}[name]
        d = "M" + " L".join(f"{num(cx + a)},{num(cy + b)}" for a, b in pts) + " Z"
        return path(d, fill=ink)
    if name == "power":
        r = s * 0.36
        x0, y0 = pt(cx, cy, r, 60)
        x1, y1 = pt(cx, cy, r, 120)
        return (_stroke(f"M{num(x1)},{num(y1)} A{num(r)},{num(r)} 0 1 0 {num(x0)},{num(y0)}", ink, w)
                + _stroke(f"M{num(cx)},{num(cy - s * 0.46)} L{num(cx)},{num(cy - s * 0.06)}", ink, w))
    if name in ("vol_up", "vol_down", "mute"):
        ox = cx - s * 0.18
        spk = (f"M{num(ox - s * 0.3)},{num(cy - s * 0.13)} L{num(ox - s * 0.12)},{num(cy - s * 0.13)} "
               f"L{num(ox + s * 0.1)},{num(cy - s * 0.34)} L{num(ox + s * 0.1)},{num(cy + s * 0.34)} "
               f"L{num(ox - s * 0.12)},{num(cy + s * 0.13)} L{num(ox - s * 0.3)},{num(cy + s * 0.13)} Z")
        out = path(spk, fill=ink)
        mx, m = cx + s * 0.27, s * 0.14
        if name == "mute":
            out += _stroke(f"M{num(mx - m)},{num(cy - m)} L{num(mx + m)},{num(cy + m)} "
                           f"M{num(mx + m)},{num(cy - m)} L{num(mx - m)},{num(cy + m)}", ink, w)
        else:
            out += _stroke(f"M{num(mx - m)},{num(cy)} L{num(mx + m)},{num(cy)}", ink, w)
            if name == "vol_up":
                out += _stroke(f"M{num(mx)},{num(cy - m)} L{num(mx)},{num(cy + m)}", ink, w)
        return out
    if name == "home":
        h = s * 0.4
        return _stroke(f"M{num(cx - h)},{num(cy - h * 0.05)} L{num(cx)},{num(cy - h)} L{num(cx + h)},{num(cy - h * 0.05)} "
                       f"M{num(cx - h * 0.7)},{num(cy - h * 0.3)} L{num(cx - h * 0.7)},{num(cy + h)} "
                       f"L{num(cx + h * 0.7)},{num(cy + h)} L{num(cx + h * 0.7)},{num(cy - h * 0.3)}", ink, w)
    if name == "back":
        r = s * 0.26
        return (_stroke(f"M{num(cx - s * 0.3)},{num(cy - s * 0.14)} L{num(cx + s * 0.08)},{num(cy - s * 0.14)} "
                        f"A{num(r)},{num(r)} 0 0 1 {num(cx + s * 0.08)},{num(cy - s * 0.14 + 2 * r)} "
                        f"L{num(cx - s * 0.16)},{num(cy - s * 0.14 + 2 * r)}", ink, w)
                + _stroke(f"M{num(cx - s * 0.12)},{num(cy - s * 0.34)} L{num(cx - s * 0.32)},{num(cy - s * 0.14)} "
                          f"L{num(cx - s * 0.12)},{num(cy + s * 0.06)}", ink, w))
    if name == "info":
        return (_stroke(f"M{num(cx)},{num(cy - s * 0.02)} L{num(cx)},{num(cy + s * 0.34)}", ink, w * 1.3)
                + circle(cx, cy - s * 0.28, s * 0.09, fill=ink))
    if name == "menu":
        out = ""
        for dy in (-0.26, 0, 0.26):
            out += _stroke(f"M{num(cx - s * 0.34)},{num(cy + dy * s)} L{num(cx + s * 0.34)},{num(cy + dy * s)}", ink, w)
        return out
    if name == "fullscreen":
        a, b = s * 0.38, s * 0.16
        d = ""
        for sx in (-1, 1):
            for sy in (-1, 1):
                d += (f"M{num(cx + sx * a)},{num(cy + sy * (a - b))} L{num(cx + sx * a)},{num(cy + sy * a)} "
                      f"L{num(cx + sx * (a - b))},{num(cy + sy * a)} ")
        return _stroke(d, ink, w)
    if name == "aspect":
        return (rect(cx - s * 0.4, cy - s * 0.28, s * 0.8, s * 0.56, rx=s * 0.06, fill="none", stroke=ink, stroke_width=w)
                + rect(cx - s * 0.2, cy - s * 0.12, s * 0.4, s * 0.24, fill=ink))
    if name == "cc":
        return (rect(cx - s * 0.44, cy - s * 0.3, s * 0.88, s * 0.6, rx=s * 0.1, fill="none", stroke=ink, stroke_width=w)
                + text(cx, cy, "CC", s * 0.36, ink, weight="bold"))
    if name == "tv":
        return (rect(cx - s * 0.42, cy - s * 0.32, s * 0.84, s * 0.52, rx=s * 0.06, fill="none", stroke=ink, stroke_width=w)
                + _stroke(f"M{num(cx - s * 0.18)},{num(cy + s * 0.36)} L{num(cx + s * 0.18)},{num(cy + s * 0.36)}", ink, w))
    if name == "tvdot":
        return icon("tv", cx, cy, s, ink) + circle(cx, cy - s * 0.06, s * 0.1, fill=ink)
    if name == "music":
        return (_stroke(f"M{num(cx - s * 0.12)},{num(cy + s * 0.22)} L{num(cx - s * 0.12)},{num(cy - s * 0.34)} "
                        f"L{num(cx + s * 0.3)},{num(cy - s * 0.42)} L{num(cx + s * 0.3)},{num(cy + s * 0.12)}", ink, w)
                + circle(cx - s * 0.23, cy + s * 0.24, s * 0.12, fill=ink)
                + circle(cx + s * 0.19, cy + s * 0.14, s * 0.12, fill=ink))
    if name == "photo":
        return (rect(cx - s * 0.42, cy - s * 0.32, s * 0.84, s * 0.64, rx=s * 0.06, fill="none", stroke=ink, stroke_width=w)
                + path(f"M{num(cx - s * 0.3)},{num(cy + s * 0.2)} L{num(cx - s * 0.08)},{num(cy - s * 0.08)} "
                       f"L{num(cx + s * 0.06)},{num(cy + s * 0.08)} L{num(cx + s * 0.16)},{num(cy)} "
                       f"L{num(cx + s * 0.3)},{num(cy + s * 0.2)} Z", fill=ink)
                + circle(cx + s * 0.18, cy - s * 0.14, s * 0.06, fill=ink))
    if name == "video":
        out = rect(cx - s * 0.34, cy - s * 0.4, s * 0.68, s * 0.8, rx=s * 0.06, fill="none", stroke=ink, stroke_width=w)
        for i in range(3):
            y = cy - s * 0.24 + i * s * 0.24
            out += rect(cx - s * 0.27, y - s * 0.05, s * 0.09, s * 0.1, fill=ink)
            out += rect(cx + s * 0.18, y - s * 0.05, s * 0.09, s * 0.1, fill=ink)
        return out
    if name == "guide":
        out = rect(cx - s * 0.42, cy - s * 0.34, s * 0.84, s * 0.68, rx=s * 0.06, fill="none", stroke=ink, stroke_width=w)
        for dy in (-0.11, 0.11):
            out += _stroke(f"M{num(cx - s * 0.42)},{num(cy + dy * s)} L{num(cx + s * 0.42)},{num(cy + dy * s)}", ink, w * 0.7)
        out += _stroke(f"M{num(cx - s * 0.14)},{num(cy - s * 0.34)} L{num(cx - s * 0.14)},{num(cy + s * 0.34)}", ink, w * 0.7)
        return out
    if name == "disc":
        return (circle(cx, cy, s * 0.4, fill="none", stroke=ink, stroke_width=w)
                + circle(cx, cy, s * 0.1, fill=ink))
    if name == "ring":
        return (circle(cx, cy, s * 0.38, fill="none", stroke=ink, stroke_width=w * 1.3)
                + circle(cx, cy, s * 0.16, fill=ink))
    if name == "last":
        r = s * 0.28
        return (_stroke(f"M{num(cx - s * 0.3)},{num(cy)} A{num(r)},{num(r)} 0 1 1 {num(cx)},{num(cy + r)}", ink, w)
                + path(f"M{num(cx - s * 0.44)},{num(cy - s * 0.06)} L{num(cx - s * 0.16)},{num(cy - s * 0.06)} "
                       f"L{num(cx - s * 0.3)},{num(cy + s * 0.16)} Z", fill=ink))
    if name == "top":
        return (_stroke(f"M{num(cx - s * 0.36)},{num(cy - s * 0.34)} L{num(cx + s * 0.36)},{num(cy - s * 0.34)}", ink, w)
                + path(_tri_up(cx, cy + s * 0.08, s * 0.6), fill=ink))
    if name == "bottom":
        return (_stroke(f"M{num(cx - s * 0.36)},{num(cy + s * 0.34)} L{num(cx + s * 0.36)},{num(cy + s * 0.34)}", ink, w)
                + path(_tri_up(cx, cy - s * 0.08, s * 0.6, down=True), fill=ink))
    raise KeyError(name)


def _tri_up(cx, cy, s, down=False):
    h = s / 2
    sign = 1 if down else -1
    return (f"M{num(cx)},{num(cy + sign * h)} L{num(cx + h)},{num(cy - sign * h * 0.7)} "
            f"L{num(cx - h)},{num(cy - sign * h * 0.7)} Z")


# ---------------------------------------------------------------- keys

class Label:
    """What a key shows: an icon, one or two lines of text, or both.

    color overrides the ink of the dark look (a red power sign, a green A);
    the highlighted look always uses the accent ink.
    """

    def __init__(self, text=None, icon=None, sub=None, size=None, color=None, bold=False, top=None):
        self.text, self.icon, self.sub, self.size = text, icon, sub, size
        self.color, self.bold, self.top = color, bold, top


def draw_label(lab, box, ink, lit):
    """box = (x, y, w, h) of the key's face; keeps every glyph inside it."""
    if lab is None:
        return ""
    x, y, w, h = box
    cx, cy = x + w / 2, y + h / 2
    main_ink = ink if lit or not lab.color else lab.color
    out = ""
    if lab.top is not None:  # two-legend keycap: shifted symbol above the main one
        out += text(cx, cy - h * 0.2, lab.top, min(11, h * 0.3), INK_DIM if not lit else ink)
        out += text(cx, cy + h * 0.19, lab.text, lab.size or min(14, h * 0.38), main_ink)
        return out
    if lab.icon and (lab.text or lab.sub):
        s = lab.size or min(w, h) * 0.42
        caption = lab.text or lab.sub
        out += icon(lab.icon, cx, cy - h * 0.14, s * 0.9, main_ink)
        fs = fit_size(caption, min(9.5, h * 0.22), w - 6, True)
        out += text(cx, cy + h * 0.27, caption, fs, ink if lit else INK_DIM, weight="bold")
        return out
    if lab.icon:
        s = lab.size or min(w, h) * 0.5
        return icon(lab.icon, cx, cy, s, main_ink)
    if lab.sub:
        fs = fit_size(lab.text, lab.size or min(15, h * 0.36), w - 6, lab.bold)
        out += text(cx, cy - h * 0.14, lab.text, fs, main_ink, weight="bold" if lab.bold else None)
        out += text(cx, cy + h * 0.24, lab.sub, fit_size(lab.sub, min(9.5, h * 0.22), w - 6), ink if lit else INK_DIM)
        return out
    fs = fit_size(lab.text, lab.size or min(15, h * 0.38), w - 8, lab.bold)
    return text(cx, cy, lab.text, fs, main_ink, weight="bold" if lab.bold else None)


class Key:
    """One clickable key: its element id base (ids are base+"_h"/"_g"
    unless given), its shape and its label. Both looks share the same
    outermost shape, so Qt places them identically."""

    def __init__(self, base, shape, label, dark_id=None, lit_id=None, variant="key"):
        self.base, self.shape, self.label, self.variant = base, shape, label, variant
        self.dark_id = dark_id or base + "_g"
        self.lit_id = lit_id or base + "_h"

    def svg(self, lit):
        eid = self.lit_id if lit else self.dark_id
        face = "url(#litFace)" if lit else ("url(#modFace)" if self.variant == "mod" else "url(#keyFace)")
        edge = ACCENT_EDGE if lit else KEY_EDGE
        ink = ACCENT_INK if lit else INK
        kind = self.shape[0]
        parts = []
        if kind == "rect":
            _, x, y, w, h, r = self.shape
            parts.append(rect(x, y, w, h, rx=r, fill=edge))
            parts.append(rect(x + 1.5, y + 1, w - 3, h - 4, rx=max(0, r - 1), fill=face))
            if not lit:  # thin top sheen: reads as a lit keycap edge
                parts.append(rect(x + 4, y + 1.6, w - 8, 1.2, rx=0.6, fill="#ffffff", fill_opacity=0.08))
            box = (x + 1.5, y + 1, w - 3, h - 4)
        elif kind == "circle":
            _, cx, cy, r = self.shape
            parts.append(circle(cx, cy, r, fill=edge))
            parts.append(circle(cx, cy - 1, r - 1.8, fill=face))
            box = (cx - r * 0.72, cy - r * 0.72 - 1, r * 1.44, r * 1.44)
        elif kind == "sector":
            _, cx, cy, r_in, r_out, a0, a1 = self.shape
            parts.append(path(sector_path(cx, cy, r_in, r_out, a0, a1), fill=edge))
            parts.append(path(sector_path(cx, cy, r_in + 1.5, r_out - 1.5, a0 + 0.8, a1 - 0.8), fill=face))
            mid = (a0 + a1) / 2
            lx, ly = pt(cx, cy, (r_in + r_out) / 2, mid)
            s = (r_out - r_in) * 0.55
            box = (lx - s / 2, ly - s / 2, s, s)
        else:
            raise ValueError(kind)
        parts.append(draw_label(self.label, box, ink, lit))
        return f'<g id="{eid}">' + "".join(parts) + "</g>"


def rkey(base, x, y, w, h, label, r=6, **kw):
    return Key(base, ("rect", x, y, w, h, r), label, **kw)


def ckey(base, cx, cy, r, label, **kw):
    return Key(base, ("circle", cx, cy, r), label, **kw)


def dpad(cx, cy, r_in, r_out, center_r, up, down, left, right, center):
    """A ring of four direction keys around a round centre key. The sectors
    are narrower than a quarter so that no two keys' bounding boxes meet
    (Qt hit-tests keys by their boxes): that holds while the half angle's
    tangent stays below r_in / r_out."""
    half_angle = math.degrees(math.atan(r_in / r_out)) - 1.0
    keys = []
    for base, ang, ic in ((up, 90, "arrow_up"), (down, 270, "arrow_down"),
                          (left, 180, "arrow_left"), (right, 0, "arrow_right")):
        if isinstance(base, tuple):
            b, dark, lit = base
        else:
            b, dark, lit = base, None, None
        keys.append(Key(b, ("sector", cx, cy, r_in, r_out, ang - half_angle, ang + half_angle),
                        Label(icon=ic), dark_id=dark, lit_id=lit))
    b, dark, lit, lab = center
    keys.append(Key(b, ("circle", cx, cy, center_r), lab, dark_id=dark, lit_id=lit))
    back = (circle(cx, cy, r_out + 6, fill="#14171c", stroke="#3a414c", stroke_width=1)
            + circle(cx, cy, r_in - 4, fill="#101216"))
    return keys, back


def document(width, height, background, keys, title):
    """Background first, then every highlighted look, then every dark look
    on top, so a plain viewer shows the picture in its resting state."""
    parts = [
        '<?xml version="1.0" encoding="UTF-8"?>',
        f'<svg xmlns="http://www.w3.org/2000/svg" version="1.2" baseProfile="tiny" '
        f'width="{width}" height="{height}" viewBox="0 0 {width} {height}">',
        f"<title>{escape(title)}</title>",
        "<defs>" + "".join(GRADIENTS) + "</defs>",
        # The transparent frame gives every picture the full canvas as its
        # bounds, so each layout fills the view at the same scale.
        '<g id="background">' + rect(0, 0, width, height, fill="#000000", fill_opacity=0) + background + "</g>",
    ]
    seen = set()
    for lit in (True, False):
        for k in keys:
            eid = k.lit_id if lit else k.dark_id
            if eid in seen:
                continue  # one element may serve two keys of the same name
            seen.add(eid)
            parts.append(k.svg(lit))
    parts.append("</svg>")
    return "\n".join(parts) + "\n"


def body(x, y, w, h, r):
    """A device housing: bevelled edge, soft top light."""
    return (rect(x, y + 4, w, h, rx=r, fill="#07080a", fill_opacity=0.55)
            + rect(x, y, w, h, rx=r, fill="url(#body)", stroke=BODY_EDGE, stroke_width=1.5)
            + rect(x + r * 0.8, y + 3, w - r * 1.6, 2, rx=1, fill="#ffffff", fill_opacity=0.07))


def caption(x, y, s, size=9, fill=PRINT, anchor="middle"):
    return text(x, y, s, size, fill, anchor=anchor, weight="bold")
