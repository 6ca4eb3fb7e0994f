// Input events of the receiver's nodes back into the key reports its
// recorded buttons store: each case is a short event script as the kernel's
// HID driver sends it, and the reports it must give.
#include "key_decoder.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <vector>

namespace {

using zk::DecodedKey;

struct Event {
  uint16_t type, code;
  int32_t value;
};
struct Case {
  const char *name;
  std::vector<Event> events;
  std::vector<DecodedKey> keys;
};

constexpr Event kSyn{EV_SYN, SYN_REPORT, 0};
Event Scan(uint32_t usage) {
  return {EV_MSC, MSC_SCAN, static_cast<int32_t>(usage)};
}
Event Down(uint16_t code) {
  return {EV_KEY, code, 1};
}
Event Up(uint16_t code) {
  return {EV_KEY, code, 0};
}

class Decoding : public testing::TestWithParam<Case> {};

TEST_P(Decoding, GivesTheStoredKeyReports) {
  zk::KeyDecoder decoder;
  std::vector<DecodedKey> keys;
  for (const Event &e : GetParam().events)
    if (auto key = decoder.feed(e.type, e.code, e.value)) keys.push_back(*key);
  EXPECT_EQ(keys, GetParam().keys);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, Decoding,
    testing::Values(
        Case{"LetterWithItsScan",
             {Scan(0x70004), Down(KEY_A), kSyn, Up(KEY_A), kSyn},
             {{0x04, 0x00, KEY_A}}},
        // Shift, then the key: the report holds both, and the release of
        // shift leaves the next key bare.
        Case{"ModifiersHeldAreItsSecondByte",
             {Scan(0x700E1), Down(KEY_LEFTSHIFT), Scan(0x700E4), Down(KEY_RIGHTCTRL), Scan(0x70028),
              Down(KEY_ENTER), kSyn, Up(KEY_ENTER), Up(KEY_LEFTSHIFT), Up(KEY_RIGHTCTRL), kSyn,
              Scan(0x70028), Down(KEY_ENTER), kSyn},
             {{0x28, 0x12, KEY_ENTER}, {0x28, 0x00, KEY_ENTER}}},
        Case{"RepeatsAndReleasesAreNoPresses",
             {Scan(0x70005), Down(KEY_B), kSyn, {EV_KEY, KEY_B, 2}, kSyn, Up(KEY_B), kSyn},
             {{0x05, 0x00, KEY_B}}},
        // Media keys carry the receiver's marker with their consumer usage.
        Case{"ConsumerUsagesUnderTheMediaMarker",
             {Scan(0xC00E9), Down(KEY_VOLUMEUP), kSyn, Scan(0xC00CD), Down(KEY_PLAYPAUSE), kSyn,
              Scan(0xC0224), Down(KEY_BACK), kSyn},
             {{0x66, 0xE9, KEY_VOLUMEUP}, {0x66, 0xCD, KEY_PLAYPAUSE}, {0x68, 0x80, KEY_BACK}}},
        Case{"SystemKeys",
             {Scan(0x10081), Down(KEY_POWER), kSyn, Scan(0x10082), Down(KEY_SLEEP), kSyn,
              Down(KEY_WAKEUP), kSyn},
             {{0xFE, 0x00, KEY_POWER}, {0x67, 0x01, KEY_SLEEP}, {0xFF, 0x00, KEY_WAKEUP}}},
        // Without a scan the key code tells the usage; a scan belongs only to
        // the key right after it.
        Case{"KeyCodesAloneAndStaleScans",
             {Down(KEY_F5), kSyn, Scan(0x70004), kSyn, Down(KEY_0), kSyn, Down(KEY_KPENTER)},
             {{0x3E, 0x00, KEY_F5}, {0x27, 0x00, KEY_0}, {0x58, 0x00, KEY_KPENTER}}},
        // A key no table knows is still reported, with usage 0, so the
        // monitor shows that something arrived.
        Case{"UnknownKeysAreReportedRaw",
             {Scan(0xFF0001), Down(KEY_PROG1), kSyn, Scan(0x70100), Down(KEY_PROG2), kSyn},
             {{0x00, 0x00, KEY_PROG1}, {0x00, 0x00, KEY_PROG2}}}),
    [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

// Every keyboard usage the table gives maps back to itself through the key
// code, so events without MSC_SCAN name the same key.
TEST(KeyboardUsages, RoundTripThroughTheirKeyCodes) {
  for (uint32_t usage = 0x04; usage <= 0x65; ++usage) {
    const auto key = zk::report_of_usage(0x70000 | usage, 0);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->usage, usage);
  }
  EXPECT_EQ(zk::keyboard_usage_of_code(KEY_A), 0x04);
  EXPECT_EQ(zk::keyboard_usage_of_code(KEY_COMPOSE), 0x65);
  // 0x32 (non-US #) shares its code with backslash: the code gives 0x31.
  EXPECT_EQ(zk::keyboard_usage_of_code(KEY_BACKSLASH), 0x31);
  EXPECT_EQ(zk::keyboard_usage_of_code(KEY_VOLUMEUP), 0);
  EXPECT_FALSE(zk::report_of_usage(0x70003, 0));
}

}  // namespace
