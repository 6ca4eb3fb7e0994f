/* Button maps: the receiver's recorded buttons as text that people can read,
 * edit, diff and share, one line per button, and the checks that turn such a
 * text back into a configuration image. C++ only; the rest of the library is
 * in zirko.h.
 *
 *   # comment lines and blank lines are ignored
 *   AAAA0001  a
 *   BBBB0002  left_ctrl+left_shift return   # a comment after the key
 *   CCCC0003  usage=0x39 modifier=0x00      # a key code with no name
 *
 * A line holds the button's hash (8 hex digits, as `keys` lists it), then its
 * key as the listing of recorded buttons names it: a key name, with modifier
 * names before it (joined by "+" or separated by spaces). With modifiers the
 * key gives only its key code, so `left_ctrl A` is control with the A key,
 * exactly as the listing shows it. */
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zirko_layout.h"

namespace zk::map {

inline constexpr int kMaxButtons = layout::kMaxButtons;  // what the receiver's image holds

struct Button {
  uint32_t hash;     // as `keys` prints it
  uint8_t modifier;  // modifier bits, or the usage of a media or system key
  uint8_t usage;     // HID key code, or a marker code
  bool operator==(const Button &) const = default;
};

// A line that cannot be used; line 0 speaks of the whole map.
struct Problem {
  int line;
  std::string text;
};

struct Parsed {
  std::vector<Button> buttons;    // in the order of the lines
  std::vector<Problem> problems;  // every bad line; the map is unusable when any
};

// Reads a whole map and checks every line.
Parsed parse(std::string_view text);

// The key of a button as a map writes it: as the listing names it, or
// "usage=0xNN modifier=0xNN" when no name reads back as the same two bytes.
std::string key_text(uint8_t modifier, uint8_t usage);

// A map of the buttons: each header line as a comment, a comment saying that
// a closing line follows, one line per button, then the closing comment
// "# end of map: N buttons". A map with that closing line is refused when it
// holds another number of buttons, and a map that promises one but ends
// without it is refused: either was cut short.
std::string format(const std::vector<Button> &buttons, const std::vector<std::string> &header);

// The buttons of a configuration image (size header, three settings bytes,
// then 6 bytes per button), whole entries only.
std::vector<Button> buttons_of(const std::vector<unsigned char> &image);

// Merging: a button the receiver keeps although the map gives it another key.
struct Kept {
  Button held, offered;
};

// What importing a map onto the receiver's current image comes to.
struct Plan {
  std::vector<unsigned char> image;  // the image to write; empty when refused
  std::vector<Problem> problems;
  std::vector<Kept> kept;
  int removed = 0;  // buttons on the receiver that the image leaves out
};

// The image to write for a checked map: the current image's settings bytes,
// then the map's buttons (merge: the current buttons, then the map's new
// ones). Refused when the map has problems or the buttons would not fit,
// and, unless allow_empty, when it has no buttons: that would erase them all.
Plan plan_import(const Parsed &map, const std::vector<unsigned char> &current, bool merge,
                 bool allow_empty = false);

// The texts both programs show: "<file>:<line>: <problem>" ("<file>:
// <problem>" for the whole map), "<file> was not imported; the receiver was
// not changed", and for a merge "kept <hash> as <key> (the map has <key>)".
std::string describe(const Problem &problem, std::string_view file);
std::string refusal(std::string_view file);
std::string describe(const Kept &kept);

// The connected receiver's image into `image`: 0, or the failure code of
// zk_read_config_image.
int read_receiver_image(std::vector<unsigned char> &image);

// The image as an upgrade must leave it: without the upgrade flag and the
// bootloader's hand-over mark, which are the upgrade's own.
std::vector<unsigned char> without_upgrade_marks(std::vector<unsigned char> image);

// Header lines describing the connected receiver and the time: its version,
// its variant and the date of the export.
std::vector<std::string> receiver_header();

}  // namespace zk::map
