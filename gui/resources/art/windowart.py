"""Sources of the main window's bitmaps: its background, the status text box,
the connection indicator, the picture buttons, the warning icon and the logo.

They are rendered to PNG by render_png.sh; the window shows them at their
natural size, so each source's width and height are the bitmap's.
"""

from artlib import (rect, circle, path, text, gradient, icon, num, ACCENT, ACCENT_EDGE,
                    ACCENT_INK, INK, INK_DIM, PRINT, RED, AMBER, KEY_TOP, KEY_BOTTOM)


def doc(width, height, defs, content):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
            f'viewBox="0 0 {width} {height}">\n'
            f"<defs>{defs}</defs>\n{content}\n</svg>\n")


def logo_mark(x, y, size):
    """A graphite tile with a signal leaving a dot: the receiver listening."""
    s = size / 100.0
    out = rect(x, y, size, size, rx=22 * s, fill="url(#logoTile)", stroke="#4a5260", stroke_width=max(1, 1.5 * s))
    cx, cy = x + 32 * s, y + 68 * s
    out += circle(cx, cy, 9 * s, fill=ACCENT)
    for i, r in enumerate((24, 40, 56)):
        r_ = r * s
        out += path(f"M{num(cx)},{num(cy - r_)} A{num(r_)},{num(r_)} 0 0 1 {num(cx + r_)},{num(cy)}",
                    fill="none", stroke=ACCENT, stroke_width=num(8 * s), stroke_linecap="round",
                    stroke_opacity=num(1.0 - i * 0.25))
    return out


LOGO_DEFS = gradient("logoTile", "#343a46", "#171a20")


def keyboard_back():
    w, h = 801, 571
    defs = (gradient("bg", "#1c2029", "#0d0f13")
            + '<radialGradient id="glow" cx="0.5" cy="0.5" r="0.5">'
              f'<stop offset="0" stop-color="{ACCENT}" stop-opacity="0.07"/>'
              f'<stop offset="1" stop-color="{ACCENT}" stop-opacity="0"/></radialGradient>'
            + '<linearGradient id="rule" x1="0" y1="0" x2="1" y2="0">'
              '<stop offset="0" stop-color="#3a414c" stop-opacity="0"/>'
              '<stop offset="0.5" stop-color="#3a414c"/>'
              '<stop offset="1" stop-color="#3a414c" stop-opacity="0"/></linearGradient>'
            + gradient("bar", "#181b21", "#111318") + LOGO_DEFS)
    c = rect(0, 0, w, h, fill="url(#bg)")
    c += rect(0, 120, w, 360, fill="url(#glow)")
    # Header: the logo and name; the upgrade progress bar shows to their right.
    c += logo_mark(32, 18, 50)
    c += text(94, 38, "zirko", 30, INK, anchor="start", weight="bold")
    c += text(96, 62, "infrared remote to USB keyboard", 11, PRINT, anchor="start")
    c += rect(0, 88, w, 1, fill="url(#rule)")
    # Bottom bar behind the erase button, the status text and the indicator.
    c += rect(0, 496, w, h - 496, fill="url(#bar)")
    c += rect(0, 496, w, 1, fill="#2a2f38")
    return doc(w, h, defs, c)


def text_box():
    w, h = 601, 71
    defs = gradient("panel", "#f1f4f8", "#dbe1e8") + gradient("rim", "#8e98a6", "#5b6471")
    c = rect(1.5, 4.5, w - 3, h - 8, rx=12, fill="url(#panel)", stroke="url(#rim)", stroke_width=1.5)
    c += rect(10, 7, w - 20, 1.2, rx=0.6, fill="#ffffff", fill_opacity=0.9)
    return doc(w, h, defs, c)


def usb_plug(cx, cy, ink, s=1.0):
    """A USB plug seen from the side, pointing up."""
    def n(v):
        return num(v * s)
    out = rect(cx - 9 * s, cy - 18 * s, 18 * s, 12 * s, rx=1.5 * s, fill="none", stroke=ink, stroke_width=n(2.2))
    out += rect(cx - 5 * s, cy - 15 * s, 3.5 * s, 3.5 * s, fill=ink)
    out += rect(cx + 1.5 * s, cy - 15 * s, 3.5 * s, 3.5 * s, fill=ink)
    out += rect(cx - 12 * s, cy - 6 * s, 24 * s, 14 * s, rx=3 * s, fill=ink)
    out += rect(cx - 3 * s, cy + 8 * s, 6 * s, 10 * s, rx=1.5 * s, fill=ink)
    return out


