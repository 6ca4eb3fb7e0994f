// The virtual receiver's bootloaders and image format, driven through the
// bus with raw requests (the library's own path is in devlib's upgrade test).
#include <gtest/gtest.h>

#include <vector>

#include "bus_host.h"
#include "image.h"
#include "quiet_receiver.h"

namespace zk::virt {
namespace {

const ImageInfo kInfo{{2, 6, {12, 1, 26}}, 3, 0xFEEDBEEF};

// The host's CRC-8: polynomial 0x07, initial 0.
uint8_t Crc8(const uint8_t *bytes, int size) {
  uint8_t crc = 0;
  for (int i = 0; i < size; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = crc & 0x80 ? uint8_t(crc << 1 ^ 7) : uint8_t(crc << 1);
  }
  return crc;
}

class BootloaderModel : public ::testing::Test {
 protected:
  void Start(int generation, BootloaderFaults faults = {}) {
    ReceiverState s = zk::test::QuietReceiverState();
    s.mode = Mode::kBootloader;
    s.bootloader = {static_cast<uint8_t>(generation), 1, {1, 2, 3}};
    s.bootloader_faults = faults;
    receiver = &bus.add_receiver(s);
    ASSERT_TRUE(host.open());
  }
  int Out(uint16_t value, std::vector<uint8_t> packet) {
    return bus.control_transfer(host.handle, 0x42, 9, value, 0, packet.data(),
                                static_cast<uint16_t>(packet.size()), 0);
  }
  std::vector<uint8_t> V2Packet(const std::vector<uint8_t> &image, int page) {
    std::vector<uint8_t> p(image.begin() + page * 128, image.begin() + page * 128 + 128);
    p.push_back(static_cast<uint8_t>(page));
    p.push_back(static_cast<uint8_t>(page >> 8));
    p.push_back(Crc8(p.data(), 130));
    return p;
  }
  std::vector<uint8_t> Status() {
    std::vector<uint8_t> reply;
    EXPECT_EQ(host.in(0xC2, 10, 0, 0, 5, &reply), 5);
    return reply;
  }
  // Reopens after the receiver came back; its product string.
  std::string Reopen() {
    host.close();
    return host.open() ? host.string(host.handle, 2) : "";
  }

  Bus bus;
  Receiver *receiver = nullptr;
  test::BusHost host{bus};
};

TEST(Image, RoundTripsItsHeaderAndRefusesAnyChangedByte) {
  const auto image = make_image(kInfo, 1024);
  auto info = check_image(image);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->version.minor, 6);
  EXPECT_EQ(info->version.date, (std::array<uint8_t, 3>{12, 1, 26}));
  EXPECT_EQ(info->generation, 3);
  EXPECT_EQ(info->scm_hash, 0xFEEDBEEFu);
  auto longer = image;  // stale flash after the image is not part of it
  longer.resize(4096, 0xA5);
  EXPECT_TRUE(check_image(longer));
  for (size_t at : {0u, 5u, 16u, 20u, 500u, 1023u}) {
    auto spoiled = image;
    spoiled[at] ^= 0x40;
    EXPECT_FALSE(check_image(spoiled)) << "byte " << at;
  }
  EXPECT_FALSE(check_image(std::vector<uint8_t>(image.begin(), image.begin() + 896)));
  for (size_t size : {0u, 1000u, 14336u + 128u}) EXPECT_TRUE(make_image(kInfo, size).empty());
  EXPECT_EQ(make_image(kInfo, 14336).size(), 14336u);
}

TEST_F(BootloaderModel, GenerationTwoTakesOnlyWholeInOrderPagesWithTheirCrc) {
  Start(2);
  const auto image = make_image(kInfo, 3 * 128);
  EXPECT_EQ(Status()[4], 0xFF);  // nothing sent yet
  EXPECT_EQ(Out(0, V2Packet(image, 1)), 131);
  EXPECT_EQ(Status()[4], 3);  // page 0 comes first
  auto bad = V2Packet(image, 0);
  bad[7] ^= 1;
  EXPECT_EQ(Out(0, bad), 131);
  EXPECT_EQ(Status(), (std::vector<uint8_t>{0, 0, bad[130], Crc8(bad.data(), 130), 1}));
  bad = V2Packet(image, 0);
  bad.pop_back();
  EXPECT_EQ(Out(0, bad), 130);
  EXPECT_EQ(Status()[4], 2);       // short
  for (int page : {0, 0, 1, 2}) {  // a page sent again after acceptance is taken again
    EXPECT_EQ(Out(0, V2Packet(image, page)), 131);
    EXPECT_EQ(Status()[4], 0) << "page " << page;
  }
  // Leaving boots it: its version, its pinned generation, its hash.
  EXPECT_EQ(host.in(0xC2, 11), kUsbErrorNoDevice);
  EXPECT_EQ(Reopen(), "Zirko IR Receiver");
  const ReceiverState s = receiver->snapshot();
  EXPECT_EQ(s.firmware.major, 2);
  EXPECT_EQ(s.fw_generation(), 3);
  EXPECT_EQ(s.scm_hash, 0xFEEDBEEFu);
}

TEST_F(BootloaderModel, GenerationOneWritesConsecutivePagesAndBootsOnlyASoundImage) {
  Start(1);
  std::vector<uint8_t> reply;
  EXPECT_EQ(host.in(0xC2, 1, 0, 0, 10, &reply), 7);
  EXPECT_EQ(reply, (std::vector<uint8_t>{0, 0x80, 0, 0x00, 0x40, 0, 0}));
  auto image = make_image(kInfo, 2 * 128);
  image[200] ^= 1;  // spoiled: the receiver must stay in its bootloader
  ASSERT_EQ(host.in(0xC2, 3, 2, kDefaultSettingsA | 0x80), 1);
  for (const char *expected : {"bootldr", "Zirko IR Receiver"}) {
    for (int page = 0; page < 2; ++page) {  // each run of the bootloader starts at page 0
      std::vector<uint8_t> packet(132, 0xEE);
      std::copy_n(image.begin() + page * 128, 128, packet.begin() + 4);
      EXPECT_EQ(Out(2, packet), 132);
    }
    EXPECT_EQ(host.in(0xC2, 9, 11), kUsbErrorNoDevice);
    EXPECT_EQ(Reopen(), expected);
    image[200] ^= 1;
  }
  // Generation-1 hosts never clear the upgrade flag, and the bootloader
  // leaves it as it is.
  EXPECT_EQ(host.peek(2), kDefaultSettingsA | 0x80);
}

TEST_F(BootloaderModel, StaysAwayAfterLeavingUntilPluggedIn) {
  Start(2, {.stay_away_after_leave = true});
  EXPECT_EQ(host.in(0xC2, 11), kUsbErrorNoDevice);  // never upgraded: the factory firmware
  EXPECT_EQ(Reopen(), "");
  receiver->plug();
  EXPECT_EQ(Reopen(), "Zirko IR Receiver");
}

}  // namespace
}  // namespace zk::virt
