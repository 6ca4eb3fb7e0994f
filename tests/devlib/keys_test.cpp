// Key names: table shape, the two lookups, the usage text and the listing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "captured_output.h"
#include "internal.h"

using zk::test::CapturedOutput;

namespace {

const std::string kUsage =
    "usage:\n zirko record 'word'Available Options:\t\n"
    "  escape, return, enter, escape, backspace, delete, \n"
    "  tab, space, F[1-12], printscreen, scroll, pause, \n"
    "  insert, home, pageup, pagedown, end, right, left, \n"
    "  down, up, wake, media keys:\n"
    "  eject, vol_up, vol_down, mute, play/pause, stop, \n"
    "  fastforward, rewind\n";

const std::string kHeading = "\nRecorded Keys:\nIndex  hash        key\n-----  ---------   ---\n";

struct Entry {
  uint32_t hash;
  uint8_t second, code;
};

std::vector<unsigned char> image_of(const std::vector<Entry> &entries) {
  std::vector<unsigned char> image{0, 0, 0x11, 0x22, 0};
  for (const Entry &e : entries) {
    for (int shift = 0; shift < 32; shift += 8) image.push_back(uint8_t(e.hash >> shift));
    image.push_back(e.second);
    image.push_back(e.code);
  }
  image[0] = uint8_t(image.size() >> 8);
  image[1] = uint8_t(image.size());
  return image;
}

std::string listing(const std::vector<unsigned char> &image, int size) {
  CapturedOutput out(stdout);
  EXPECT_EQ(zk_print_config(image.data(), size), 0);
  return out.text();
}

}  // namespace

TEST(KeyTable, CharacterRowsInCodeOrderThenUniqueWords) {
  int count = 0;
  const zk::KeyRow *rows = zk::key_table(&count);
  ASSERT_EQ(count, 139);
  for (int r = 0; r < 93; ++r) {
    EXPECT_EQ(rows[r].character, char('!' + r)) << "row " << r + 1;
    EXPECT_STREQ(rows[r].word, "");
  }
  for (int r = 93; r < count; ++r) {
    EXPECT_EQ(rows[r].character, '\0');
    for (int other = 93; other < r; ++other) EXPECT_STRNE(rows[r].word, rows[other].word);
  }
  EXPECT_STREQ(rows[93].word, "return");
  EXPECT_STREQ(rows[111].word, "print_screen");
  EXPECT_STREQ(rows[138].word, "browser_back");
}

TEST(Lookup, KnownNamesGiveTheirReportSilently) {
  struct Case {
    const char *name;
    uint8_t code, second;
    // clang-format off
  } cases[] = {{"k", 0x0E, 0}, {"K", 0x0E, 2}, {"\\", 0x31, 0}, {"(", 0x26, 2}, {")", 0x27, 2},
               {"{", 0x2F, 2}, {"}", 0x30, 2}, {"0", 0x27, 0}, {"print_screen", 0x46, 0},
               {"fast_forward", 0x66, 0xB3}, {"vol_up", 0x66, 0xE9}, {"browser_back", 0x68, 0x80}};
  // clang-format on
  CapturedOutput err(stderr);
  for (const Case &k : cases) {
    uint8_t report[2] = {0xAA, 0xAA};
    EXPECT_EQ(zk_key_report(k.name, report), 1) << k.name;
    EXPECT_EQ(report[0], k.code) << k.name;
    EXPECT_EQ(report[1], k.second) << k.name;
  }
  EXPECT_EQ(err.text(), "");
}

TEST(Lookup, UnknownNamesClearTheReportAndPrintUsage) {
  std::string longname(300, 'x');  // taken on its first 255 characters
  struct Case {
    std::string name;
    int result;
    std::string message;
  } cases[] = {{"~", 0, "Not a valid keyboard key\n\n"},
               {" ", 0, "Not a valid keyboard key\n\n"},
               {"printscreen", -22, "Not a valid word: printscreen\n\n"},
               {"fastforward", -22, "Not a valid word: fastforward\n\n"},
               {"Return", -22, "Not a valid word: Return\n\n"},
               {longname, -22, "Not a valid word: " + longname.substr(0, 255) + "\n\n"}};
  for (const Case &k : cases) {
    uint8_t report[2] = {0xAA, 0xAA};
    CapturedOutput out(stdout);
    CapturedOutput err(stderr);
    EXPECT_EQ(zk_key_report(k.name.c_str(), report), k.result) << k.name;
    EXPECT_EQ(err.text(), k.message + kUsage);
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(report[0] | report[1], 0) << k.name;
  }
}

TEST(PrintConfig, ExactMatchByNameElseModifierNamesAndFirstRowOfTheCode) {
  auto image = image_of({{0x12345678, 0x00, 0x04}, {0xABC, 0xE9, 0x66}, {0xFFFFFFFF, 0x02, 0x34}});
  EXPECT_EQ(listing(image, int(image.size())), kHeading +
                                                   "    0  12345678    a\n"
                                                   "    1  ABC    vol_up\n"
                                                   "    2  FFFFFFFF    \"\n");

  image = image_of({
      {0x1, 0x01, 0x28},  // ctrl + return
      {0x2, 0x01, 0x04},  // ctrl + a: row "A" comes first
      {0x3, 0x02, 0x1E},  // "!" is left out of the exact search
      {0x4, 0x85, 0x99},  // no row with that code
      {0x5, 0x00, 0x99},
      {0x6, 0x30, 0x66},  // right ctrl + right shift on a media marker
  });
  EXPECT_EQ(listing(image, int(image.size())), kHeading +
                                                   "    0  1    left_ctrl return\n"
                                                   "    1  2    left_ctrl A\n"
                                                   "    2  3    left_shift !\n"
                                                   "    3  4    left_ctrl+left_alt+right_cmd !\n"
                                                   "    4  5     !\n"
                                                   "    5  6    right_ctrl+right_shift eject\n");
}

TEST(PrintConfig, SizeFiveHasNoKeysAndSmallerOnlyTheHeading) {
  auto image = image_of({});
  EXPECT_EQ(listing(image, 5), "No Keys Found\n");
  EXPECT_EQ(listing(image, 4), kHeading);
  EXPECT_EQ(listing(image, 0), kHeading);
}

TEST(PrintConfig, EntryCutShortBySizeIsNotListed) {
  auto image = image_of({{0x10, 0x00, 0x04}, {0x20, 0x00, 0x05}});
  image.resize(image.size() - 2);  // the copy is exactly the used size
  EXPECT_EQ(listing(image, int(image.size())), kHeading + "    0  10    a\n");
}