# Indicator looks: plug colour, a slash through it, label and label colour.
INDICATORS = {
    "connected": (ACCENT, None, "Connected", ACCENT),
    "disconnected": ("#6b7382", RED, "Disconnected", INK_DIM),
    "bootloader": (AMBER, None, "Bootloader", AMBER),
    "newer": (AMBER, None, "Update app", AMBER),
    "not_answering": ("#6b7382", AMBER, "No answer", AMBER),
}


def indicator(kind):
    w, h = 91, 71
    defs = gradient("tile", "#242931", "#171a20")
    ink, slash, label, label_ink = INDICATORS[kind]
    c = rect(3, 5, w - 6, h - 9, rx=12, fill="url(#tile)", stroke="#3a414c", stroke_width=1.2)
    c += usb_plug(w / 2, 29, ink, 0.85)
    if slash:  # nothing (usable) answers
        c += path("M30,14 L61,44", fill="none", stroke="#1a1d23", stroke_width=6, stroke_linecap="round")
        c += path("M30,14 L61,44", fill="none", stroke=slash, stroke_width=3, stroke_linecap="round")
    c += text(w / 2, 55, label, 10, label_ink, weight="bold")
    return doc(w, h, defs, c)


BUTTON_ICONS = {"go": ("play", "GO"), "erase": ("erase", "ERASE"), "stop": ("stop", "STOP")}


def erase_icon(cx, cy, s, ink):
    """A bin: recorded buttons are thrown away."""
    return (rect(cx - s * 0.42, cy - s * 0.36, s * 0.84, s * 0.1, rx=s * 0.04, fill=ink)
            + rect(cx - s * 0.14, cy - s * 0.46, s * 0.28, s * 0.12, rx=s * 0.04, fill=ink)
            + path(f"M{num(cx - s * 0.32)},{num(cy - s * 0.2)} L{num(cx + s * 0.32)},{num(cy - s * 0.2)} "
                   f"L{num(cx + s * 0.26)},{num(cy + s * 0.46)} L{num(cx - s * 0.26)},{num(cy + s * 0.46)} Z", fill=ink))


def button(kind, green):
    """All picture buttons share one size, 81x61, so the stop pictures fit
    both the go button (81 wide) and the erase button (90 wide)."""
    w, h = 81, 61
    ic, word = BUTTON_ICONS[kind]
    if green:
        defs = gradient("face", "#6ff0b6", "#1fbf7a")
        edge, ink = ACCENT_EDGE, ACCENT_INK
    else:
        defs = gradient("face", KEY_TOP, KEY_BOTTOM)
        edge, ink = "#5a6372", INK
    c = rect(2, 5, w - 4, h - 7, rx=14, fill="#07080a", fill_opacity=0.5)
    c += rect(2, 2.5, w - 4, h - 7, rx=14, fill="url(#face)", stroke=edge, stroke_width=1.5)
    c += rect(14, 4.5, w - 28, 1.5, rx=0.75, fill="#ffffff", fill_opacity=0.25 if green else 0.1)
    if ic == "erase":
        c += erase_icon(w / 2, 23, 20, ink)
    else:
        c += icon(ic, w / 2, 23, 22, ink)
    c += text(w / 2, 44, word, 12, ink, weight="bold")
    return doc(w, h, defs, c)


def exclamation():
    w = h = 64
    d = "M32,8 L58,54 L6,54 Z"
    c = path(d, fill=AMBER, stroke=AMBER, stroke_width=8, stroke_linejoin="round")
    c += rect(29, 22, 6, 20, rx=3, fill="#2a1d00")
    c += circle(32, 48, 3.4, fill="#2a1d00")
    return doc(w, h, "", c)


def logo(size):
    """The application logo at size x size, drawn on a 100-unit grid."""
    c = logo_mark(0, 0, 100)
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            f'<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{size}" viewBox="-2 -2 104 104">\n'
            f"<defs>{LOGO_DEFS}</defs>\n{c}\n</svg>\n")


def sources():
    """Bitmap path under images/ -> SVG source text."""
    out = {
        "keyboard_back.png": keyboard_back(),
        "TextBox.png": text_box(),
        "exclamation.png": exclamation(),
        "logo.png": logo(256),
        "logo_small.png": logo(64),
    }
    for kind in INDICATORS:
        out[f"bottom_{kind}.png"] = indicator(kind)
    for kind in BUTTON_ICONS:
        out[f"Buttons/{kind}ButtonGray.png"] = button(kind, False)
        out[f"Buttons/{kind}ButtonGreen.png"] = button(kind, True)
    return out
