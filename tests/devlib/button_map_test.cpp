// Button maps: how keys are written, and what the reader accepts and refuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "zirko_map.h"

using zk::map::Button;

namespace {

std::string line_of(const zk::map::Problem &p) {
  return std::to_string(p.line) + ": " + p.text;
}

}  // namespace

// Every key report a receiver can hold comes back from its text unchanged.
TEST(KeyText, EveryReportReadsBackAsItself) {
  for (int modifier = 0; modifier < 256; ++modifier) {
    for (int usage = 0; usage < 256; ++usage) {
      const std::string text = zk::map::key_text(uint8_t(modifier), uint8_t(usage));
      const zk::map::Parsed back = zk::map::parse("0000ABCD " + text);
      ASSERT_TRUE(back.problems.empty()) << text << ": " << back.problems[0].text;
      ASSERT_EQ(back.buttons[0], (Button{0xABCD, uint8_t(modifier), uint8_t(usage)})) << text;
    }
  }
}

TEST(KeyText, NamesKeysAsTheListingDoes) {
  struct Case {
    uint8_t modifier, usage;
    const char *text;
  };
  const Case cases[] = {
      {0x00, 0x04, "a"},
      {0x02, 0x04, "A"},
      {0x03, 0x04, "left_ctrl+left_shift A"},
      {0x01, 0x28, "left_ctrl return"},
      {0xE9, 0x66, "vol_up"},
      {0x02, 0x1E, "left_shift !"},  // the listing never names row "!" exactly
      {0x02, 0x20, "#"},
      {0x05, 0x66, "usage=0x66 modifier=0x05"},  // a consumer usage with no name
      {0x00, 0x39, "usage=0x39 modifier=0x00"},  // caps lock: no row
  };
  for (const Case &c : cases) EXPECT_EQ(zk::map::key_text(c.modifier, c.usage), c.text);
}

TEST(Parse, ReportsEveryBadLineAndKeepsTheGoodOnes) {
  const zk::map::Parsed map = zk::map::parse(
      "\xEF\xBB\xBF# a remote, saved with a byte-order mark\r\n"
      "\n"
      "AAAA0001  left_ctrl  left_alt   return   # mixed separators\r\n"
      "aaaa0002 usage=12 modifier=0x0f\n"
      "AAAA003 a\n"
      "AAAA0004 left_control a\n"
      "AAAA0005 retrun\n"
      "aaaa0001 b\n"
      "AAAA0006 usage=0x100 modifier=0\n"
      "AAAA0007 right_cmd mute\n"
      "AAAA0008\n"
      "AAAA0009 a b\n"
      "AAAA000A # # the key is #\n"
      "AAAA000B");  // no line end after the last line
  EXPECT_EQ(map.buttons,
            (std::vector<Button>{
                {0xAAAA0001, 0x05, 0x28}, {0xAAAA0002, 0x0F, 12}, {0xAAAA000A, 0x02, 0x20}}));
  std::vector<std::string> problems;
  for (const auto &p : map.problems) problems.push_back(line_of(p));
  EXPECT_EQ(problems, (std::vector<std::string>{
                          "5: the hash must be 8 hex digits: 'AAAA003'",
                          "6: unknown modifier: 'left_control'",
                          "7: unknown key name: 'retrun'",
                          "8: hash AAAA0001 is already on line 3",
                          "9: a key with no name reads usage=0xNN modifier=0xNN",
                          "10: the media or system key 'mute' takes no modifiers",
                          "11: no key after the hash",
                          "12: unexpected text after the key: 'b'",
                          "14: no key after the hash",
                      }));
}

TEST(Parse, RefusesTheButtonBeyondTheReceiversRoom) {
  std::string text;
  for (int i = 0; i <= zk::map::kMaxButtons; ++i) {
    char line[32];
    snprintf(line, sizeof line, "%08X a\n", i);
    text += line;
  }
  const zk::map::Parsed map = zk::map::parse(text);
  ASSERT_EQ(map.problems.size(), 1u);
  EXPECT_EQ(line_of(map.problems[0]), "170: more than 169 buttons");
}

