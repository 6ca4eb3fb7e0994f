"""The full US keyboard (us101.svg), shared by the Windows and Mac layouts.

Rows are tables of (element base, width in key units, label); a base of
None is a gap. The Mac layout's option and command keys lie on the
Windows layout's alt and Windows keys (same modifier bits), so both sets
of ids sit at the same place.
"""

from artlib import Label, rkey, circle, body, document, caption, ACCENT, RED

UNIT = 40.0  # one key unit in picture pixels
GAP = 4.0    # space between neighbouring keycaps

L = Label


def two(top, main):
    return L(main, top=top)


F_ROW = ([("esc", 1, L("Esc", size=11))] + [(None, 1, None)]
         + [(f"f{i}", 1, L(f"F{i}", size=11)) for i in range(1, 5)] + [(None, 0.5, None)]
         + [(f"f{i}", 1, L(f"F{i}", size=11)) for i in range(5, 9)] + [(None, 0.5, None)]
         + [(f"f{i}", 1, L(f"F{i}", size=11)) for i in range(9, 13)] + [(None, 0.25, None)]
         + [(f"f{i}", 1, L(f"F{i}", size=11)) for i in range(13, 16)])

DIGITS = [("1", "!"), ("2", "@"), ("3", "#"), ("4", "$"), ("5", "%"), ("6", "^"), ("7", "&"),
          ("8", "*"), ("9", "("), ("0", ")")]

ROW1 = ([("tilde", 1, two("~", "`"))] + [(d, 1, two(s, d)) for d, s in DIGITS]
        + [("dash", 1, two("_", "-")), ("equals", 1, two("+", "=")),
           ("delete", 2, L("Backspace", size=10.5)), (None, 0.25, None),
           ("fn", 1, L("Insert", size=9.5)), ("home", 1, L("Home", size=9.5)),
           ("pageup", 1, L("Page", sub="Up", size=9.5))])

ROW2 = ([("tab", 1.5, L("Tab", size=10.5))] + [(c, 1, L(c.upper())) for c in "qwertyuiop"]
        + [("openbracket", 1, two("{", "[")), ("closebracket", 1, two("}", "]")),
           ("backslash", 1.5, two("|", "\\")), (None, 0.25, None),
           ("del", 1, L("Delete", size=9.5)), ("end", 1, L("End", size=9.5)),
           ("pagedown", 1, L("Page", sub="Down", size=9.5))])

ROW3 = ([("capslock", 1.75, L("Caps Lock", size=10.5))] + [(c, 1, L(c.upper())) for c in "asdfghjkl"]
        + [("semicolon", 1, two(":", ";")), ("quote", 1, two('"', "'")),
           ("enter", 2.25, L("Enter", size=10.5))])

ROW4 = ([("lshift", 2.25, L("Shift", size=10.5))] + [(c, 1, L(c.upper())) for c in "zxcvbnm"]
        + [("comma", 1, two("<", ",")), ("period", 1, two(">", ".")), ("slash", 1, two("?", "/")),
           ("rshift", 2.75, L("Shift", size=10.5)), (None, 1.25, None), ("up", 1, L(icon="arrow_up", size=13))])

ROW5 = [("lcontrol", 1.5, L("Ctrl", size=10.5)), ("lwindows", 1.25, L("Win", size=10.5)),
        ("lalt", 1.5, L("Alt", size=10.5)), ("space", 6.5, None), ("ralt", 1.5, L("Alt", size=10.5)),
        ("rwindows", 1.25, L("Win", size=10.5)), ("rcontrol", 1.5, L("Ctrl", size=10.5)), (None, 0.25, None),
        ("left", 1, L(icon="arrow_left", size=13)), ("down", 1, L(icon="arrow_down", size=13)),
        ("right", 1, L(icon="arrow_right", size=13))]

# The Mac layout's names for the keys at the alt and Windows places.
MAC_TWINS = {"lalt": ("loption", L("\u2325", sub="option", size=13)),
             "ralt": ("roption", L("\u2325", sub="option", size=13)),
             "lwindows": ("lpropeller", L("\u2318", sub="command", size=13)),
             "rwindows": ("rpropeller", L("\u2318", sub="command", size=13))}

MODIFIERS = {"lcontrol", "rcontrol", "lshift", "rshift", "lalt", "ralt", "lwindows", "rwindows",
             "loption", "roption", "lpropeller", "rpropeller", "capslock", "tab", "enter", "delete", "esc"}


def build():
    x0, y0 = 30.0, 76.0
    keys = []
    rows = [(F_ROW, 0.0), (ROW1, 1.35), (ROW2, 2.35), (ROW3, 3.35), (ROW4, 4.35), (ROW5, 5.35)]
    for row, uy in rows:
        ux = 0.0
        for base, width, label in row:
            if base is not None:
                x, y = x0 + ux * UNIT + GAP / 2, y0 + uy * UNIT + GAP / 2
                w, h = width * UNIT - GAP, UNIT - GAP
                variant = "mod" if base in MODIFIERS else "key"
                keys.append(rkey(base, x, y, w, h, label, r=5, variant=variant))
                if base in MAC_TWINS:
                    twin, twin_label = MAC_TWINS[base]
                    keys.append(rkey(twin, x, y, w, h, twin_label, r=5, variant="mod"))
            ux += width

    # Wake sits in the small system row over the navigation block, where
    # full keyboards keep their power keys.
    wx = x0 + 17.25 * UNIT + GAP / 2
    keys.append(rkey("wake", wx, y0 - 0.95 * UNIT, UNIT - GAP, 0.72 * UNIT,
                     L(icon="power", sub=None, size=15, color=RED), r=5))

    width, height = 800, 400
    right = x0 + 18.25 * UNIT
    bg = body(x0 - 14, y0 - 1.2 * UNIT, right - x0 + 28, 6.35 * UNIT + 1.2 * UNIT + 16, 16)
    # Status lights in the system row, as on the real board.
    lx = x0 + 14.9 * UNIT
    for i, name in enumerate(("num", "caps", "scroll")):
        cx = lx - (2 - i) * 34
        bg += circle(cx, y0 - 0.62 * UNIT, 2.6, fill=ACCENT if name == "num" else "#3b424e")
        bg += caption(cx, y0 - 0.3 * UNIT, name, size=7)
    return document(width, height, bg, keys, "US keyboard")
