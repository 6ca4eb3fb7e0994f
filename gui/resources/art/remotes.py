"""The remote controls and the media key strip.

Remotes lie on their side with the infrared window on the left, so that
their buttons stay large enough to read in the 801x401 view. Two corners
of the view are covered by widgets: the firmware version label at the
bottom left on every layout, and the go button at the bottom right on the
sequenced layouts; no key is placed under them.
"""

from artlib import (Label, rkey, ckey, dpad, rect, document, body, caption,
                    RED, ACCENT, AMBER, BLUE, PRINT)

L = Label
W, H = 800, 400


def ir_window(x, cy, h=90):
    """The dark infrared window at the remote's front end."""
    return (rect(x, cy - h / 2, 12, h, rx=6, fill="#0b0c0f", stroke="#3a414c", stroke_width=1)
            + rect(x + 3, cy - h / 2 + 8, 2, h * 0.4, rx=1, fill="#ffffff", fill_opacity=0.12))


def pill(base, cx, cy, w, h, label, **kw):
    return rkey(base, cx - w / 2, cy - h / 2, w, h, label, r=min(h / 2, 12), **kw)


def grid(rows, x0, y0, dx, dy, w, h, r=None):
    """Keys in rows: `rows` is a list of rows of (base, label) or None."""
    keys = []
    for j, row in enumerate(rows):
        for i, item in enumerate(row):
            if item is None:
                continue
            base, label = item[0], item[1]
            kw = item[2] if len(item) > 2 else {}
            cx, cy = x0 + i * dx, y0 + j * dy
            if r is None:
                keys.append(pill(base, cx, cy, w, h, label, **kw))
            else:
                keys.append(ckey(base, cx, cy, r, label, **kw))
    return keys


def numpad(x0, y0, dx=44, dy=46, w=38, h=36, bottom=(None, None)):
    rows = [[(str(d), L(str(d), size=15)) for d in r] for r in ((1, 2, 3), (4, 5, 6), (7, 8, 9))]
    rows.append([bottom[0], ("0", L("0", size=15)), bottom[1]])
    return grid(rows, x0, y0, dx, dy, w, h)


def rocker(up, down, cx, cy, w, h, name, up_label, down_label, **ids):
    """A two-way rocker drawn as two halves with its name printed between."""
    gap = 22
    hh = (h - gap) / 2
    keys = [rkey(up, cx - w / 2, cy - h / 2, w, hh, up_label, r=12, **ids.get("up", {})),
            rkey(down, cx - w / 2, cy + gap / 2, w, hh, down_label, r=12, **ids.get("down", {}))]
    back = (rect(cx - w / 2 - 4, cy - h / 2 - 4, w + 8, h + 8, rx=16, fill="#14171c", stroke="#3a414c", stroke_width=1)
            + caption(cx, cy, name, size=9))
    return keys, back


def minimalist():
    keys, ring = dpad(350, 200, 46, 96, 40, "up", "down", "left", "right",
                      ("enter", None, None, L("OK", size=15, bold=True)))
    keys.append(ckey("back", 540, 200, 34, L(icon="back", size=30)))
    bg = body(160, 88, 480, 224, 112) + ir_window(182, 200, 70) + ring
    bg += caption(540, 252, "BACK", size=9)
    return document(W, H, bg, keys, "Minimalist remote")


def vistro():
    keys, ring = dpad(245, 200, 44, 92, 38, "up", "down", "left", "right",
                      ("enter", "grey_disc", "enter_h", L(icon="disc", size=28)))
    keys += grid([[("return", L(icon="back", size=24)), ("home", L(icon="home", size=24)),
                   ("info", L(icon="menu", size=24))],
                  [("rewind", L(icon="rew", size=22), {"dark_id": "rw_g", "lit_id": "rw_h"}),
                   ("play", L(icon="playpause", size=24)), ("ff", L(icon="ff", size=22))]],
                 420, 160, 86, 84, 66, 46)
    bg = body(92, 84, 600, 232, 116) + ir_window(112, 200, 80) + ring
    for i, name in enumerate(("BACK", "HOME", "MENU")):
        bg += caption(420 + i * 86, 196, name, size=8.5)
    for i, name in enumerate(("REWIND", "PLAY / PAUSE", "FORWARD")):
        bg += caption(420 + i * 86, 280, name, size=8.5)
    return document(W, H, bg, keys, "Vistro remote")


def media_center_left(power):
    """The power, home, info and back column and the direction pad that the
    media-center remotes share; returns the keys and the pad's ring."""
    keys = grid([[(power, L(icon="power", size=22, color=RED))],
                 [("home", L(icon="home", text="Home"))],
                 [("info", L(icon="info", text="Info"))],
                 [("back", L(icon="back", text="Back"))]],
                96, 112, 0, 58, 62, 46)
    pad, ring = dpad(250, 200, 44, 92, 38, "up", "down", "left", "right",
                     ("enter", None, None, L("OK", size=15, bold=True)))
    return keys + pad, ring


