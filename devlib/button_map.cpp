// Button maps: writing the receiver's buttons as text and reading them back,
// with every line checked before anything can reach the receiver.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>

#include "internal.h"
#include "zirko_map.h"

namespace zk::map {
namespace {

using layout::kEntrySize;
using layout::kHeaderSize;
using layout::kImageRoom;

// Marker codes: the firmware reads their second byte as a usage, so it cannot
// carry modifier bits.
bool is_marker(uint8_t code) {
  return code == 0x66 || code == 0x67 || code == 0x68 || code == 0xFE || code == 0xFF;
}

std::string hex32(uint32_t value) {
  char text[9];
  snprintf(text, sizeof text, "%08X", value);
  return text;
}

std::string quoted(std::string_view word) {
  return "'" + std::string(word) + "'";
}

std::vector<std::string_view> split(std::string_view text, std::string_view separators) {
  std::vector<std::string_view> words;
  size_t at = 0;
  while ((at = text.find_first_not_of(separators, at)) != std::string_view::npos) {
    size_t end = text.find_first_of(separators, at);
    if (end == std::string_view::npos) end = text.size();
    words.push_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

// A line's words up to its comment: one that starts with "#" once the hash
// and a key word have been read ("#" alone may be the key).
std::vector<std::string_view> words_before_comment(std::string_view line) {
  std::vector<std::string_view> words = split(line, " \t");
  for (size_t i = 2; i < words.size(); ++i)
    if (words[i].front() == '#') return {words.begin(), words.begin() + i};
  return words;
}

bool all_digits(std::string_view text, int (*is_digit)(int)) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [&](char c) { return is_digit((unsigned char)c); });
}

std::optional<uint32_t> parse_hash(std::string_view word) {
  if (word.size() != 8 || !all_digits(word, isxdigit)) return std::nullopt;
  return uint32_t(strtoul(std::string(word).c_str(), nullptr, 16));
}

// "name=" followed by 0x and one or two hex digits, or by a decimal 0 to 255.
std::optional<uint8_t> parse_byte(std::string_view word, std::string_view name) {
  if (word.size() <= name.size() || word.substr(0, name.size()) != name || word[name.size()] != '=')
    return std::nullopt;
  std::string_view value = word.substr(name.size() + 1);
  unsigned long byte = 256;
  if (value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
    value.remove_prefix(2);
    if (value.size() <= 2 && all_digits(value, isxdigit))
      byte = strtoul(std::string(value).c_str(), nullptr, 16);
  } else if (value.size() <= 3 && all_digits(value, isdigit)) {
    byte = strtoul(std::string(value).c_str(), nullptr, 10);
  }
  if (byte > 0xFF) return std::nullopt;
  return uint8_t(byte);
}

// A key's two bytes from the words after the hash, or why they cannot be.
struct KeyResult {
  uint8_t modifier = 0, usage = 0;
  std::string problem;
};

KeyResult parse_raw_key(const std::vector<std::string_view> &words) {
  KeyResult key;
  auto usage = parse_byte(words[0], "usage");
  auto modifier = words.size() > 1 ? parse_byte(words[1], "modifier") : std::nullopt;
  if (!usage || !modifier) {
    key.problem = "a key with no name reads usage=0xNN modifier=0xNN";
  } else if (words.size() > 2) {
    key.problem = "unexpected text after the key: " + quoted(words[2]);
  } else {
    key.usage = *usage;
    key.modifier = *modifier;
  }
  return key;
}

KeyResult parse_named_key(const std::vector<std::string_view> &words) {
  KeyResult key;
  for (size_t i = 0; i + 1 < words.size(); ++i) {
    if (zk::find_key_row(words[i]))
      return {0, 0, "unexpected text after the key: " + quoted(words[i + 1])};
    for (std::string_view name : split(words[i], "+")) {
      uint8_t bit = zk::modifier_bit(name);
      if (!bit) return {0, 0, "unknown modifier: " + quoted(name)};
      key.modifier |= bit;
    }
  }
  const std::string_view name = words.back();
  const KeyRow *row = zk::find_key_row(name);
  if (!row) return {0, 0, "unknown key name: " + quoted(name)};
  if (words.size() == 1) return {row->second, row->code, ""};
  if (is_marker(row->code))
    return {0, 0, "the media or system key " + quoted(name) + " takes no modifiers"};
  key.usage = row->code;
  return key;
}

KeyResult parse_key(const std::vector<std::string_view> &words) {
  if (words.empty()) return {0, 0, "no key after the hash"};
  if (words[0].substr(0, 6) == "usage=" || words[0].substr(0, 9) == "modifier=")
    return parse_raw_key(words);
  return parse_named_key(words);
}

// One button line: the button, or a problem.
std::optional<Button> parse_line(std::string_view line, std::string &problem) {
  std::vector<std::string_view> words = words_before_comment(line);
  auto hash = parse_hash(words[0]);
  if (!hash) {
    problem = "the hash must be 8 hex digits: " + quoted(words[0]);
    return std::nullopt;
  }
  KeyResult key = parse_key({words.begin() + 1, words.end()});
  if (!key.problem.empty()) {
    problem = key.problem;
    return std::nullopt;
  }
  return Button{*hash, key.modifier, key.usage};
}

// The closing line of an export, "# end of map: N buttons": a comment, so
// readers that do not know it pass over it.
constexpr std::string_view kClosing = "# end of map: ";

// The header line that says a closing line follows: without it, a map
// that has this line was cut short.
constexpr std::string_view kPromise =
    "# the last line counts the buttons: without it the map is cut short";

std::string closing_line(size_t count) {
  return std::string(kClosing) + std::to_string(count) + (count == 1 ? " button" : " buttons");
}

// The count a closing line gives, or nothing for any other line.
std::optional<int> closing_count(std::string_view line) {
  if (line.substr(0, kClosing.size()) != kClosing) return std::nullopt;
  line.remove_prefix(kClosing.size());
  const size_t digits = line.find_first_not_of("0123456789");
  if (digits == 0 || digits == std::string_view::npos || digits > 4) return std::nullopt;
  const std::string_view rest = line.substr(digits);
  if (rest != " buttons" && rest != " button") return std::nullopt;
  return atoi(std::string(line.substr(0, digits)).c_str());
}

bool is_blank_or_comment(std::string_view line) {
  size_t first = line.find_first_not_of(" \t");
  return first == std::string_view::npos || line[first] == '#';
}

void append_entry(std::vector<unsigned char> &image, const Button &b) {
  for (int shift = 0; shift < 32; shift += 8) image.push_back(uint8_t(b.hash >> shift));
  image.push_back(b.modifier);
  image.push_back(b.usage);
}

std::vector<unsigned char> image_of(const std::vector<unsigned char> &current,
                                    const std::vector<Button> &buttons) {
  std::vector<unsigned char> image(current.begin(), current.begin() + kHeaderSize);
  for (const Button &b : buttons) append_entry(image, b);
  image[0] = uint8_t(image.size() >> 8);
  image[1] = uint8_t(image.size());
  return image;
}

}  // namespace

Parsed parse(std::string_view text) {
  // Some editors start a UTF-8 file with a byte-order mark.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  Parsed parsed;
  std::map<uint32_t, int> line_of_hash;
  int number = 0;
  std::optional<std::pair<int, int>> closing;  // its line and count
  bool promised = false;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (auto count = closing_count(line)) {
      closing = {number, *count};
      continue;
    }
    promised = promised || line == kPromise;
    if (is_blank_or_comment(line)) continue;
    std::string problem;
    std::optional<Button> button = parse_line(line, problem);
    if (button) {
      auto [first, fresh] = line_of_hash.emplace(button->hash, number);
      if (!fresh)
        problem =
            "hash " + hex32(button->hash) + " is already on line " + std::to_string(first->second);
      else if (int(parsed.buttons.size()) == kMaxButtons)
        problem = "more than " + std::to_string(kMaxButtons) + " buttons";
    }
    if (!problem.empty())
      parsed.problems.push_back({number, problem});
    else
      parsed.buttons.push_back(*button);
  }
  // Lines lost from the end of an export show as a count that does not match.
  const int read = int(parsed.buttons.size());
  if (promised && !closing && parsed.problems.empty())
    parsed.problems.push_back({0, "the map ends before its closing line: it was cut short"});
  if (closing && parsed.problems.empty() && closing->second != read)
    parsed.problems.push_back({closing->first, "the map says it has " +
                                                   std::to_string(closing->second) +
                                                   " buttons, but " + std::to_string(read) +
                                                   " were read: part of it is missing"});
  return parsed;
}