TEST(PlanImport, KeepsTheSettingsAndRefusesAMergeThatDoesNotFit) {
  // Settings 0x36 0x06 0x00, one button: AAAA0001 a.
  const std::vector<unsigned char> current = {0, 11, 0x36, 0x06, 0x00, 1, 0, 0xAA, 0xAA, 0, 4};
  const zk::map::Parsed map = zk::map::parse("BBBB0002 F5\n");
  EXPECT_EQ(zk::map::plan_import(map, current, false).image,
            (std::vector<unsigned char>{0, 11, 0x36, 0x06, 0x00, 2, 0, 0xBB, 0xBB, 0, 0x3E}));

  std::string full;
  for (int i = 0; i < zk::map::kMaxButtons; ++i) full += "BBBB" + std::to_string(1000 + i) + " a\n";
  const zk::map::Plan plan = zk::map::plan_import(zk::map::parse(full), current, true);
  EXPECT_TRUE(plan.image.empty());
  ASSERT_EQ(plan.problems.size(), 1u);
  EXPECT_EQ(line_of(plan.problems[0]), "0: 170 buttons with those on the receiver, more than 169");
}

// An export ends with its count; losing lines from it, or a wrong count, is
// a problem, while a map written by hand needs no count at all.
TEST(Parse, AnExportCutShortIsRefused) {
  const std::vector<Button> buttons = {{0xAAAA0001, 0, 0x04}, {0xBBBB0002, 0, 0x3E}};
  const std::string whole = zk::map::format(buttons, {"a header"});
  EXPECT_EQ(whole.substr(whole.size() - 25), "\n# end of map: 2 buttons\n");
  const size_t last_button = whole.find("BBBB0002");
  const struct {
    std::string text;
    std::string problem;  // empty: the map is good
  } cases[] = {
      {whole, ""},
      {"AAAA0001 a\n", ""},
      {"AAAA0001 a\n# end of map: 1 button\n", ""},
      {whole.substr(0, whole.find("# end of map")),
       "0: the map ends before its closing line: it was cut short"},
      {whole.substr(0, last_button) + whole.substr(whole.find("# end of map")),
       "4: the map says it has 2 buttons, but 1 were read: part of it is missing"},
      {"AAAA0001 a\n# end of map: 3 buttons\n",
       "2: the map says it has 3 buttons, but 1 were read: part of it is missing"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    const zk::map::Parsed map = zk::map::parse(c.text);
    if (c.problem.empty()) {
      EXPECT_TRUE(map.problems.empty()) << line_of(map.problems[0]);
    } else {
      ASSERT_EQ(map.problems.size(), 1u);
      EXPECT_EQ(line_of(map.problems[0]), c.problem);
    }
  }
}

// A map with no buttons would erase them all: only asked for it is planned;
// a plan counts the receiver's buttons it leaves out.
TEST(PlanImport, RefusesAnEmptyMapAndCountsWhatItRemoves) {
  // Two buttons: AAAA0001 a, BBBB0002 F5.
  const std::vector<unsigned char> current = {0, 17, 0x36, 0x06, 0x00, 1,    0, 0xAA, 0xAA,
                                              0, 4,  2,    0,    0xBB, 0xBB, 0, 0x3E};
  const zk::map::Parsed empty = zk::map::parse("# nothing but comments\n\n");
  const zk::map::Plan refused = zk::map::plan_import(empty, current, false);
  EXPECT_TRUE(refused.image.empty());
  ASSERT_EQ(refused.problems.size(), 1u);
  EXPECT_EQ(line_of(refused.problems[0]),
            "0: the map has no buttons; importing it would erase every button on the receiver");
  const zk::map::Plan erase = zk::map::plan_import(empty, current, false, true);
  EXPECT_EQ(erase.image, (std::vector<unsigned char>{0, 5, 0x36, 0x06, 0x00}));
  EXPECT_EQ(erase.removed, 2);
  const zk::map::Parsed one = zk::map::parse("BBBB0002 F6\nCCCC0003 b\n");
  EXPECT_EQ(zk::map::plan_import(one, current, false).removed, 1);
  EXPECT_EQ(zk::map::plan_import(one, current, true).removed, 0);
}

TEST(Parse, ShippedExampleIsAValidMap) {
  std::ifstream file(ZIRKO_EXAMPLE_MAP);
  std::stringstream text;
  text << file.rdbuf();
  const zk::map::Parsed map = zk::map::parse(text.str());
  EXPECT_TRUE(map.problems.empty()) << line_of(map.problems[0]);
  EXPECT_EQ(map.buttons.size(), 20u);
}