def boxee():
    keys, ring = media_center_left("power")
    keys += grid([[("top", L(icon="top", text="Top"))], [("bottom", L(icon="bottom", text="Bottom"))]],
                 390, 166, 0, 68, 54, 50)
    keys += grid([[("previous", L(icon="prev", size=20)), ("play", L(icon="play", size=20)),
                   ("next", L(icon="next", size=20))],
                  [("rewind", L(icon="rew", size=20)), ("pause", L(icon="pause", size=20)),
                   ("ff", L(icon="ff", size=20))],
                  [("stop", L(icon="stop", size=18)), ("fullscreen", L(icon="fullscreen", text="Full")),
                   ("window", L(icon="aspect", text="Aspect"))]],
                 466, 130, 56, 70, 50, 46)
    keys += numpad(642, 126, dx=44, dy=50, w=38, h=38)
    bg = body(30, 64, 740, 272, 60) + ir_window(40, 200, 100) + ring
    return document(W, H, bg, keys, "Boxee remote")


def kodi():
    keys, ring = media_center_left("shutdown")
    vol, vol_bg = rocker("volume_up", "volume_down", 390, 158, 50, 130, "VOL",
                         L(icon="vol_up", size=24), L(icon="vol_down", size=24))
    keys += vol
    keys.append(pill("mute", 390, 278, 50, 44, L(icon="mute", size=22)))
    keys += grid([[("rewind", L(icon="rew", size=20)), ("play", L(icon="play", size=20)),
                   ("ff", L(icon="ff", size=20))],
                  [("previous", L(icon="prev", size=20)), ("pause", L(icon="pause", size=20)),
                   ("next", L(icon="next", size=20))],
                  [("prevtrack", L(icon="prev", text="Track")), ("stop", L(icon="stop", size=18)),
                   ("nexttrack", L(icon="next", text="Track"))]],
                 466, 130, 56, 70, 50, 46)
    keys += numpad(642, 126, dx=44, dy=50, w=38, h=38,
                   bottom=(("fullscreen", L(icon="fullscreen", size=18)), ("cc", L(icon="cc", size=24))))
    bg = body(30, 64, 740, 272, 60) + ir_window(40, 200, 100) + ring + vol_bg
    return document(W, H, bg, keys, "Kodi remote")


def wmce():
    keys = grid([[("record", L(icon="record", size=18, color=RED)), ("stop", L(icon="stop", size=18))],
                 [("pause", L(icon="pause", size=18)), ("play", L(icon="play", size=18))],
                 [("backward", L(icon="rew", size=20)), ("forward", L(icon="ff", size=20))],
                 [("previous", L(icon="prev", size=18)), ("next", L(icon="next", size=18))]],
                80, 104, 52, 56, 46, 40)
    pad, ring = dpad(262, 184, 42, 88, 36, "up", "down", "left", "right",
                     ("okay", None, None, L("OK", size=14, bold=True)))
    keys += pad
    keys.append(pill("back", 212, 306, 62, 36, L(icon="back", text="Back")))
    keys.append(pill("disc", 312, 306, 62, 36, L(icon="disc", text="More")))
    vol, vol_bg = rocker("volplus", "volminus", 396, 150, 44, 124, "VOL",
                         L(icon="vol_up", size=22), L(icon="vol_down", size=22))
    ch, ch_bg = rocker("chplus", "chminus", 452, 150, 44, 124, "CH",
                       L("+", size=20, bold=True), L("\u2212", size=20, bold=True))
    keys += vol + ch
    keys.append(pill("mute", 396, 260, 44, 38, L(icon="mute", size=20)))
    keys.append(pill("scenery", 452, 260, 44, 38, L(icon="fullscreen", size=18)))
    keys += grid([[("tv", L(icon="tv", text="Live TV")), ("tvdot", L(icon="tvdot", text="Recorded"))],
                  [("window", L(icon="guide", text="Guide")), ("phones", L(icon="music", text="Music"))],
                  [("photo", L(icon="photo", text="Pictures")), ("video", L(icon="video", text="Videos"))]],
                 534, 118, 62, 66, 56, 52)
    keys += numpad(656, 96, dx=42, dy=44, w=36, h=34,
                   bottom=(("star", L("*", size=17)), ("pound", L("#", size=15))))
    keys.append(pill("enter", 698, 290, 120, 34, L("Enter", size=12, bold=True)))
    bg = (body(22, 60, 756, 280, 56) + ir_window(32, 200, 100) + ring + vol_bg + ch_bg
          + caption(396, 290, "MUTE", size=7.5) + caption(452, 290, "ZOOM", size=7.5))
    return document(W, H, bg, keys, "Windows Media remote")