std::string key_text(uint8_t modifier, uint8_t usage) {
  const ListedKey listed = zk::listed_key(modifier, usage);
  std::string text = zk::row_name(*listed.row);
  if (!listed.exact && listed.modifiers) text = zk::modifier_names(listed.modifiers) + " " + text;
  const Parsed back = parse("00000000 " + text);
  if (back.problems.empty() && back.buttons[0] == Button{0, modifier, usage}) return text;
  char raw[32];
  snprintf(raw, sizeof raw, "usage=0x%02X modifier=0x%02X", usage, modifier);
  return raw;
}

std::string format(const std::vector<Button> &buttons, const std::vector<std::string> &header) {
  std::string text;
  for (const std::string &line : header) text += "# " + line + "\n";
  text += std::string(kPromise) + "\n";
  for (const Button &b : buttons)
    text += hex32(b.hash) + "  " + key_text(b.modifier, b.usage) + "\n";
  return text + closing_line(buttons.size()) + "\n";
}

std::vector<Button> buttons_of(const std::vector<unsigned char> &image) {
  std::vector<Button> buttons;
  for (size_t at = kHeaderSize; at + kEntrySize <= image.size(); at += kEntrySize) {
    const unsigned char *e = &image[at];
    uint32_t hash = e[0] | e[1] << 8 | e[2] << 16 | uint32_t(e[3]) << 24;
    buttons.push_back({hash, e[4], e[5]});
  }
  return buttons;
}

