// Key names: the one table that maps a character or a key word to the two
// bytes a recorded button sends, and the listing of recorded buttons.
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "internal.h"

namespace {

using zk::KeyRow;

constexpr uint8_t kShift = 0x02;  // left shift in the HID modifier byte

constexpr KeyRow C(char character, uint8_t code, uint8_t second = 0) {
  return KeyRow{"", character, second, code};
}
constexpr KeyRow W(const char *word, uint8_t code, uint8_t second = 0) {
  return KeyRow{word, '\0', second, code};
}

// Order matters: the lookups and the listing take the first matching row.
// clang-format off
constexpr std::array<KeyRow, 139> kKeyTable{{
    C('!', 0x1E, kShift), C('"', 0x34, kShift), C('#', 0x20, kShift), C('$', 0x21, kShift),
    C('%', 0x22, kShift), C('&', 0x24, kShift), C('\'', 0x34), C('(', 0x26, kShift),
    C(')', 0x27, kShift), C('*', 0x25, kShift), C('+', 0x2E, kShift), C(',', 0x36),
    C('-', 0x2D), C('.', 0x37), C('/', 0x38), C('0', 0x27), C('1', 0x1E), C('2', 0x1F),
    C('3', 0x20), C('4', 0x21), C('5', 0x22), C('6', 0x23), C('7', 0x24), C('8', 0x25),
    C('9', 0x26), C(':', 0x33, kShift), C(';', 0x33), C('<', 0x36, kShift), C('=', 0x2E),
    C('>', 0x37, kShift), C('?', 0x38, kShift), C('@', 0x1F, kShift),
    // Capitals: the lower-case key with shift.
    C('A', 0x04, kShift), C('B', 0x05, kShift), C('C', 0x06, kShift), C('D', 0x07, kShift),
    C('E', 0x08, kShift), C('F', 0x09, kShift), C('G', 0x0A, kShift), C('H', 0x0B, kShift),
    C('I', 0x0C, kShift), C('J', 0x0D, kShift), C('K', 0x0E, kShift), C('L', 0x0F, kShift),
    C('M', 0x10, kShift), C('N', 0x11, kShift), C('O', 0x12, kShift), C('P', 0x13, kShift),
    C('Q', 0x14, kShift), C('R', 0x15, kShift), C('S', 0x16, kShift), C('T', 0x17, kShift),
    C('U', 0x18, kShift), C('V', 0x19, kShift), C('W', 0x1A, kShift), C('X', 0x1B, kShift),
    C('Y', 0x1C, kShift), C('Z', 0x1D, kShift),
    C('[', 0x2F), C('\\', 0x31), C(']', 0x30), C('^', 0x23, kShift), C('_', 0x2D, kShift),
    C('`', 0x35),
    C('a', 0x04), C('b', 0x05), C('c', 0x06), C('d', 0x07), C('e', 0x08), C('f', 0x09),
    C('g', 0x0A), C('h', 0x0B), C('i', 0x0C), C('j', 0x0D), C('k', 0x0E), C('l', 0x0F),
    C('m', 0x10), C('n', 0x11), C('o', 0x12), C('p', 0x13), C('q', 0x14), C('r', 0x15),
    C('s', 0x16), C('t', 0x17), C('u', 0x18), C('v', 0x19), C('w', 0x1A), C('x', 0x1B),
    C('y', 0x1C), C('z', 0x1D),
    C('{', 0x2F, kShift), C('|', 0x31, kShift), C('}', 0x30, kShift),
    W("return", 0x28), W("escape", 0x29), W("delete", 0x4C), W("backspace", 0x2A),
    W("tab", 0x2B), W("space", 0x2C),
    W("F1", 0x3A), W("F2", 0x3B), W("F3", 0x3C), W("F4", 0x3D), W("F5", 0x3E), W("F6", 0x3F),
    W("F7", 0x40), W("F8", 0x41), W("F9", 0x42), W("F10", 0x43), W("F11", 0x44), W("F12", 0x45),
    W("print_screen", 0x46), W("scroll", 0x47), W("pause", 0x48), W("insert", 0x49),
    W("home", 0x4A), W("pageup", 0x4B), W("end", 0x4D), W("pagedown", 0x4E), W("right", 0x4F),
    W("left", 0x50), W("down", 0x51), W("up", 0x52), W("enter", 0x58), W("apostrophe", 0x34),
    // Marker codes that the firmware turns into system and consumer-page reports; the
    // second byte of a 0x66 row is the low byte of the consumer usage.
    W("power", 0xFE), W("wake", 0xFF), W("eject", 0x66, 0xB8), W("vol_up", 0x66, 0xE9),
    W("vol_down", 0x66, 0xEA), W("mute", 0x66, 0xE2), W("play/pause", 0x66, 0xCD),
    W("stop", 0x66, 0xB7), W("rewind", 0x66, 0xB4), W("fast_forward", 0x66, 0xB3),
    W("next_track", 0x66, 0xB5), W("prev_track", 0x66, 0xB6), W("suspend", 0x67, 0x01),
    W("browser_back", 0x68, 0x80),
}};
// clang-format on

constexpr int kCharacterRows = 93;
static_assert(kKeyTable[kCharacterRows - 1].character == '}' && kKeyTable[kCharacterRows].word[0]);

constexpr std::array<const char *, 8> kModifierNames{
    "left_ctrl",  "left_shift",  "left_alt",  "left_cmd",
    "right_ctrl", "right_shift", "right_alt", "right_cmd",
};

using zk::layout::kEntrySize;
constexpr int kImageHeader = zk::layout::kHeaderSize;

void print_entry(int index, const unsigned char *entry) {
  uint32_t hash = entry[0] | entry[1] << 8 | entry[2] << 16 | uint32_t(entry[3]) << 24;
  const zk::ListedKey key = zk::listed_key(entry[4], entry[5]);
  // One more space before a name that comes with its modifier names.
  printf(key.exact ? "%5d  %X   " : "%5d  %X    ", index, hash);
  if (!key.exact) printf("%s", zk::modifier_names(key.modifiers).c_str());
  printf(" %s\n", zk::row_name(*key.row).c_str());
}

const KeyRow *find_character_row(char character) {
  for (int r = 0; r < kCharacterRows; ++r)
    if (kKeyTable[r].character == character) return &kKeyTable[r];
  return nullptr;
}

const KeyRow *find_word_row(std::string_view word) {
  for (int r = kCharacterRows; r < int(kKeyTable.size()); ++r)
    if (word == kKeyTable[r].word) return &kKeyTable[r];
  return nullptr;
}

int found(const KeyRow *row, uint8_t report[2]) {
  report[0] = row->code;
  report[1] = row->second;
  return 1;
}

}  // namespace