def media_keys():
    groups = [[("shutdown", L(icon="power", text="Sleep", color=RED))],
              [("previous", L(icon="prev", text="Prev")), ("rewind", L(icon="rew", text="Rewind")),
               ("play", L(icon="playpause", text="Play")), ("stop", L(icon="stop", text="Stop")),
               ("ff", L(icon="ff", text="Forward")), ("next", L(icon="next", text="Next"))],
              [("mute", L(icon="mute", text="Mute")), ("volume_down", L(icon="vol_down", text="Vol \u2212")),
               ("volume_up", L(icon="vol_up", text="Vol +"))]]
    keys = []
    size, pitch, gap = 56, 62, 28
    x = 400 - (10 * pitch - (pitch - size) + 2 * gap) / 2
    left = x
    for group in groups:
        for base, label in group:
            keys.append(rkey(base, x, 171, size, size, label, r=10))
            x += pitch
        x += gap
    bg = (rect(40, 128, 720, 144, rx=22, fill="#07080a", fill_opacity=0.5)
          + rect(40, 124, 720, 144, rx=22, fill="url(#body)", stroke="#4a5260", stroke_width=1.5)
          + rect(52, 127, 696, 2, rx=1, fill="#ffffff", fill_opacity=0.07))
    # Group dividers and titles, as printed on a multimedia keyboard's top strip.
    x = left
    for title, group in zip(("POWER", "PLAYBACK", "VOLUME"), groups):
        end = x + len(group) * pitch - (pitch - size)
        bg += caption((x + end) / 2, 150, title, size=8.5, fill=PRINT)
        x = end + (pitch - size) + gap
        if title != "VOLUME":
            bg += rect(x - gap / 2 - 0.75, 160, 1.5, 80, fill="#3a414c")
    return document(W, H, bg, keys, "Media keys")


def xbox():
    keys = [ckey("power", 82, 104, 22, L(icon="power", size=22, color=ACCENT)),
            ckey("tv", 82, 160, 20, L(icon="power", sub="TV", size=16, color=PRINT)),
            ckey("xbox", 82, 246, 34, L(icon="ring", size=34, color=ACCENT))]
    keys += grid([[("rw", L(icon="rew", size=18)), ("ff", L(icon="ff", size=18))],
                  [("prev", L(icon="prev", size=18)), ("skip", L(icon="next", size=18))],
                  [("play", L(icon="playpause", size=20)), ("record", L(icon="record", size=16, color=RED))]],
                 168, 140, 56, 60, 48, 42)
    pad, ring = dpad(392, 200, 40, 84, 34, "up", "down", "left", "right",
                     ("enter", None, None, L("OK", size=13, bold=True)))
    keys += pad
    # The four colour buttons sit on the diagonals between the arrows.
    for base, sx, sy, color in (("x", -1, -1, BLUE), ("y", 1, -1, AMBER), ("a", -1, 1, ACCENT), ("b", 1, 1, RED)):
        keys.append(ckey(base, 392 + sx * 72, 200 + sy * 72, 17,
                         L(base.upper(), size=15, bold=True, color=color)))
    keys += grid([[("back", L(icon="back", text="Back")), ("info", L(icon="info", text="Info")),
                   ("menu", L(icon="menu", text="Menu"))]],
                 330, 328, 62, 0, 54, 36)
    keys += grid([[("guide", L(icon="guide", text="Guide")), ("livetv", L(icon="tv", text="Live TV"))]],
                 361, 74, 62, 0, 54, 36)
    vol, vol_bg = rocker("vol_up", "vol_down", 528, 176, 44, 130, "VOL",
                         L(icon="vol_up", size=22), L(icon="vol_down", size=22))
    ch, ch_bg = rocker("ch_up", "ch_down", 584, 176, 44, 130, "CH",
                       L("+", size=20, bold=True), L("\u2212", size=20, bold=True))
    keys += vol + ch
    keys.append(pill("mute", 528, 292, 44, 38, L(icon="mute", size=20)))
    keys.append(pill("last", 584, 292, 44, 38, L(icon="last", text="Last")))
    keys += numpad(650, 124, dx=44, dy=48, w=38, h=38)
    bg = (body(24, 40, 752, 320, 64) + ir_window(34, 200, 110) + ring + vol_bg + ch_bg)
    return document(W, H, bg, keys, "XBOX 360 media remote")


PICTURES = {
    "minimalist.svg": minimalist,
    "boxee.svg": boxee,
    "kodi.svg": kodi,
    "Zirko-windowsmedia.svg": wmce,
    "media_keys.svg": media_keys,
    "vistro.svg": vistro,
    "xbox.svg": xbox,
}