Plan plan_import(const Parsed &map, const std::vector<unsigned char> &current, bool merge,
                 bool allow_empty) {
  Plan plan;
  plan.problems = map.problems;
  if (map.buttons.empty() && plan.problems.empty() && !allow_empty)
    plan.problems.push_back({0,
                             "the map has no buttons; importing it would erase every button "
                             "on the receiver"});
  if (!plan.problems.empty() || current.size() < size_t(kHeaderSize)) return plan;
  std::vector<Button> buttons = merge ? buttons_of(current) : std::vector<Button>{};
  for (const Button &b : map.buttons) {
    auto held = std::find_if(buttons.begin(), buttons.end(),
                             [&](const Button &on) { return on.hash == b.hash; });
    if (held == buttons.end()) {
      buttons.push_back(b);
    } else if (!(*held == b)) {
      plan.kept.push_back({*held, b});
    }
  }
  if (int(buttons.size()) > kMaxButtons) {
    plan.problems.push_back({0, std::to_string(buttons.size()) +
                                    " buttons with those on the receiver, more than " +
                                    std::to_string(kMaxButtons)});
    return plan;
  }
  plan.image = image_of(current, buttons);
  for (const Button &held : buttons_of(current))
    if (std::none_of(buttons.begin(), buttons.end(),
                     [&](const Button &b) { return b.hash == held.hash; }))
      ++plan.removed;
  return plan;
}

std::string describe(const Problem &problem, std::string_view file) {
  std::string where(file);
  if (problem.line > 0) where += ":" + std::to_string(problem.line);
  return where + ": " + problem.text;
}

std::string refusal(std::string_view file) {
  return std::string(file) + " was not imported; the receiver was not changed";
}

std::string describe(const Kept &kept) {
  const Button &held = kept.held, &offered = kept.offered;
  return "kept " + hex32(held.hash) + " as " + key_text(held.modifier, held.usage) +
         " (the map has " + key_text(offered.modifier, offered.usage) + ")";
}

int read_receiver_image(std::vector<unsigned char> &image) {
  image.assign(kImageRoom, 0);
  int length = zk_read_config_image(image.data(), kImageRoom);
  image.resize(length < 0 ? 0 : length);
  return length < 0 ? length : 0;
}

std::vector<unsigned char> without_upgrade_marks(std::vector<unsigned char> image) {
  if (image.size() > size_t(zk::layout::kReservedAddr)) {
    image[zk::layout::kSettingsAAddr] &= uint8_t(~zk::layout::kUpgradeFlag);
    image[zk::layout::kReservedAddr] = 0;
  }
  return image;
}

std::vector<std::string> receiver_header() {
  const char *version = zk_version_str();
  const int product = zk_product_type();
  const char *variant = product == ZK_PRODUCT_CORVANE ? "Corvane"
                        : product == ZK_PRODUCT_ZIRKO ? "Zirko"
                                                      : "unknown";
  char date[32] = "unknown";
  const time_t now = time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local)) strftime(date, sizeof date, "%Y-%m-%d %H:%M", &local);
  return {"Zirko button map: a button's hash, then its key (see `man zirko_util')",
          std::string("receiver: firmware ") + (version ? version : "unknown"),
          std::string("variant: ") + variant, std::string("exported: ") + date};
}

}  // namespace zk::map