extern "C" const char *zk_key_word(int position) {
  if (position < 0) return nullptr;
  for (const KeyRow &row : kKeyTable)
    if (row.word[0] && position-- == 0) return row.word;
  return nullptr;
}

namespace zk {
const KeyRow *key_table(int *count) {
  if (count) *count = int(kKeyTable.size());
  return kKeyTable.data();
}

const KeyRow *find_key_row(std::string_view name) {
  return name.size() == 1 ? find_character_row(name[0]) : find_word_row(name);
}

uint8_t modifier_bit(std::string_view name) {
  for (int bit = 0; bit < int(kModifierNames.size()); ++bit)
    if (name == kModifierNames[bit]) return uint8_t(1 << bit);
  return 0;
}

std::string modifier_names(uint8_t bits) {
  std::string names;
  for (int bit = 0; bit < 8; ++bit) {
    if (!(bits & (1 << bit))) continue;
    if (!names.empty()) names += '+';
    names += kModifierNames[bit];
  }
  return names;
}

std::string row_name(const KeyRow &row) {
  return row.character ? std::string(1, row.character) : std::string(row.word);
}

ListedKey listed_key(uint8_t second, uint8_t code) {
  // Row "!" is left out of the exact search, so a recorded "!" lists through
  // the modifier names as left_shift with "!".
  for (int r = 1; r < int(kKeyTable.size()); ++r)
    if (kKeyTable[r].code == code && kKeyTable[r].second == second) return {&kKeyTable[r], true, 0};
  for (const KeyRow &row : kKeyTable)
    if (row.code == code) return {&row, false, second};
  return {&kKeyTable[0], false, second};  // no row with that code: "!" stands in
}
}  // namespace zk

extern "C" int zk_lookup_char(char character, uint8_t report[2]) {
  report[0] = report[1] = 0;
  if (const KeyRow *row = find_character_row(character)) return found(row, report);
  fprintf(stderr, "Not a valid keyboard key\n\n");
  zk_print_record_usage();
  return 0;
}

extern "C" int zk_lookup_word(const char *word, uint8_t report[2]) {
  report[0] = report[1] = 0;
  if (!word) word = "";
  if (const KeyRow *row = find_word_row(word)) return found(row, report);
  fprintf(stderr, "Not a valid word: %s\n\n", word);
  zk_print_record_usage();
  return ZK_ERR_NO_SUCH_WORD;
}

int zk_key_report(const char *name, uint8_t report[2]) {
  // Names are taken on at most 255 characters; no key word comes close.
  char bounded[256] = {};
  if (name) strncpy(bounded, name, sizeof bounded - 1);
  if (strlen(bounded) == 1) return zk_lookup_char(bounded[0], report);
  return zk_lookup_word(bounded, report);
}

// Shown after a name was refused: a diagnostic, so never on standard output.
extern "C" void zk_print_record_usage(void) {
  fflush(stdout);
  fputs(
      "usage:\n"
      " zirko record 'word'"
      "Available Options:\t\n"
      "  escape, return, enter, escape, backspace, delete, \n"
      "  tab, space, F[1-12], printscreen, scroll, pause, \n"
      "  insert, home, pageup, pagedown, end, right, left, \n"
      "  down, up, wake, media keys:\n"
      "  eject, vol_up, vol_down, mute, play/pause, stop, \n"
      "  fastforward, rewind\n",
      stderr);
}

extern "C" int zk_print_config(const unsigned char *image, int size) {
  if (size == kImageHeader) {
    printf("No Keys Found\n");
    return 0;
  }
  printf("\nRecorded Keys:\n");
  printf("Index  hash        key\n");
  printf("-----  ---------   ---\n");
  // Only whole entries: a used size that cuts an entry short must not make
  // the listing read past the copy, which is exactly that size.
  int index = 0;
  for (int offset = kImageHeader; offset + kEntrySize <= size; offset += kEntrySize)
    print_entry(index++, image + offset);
  return 0;
}
