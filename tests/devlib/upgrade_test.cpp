// Firmware upgrade through both bootloader generations, against the virtual
// receiver: the whole trip firmware -> bootloader -> firmware, preparation
// refusals, page retries, interrupted uploads and the packets on the wire.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "captured_output.h"
#include "fake_clock.h"
#include "image.h"
#include "receiver_test.h"
#include "text_assert.h"

namespace {

using zk::test::CapturedLog;
using zk::test::Contains;
using zk::virt::BootloaderFaults;

constexpr uint32_t kNewHash = 0x1234ABCD;

std::vector<uint8_t> Image38(size_t size = 12288) {
  return zk::virt::make_image({{3, 8, {12, 1, 26}}, 0, kNewHash}, size);
}

// A log line of this level and function with exactly this message.
testing::AssertionResult Logged(const std::string &log, const std::string &prefix,
                                const std::string &message) {
  const std::regex line("(^|\n)" + std::regex_replace(prefix, std::regex(R"([\[\]])"), R"(\$&)") +
                        R"(\(\d+\): )" + message + "\n");
  if (std::regex_search(log, line)) return testing::AssertionSuccess();
  return testing::AssertionFailure() << prefix << "(): " << message << " not in:\n" << log;
}

int Count(const std::string &text, const std::string &part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class Upgrade : public zk::test::VirtualReceiverTest {
 protected:
  void UseBootloader(int generation) {
    if (generation == 1) SetBootloaderVersion(1, 4);
    if (generation == 2) SetBootloaderVersion(2, 1);
  }
  void SetFaults(const BootloaderFaults &faults) {
    receiver().edit([&](zk::virt::ReceiverState &s) { s.bootloader_faults = faults; });
  }
  // Runs the upgrade; its standard output lands in out_.
  int Run(const std::vector<uint8_t> &image) {
    zk::test::CapturedOutput out(stdout);
    int result = zk_upgrade_fw_ext(image.data(), int(image.size()), ZK_VENDOR_ID, ZK_MANUFACTURER,
                                   &percents_, Record);
    out_ = out.text();
    return result;
  }
  static void Record(int percent, void *arg) {
    static_cast<std::vector<int> *>(arg)->push_back(percent);
  }
  std::vector<Transfer> Pages() { return Requests(0x42, 9); }

  std::string out_;
  std::vector<int> percents_;
};

class UpgradeBothGenerations : public Upgrade, public testing::WithParamInterface<int> {};

TEST_P(UpgradeBothGenerations,
       FirmwareGoesThroughTheBootloaderAndComesBackNewerWithItsConfiguration) {
  UseBootloader(GetParam());
  SetFirmwareVersion(3, 7);
  AddEntry(0xCAFE0001, 0x02, 0x04);
  AddEntry(0xCAFE0002, 0x00, 0x28);
  SetEeprom(2, 0x25);
  const std::vector<uint8_t> before = Image();
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  ASSERT_FLOAT_EQ(zk_version(), 3.7f);

  // Also through a file, as the utility does it.
  const std::string path = TempPath("upgrade_38.bin");
  const std::vector<uint8_t> image = Image38();
  FILE *f = fopen(path.c_str(), "wb");
  ASSERT_TRUE(f && fwrite(image.data(), 1, image.size(), f) == image.size());
  fclose(f);
  zk_set_progress_output(ZK_PROGRESS_ALWAYS);
  zk::test::CapturedOutput out(stdout);
  EXPECT_EQ(zk_upgrade_fw(path.c_str(), ZK_VENDOR_ID, ZK_MANUFACTURER, nullptr, nullptr), 0);
  out_ = out.text();
  zk_set_progress_output(ZK_PROGRESS_AUTO);
  remove(path.c_str());

  EXPECT_TRUE(Contains(out_, "[DEVICE]        Setting DFU\n"));
  EXPECT_TRUE(Contains(out_, "[DEVICE]        Bootloader Detected\n"));
  EXPECT_TRUE(Contains(out_, "] 100%\r\n"));
  EXPECT_TRUE(Contains(out_, "[DEVICE]        FW Detected\n[DEVICE]        EOK\n"));
  ExpectRequest(0xC2, 5, 0x5A, 0, 1);
  EXPECT_EQ(Pages().size(), 96u);
  EXPECT_EQ(zk_fw_state(), ZK_STATE_FIRMWARE);
  EXPECT_FLOAT_EQ(zk_version(), 3.8f);
  EXPECT_EQ(uint32_t(zk_fw_scm_hash()), kNewHash);
  std::vector<uint8_t> after = before;
  if (GetParam() == 1) after[2] |= 0x80;  // nothing clears a generation-1 upgrade flag
  EXPECT_EQ(Image(), after);
}

TEST_P(UpgradeBothGenerations, RefusedImagesWriteNothing) {
  struct Case {
    size_t size;
    BootloaderFaults faults;
    std::string reason;
  };
  const int info_length = GetParam() == 1 ? 7 : 6;
  const Case cases[] = {
      {1000, {}, "image provided is incorrect size"},
      {0, {}, "image provided is incorrect size"},
      {16384 - 2048 + 128, {}, "Not enough size on device"},
      {12288, {.info_page_size = 64}, "page size not correct"},
      {12288, {.info_length = 13 - info_length}, "did not receive expected number of bytes"},
  };
  UseBootloader(GetParam());
  const std::string fn = GetParam() == 1 ? "zk_ver1_" : "zk_ver2_";
  for (const Case &c : cases) {
    SCOPED_TRACE(c.reason + " for " + std::to_string(c.size) + " bytes");
    SetFaults(c.faults);
    SetBootloaderMode(true);
    ASSERT_EQ(OpenReceiver(), ZK_STATE_BOOTLOADER);
    ClearTranscript();
    std::vector<uint8_t> image(c.size, 0x11);
    CapturedLog log;
    EXPECT_EQ(Run(image), -1);
    EXPECT_TRUE(Logged(log.text(), "[E] " + fn + "pre_boot", c.reason));
    EXPECT_TRUE(Logged(log.text(), "[E] " + fn + "upload_fw", "could not prep device"));
    EXPECT_TRUE(Contains(log.text(), "upload firmware failed"));
    ExpectNoRequest(0x42, 9);
    ExpectNoRequest(0xC2, 3);       // the upgrade flag stays clear
    EXPECT_EQ(zk_fw_state(), -12);  // closed
    if (c.faults.info_length) {
      EXPECT_EQ(Requests(0xC2, 1).size(), 2u);
      EXPECT_TRUE(Contains(log.text(), "received: " + std::to_string(c.faults.info_length) +
                                           " expected: " + std::to_string(info_length)));
    }
  }
  // The largest image that fits goes through.
  SetFaults({});
  EXPECT_EQ(Run(Image38(16384 - 2048)), 0);
  EXPECT_FLOAT_EQ(zk_version(), 3.8f);
}

TEST_F(Upgrade, StartsFromABootloaderNotYetOpenAndReportsProgressPerPage) {
  UseBootloader(2);
  SetBootloaderMode(true);
  CapturedLog log(ZK_LOG_INFO);
  EXPECT_EQ(Run(Image38(3 * 128)), 0);
  EXPECT_TRUE(Contains(out_,
                       "[DEVICE]        Waiting\n[DEVICE]        Bootloader Detected\n"
                       "[DEVICE]        Uploading\n"));
  EXPECT_TRUE(Contains(log.text(), "bootloader open"));
  ExpectNoRequest(0xC2, 5);
  EXPECT_EQ(percents_, (std::vector<int>{0, 33, 66, 100}));
  EXPECT_FLOAT_EQ(zk_version(), 3.8f);
}

TEST_P(UpgradeBothGenerations, PacketsCarryThePageAndTheFlagFramesTheUpload) {
  const bool v1 = GetParam() == 1;
  const std::vector<uint8_t> image = Image38(2 * 128);
  UseBootloader(GetParam());
  SetBootloaderMode(true);
  ASSERT_EQ(Run(image), 0);
  const auto pages = Pages();
  ASSERT_EQ(pages.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    const std::vector<uint8_t> &data = pages[i].data;
    EXPECT_EQ(pages[i].value, v1 ? 2 : 0);
    EXPECT_EQ(pages[i].timeout_ms, 0u);
    ASSERT_EQ(data.size(), v1 ? 132u : 131u);
    // Generation 1: four zero bytes, then the page. Generation 2: the page,
    // its number, CRC-8 of both.
    const auto page = data.begin() + (v1 ? 4 : 0);
    EXPECT_TRUE(std::equal(image.begin() + i * 128, image.begin() + i * 128 + 128, page));
    if (v1) {
      EXPECT_EQ(std::vector<uint8_t>(data.begin(), page), std::vector<uint8_t>(4, 0));
    } else {
      EXPECT_EQ(data[128] | data[129] << 8, i);
      EXPECT_EQ(data[130], zk_crc8(data.data(), 130));
    }
  }
  ExpectRequest(0xC2, 3, 2, 0x36 | 0x80, 1);  // the upgrade flag set
  if (v1) {
    ExpectRequest(0xC2, 9, 11, 0, 1, 5000);
  } else {
    ExpectRequest(0xC2, 3, 2, 0x36, 1);
    ExpectRequest(0xC2, 3, 4, 0x50, 1);
    ExpectRequest(0xC2, 11, 0, 0, 1, 5000);
  }
}

TEST_F(Upgrade, GenerationTwoResendsARejectedPageUpToAHundredTimes) {
  UseBootloader(2);
  const std::vector<uint8_t> image = Image38(4 * 128);
  {
    SetFaults({.reject_page = 1, .reject_times = 3});
    SetBootloaderMode(true);
    CapturedLog log(ZK_LOG_INFO);
    EXPECT_EQ(Run(image), 0);
    EXPECT_EQ(Count(log.text(), "CRC mismatch"), 3);
    EXPECT_TRUE(Logged(log.text(), "[I] zk_ver2_send_packet", "CRC mismatch"));
    EXPECT_TRUE(Logged(log.text(), "[I] zk_ver2_send_packet", "retried this many times: 3"));
    EXPECT_EQ(Pages().size(), 4u + 3u);
  }
  // Rejected 100 times: the 101st send is taken too late; 101 times: never taken.
  for (int rejections : {100, 101}) {
    SCOPED_TRACE(rejections);
    zk_close_device();
    ClearTranscript();
    SetFaults({.reject_page = 2, .reject_times = rejections});
    SetBootloaderMode(true);
    CapturedLog log(ZK_LOG_INFO);
    EXPECT_EQ(Run(image), -1);
    EXPECT_EQ(Pages().size(), 2u + 101u);
    EXPECT_TRUE(Contains(log.text(), "Page failed"));
    EXPECT_TRUE(Contains(log.text(), "sending packet failed"));
    EXPECT_TRUE(Contains(log.text(), "upload firmware failed"));
    if (rejections == 101) {
      EXPECT_TRUE(Logged(log.text(), "[E] zk_ver2_send_packet", "Page 2 Error: "));
    }
    ASSERT_EQ(OpenReceiver(), ZK_STATE_BOOTLOADER);
    EXPECT_EQ(zk_last_upgrade_attempt(), 1);
  }
}

TEST_F(Upgrade, ShortPageTransfersAreResentOnGenerationTwoAndStopGenerationOne) {
  const std::vector<uint8_t> image = Image38(2 * 128);
  bus().add_fault({.action = zk::virt::Fault::Action::kReplyLength,
                   .request_type = 0x42,
                   .request = 9,
                   .reply_length = 100,
                   .times = 2});
  UseBootloader(2);
  SetBootloaderMode(true);
  {
    CapturedLog log(ZK_LOG_INFO);
    EXPECT_EQ(Run(image), 0);
    EXPECT_EQ(Count(log.text(), "131 != 100\n"), 2);
    EXPECT_TRUE(Contains(log.text(), "retried this many times: 2\n"));
  }
  // Generation 1 has no page status: a page that did not all arrive must
  // stop the upload rather than shift every page after it.
  zk_close_device();
  ClearTranscript();
  bus().add_fault({.action = zk::virt::Fault::Action::kReplyLength,
                   .request_type = 0x42,
                   .request = 9,
                   .reply_length = 100,
                   .times = 1});
  UseBootloader(1);
  SetBootloaderMode(true);
  CapturedLog log(ZK_LOG_INFO);
  EXPECT_EQ(Run(image), -1);
  EXPECT_TRUE(Contains(log.text(), "error, stopping"));
  EXPECT_TRUE(Contains(log.text(), "[E] zk_ver1_write_buf("));
  EXPECT_EQ(Pages().size(), 1u);  // stops at the short first page
}

TEST_F(Upgrade, ReceiverPulledOutMidUploadStaysRecoverable) {
  UseBootloader(2);
  SetFirmwareVersion(3, 7);
  AddEntry(0xCAFE0001, 0x00, 0x04);
  const std::vector<uint8_t> before = Image();
  SetFaults({.unplug_at_page = 40});
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  EXPECT_EQ(Run(Image38()), -1);
  EXPECT_EQ(zk_fw_state(), -12);

  // Back in its bootloader, flag set; the next upgrade waits for it and completes.
  ASSERT_EQ(OpenReceiver(), ZK_STATE_BOOTLOADER);
  EXPECT_EQ(zk_last_upgrade_attempt(), 1);
  zk_close_device();
  EXPECT_EQ(Run(Image38()), 0);
  EXPECT_FLOAT_EQ(zk_version(), 3.8f);
  EXPECT_EQ(Image(), before);

  // The finished upload cleared the flag.
  zk_device_set_dfu();
  zk_close_device();
  ASSERT_EQ(OpenReceiver(), ZK_STATE_BOOTLOADER);
  EXPECT_EQ(zk_last_upgrade_attempt(), 0);
}

TEST_F(Upgrade, ImageTheReceiverRefusesToStartEndsInFailed) {
  UseBootloader(2);
  std::vector<uint8_t> image = Image38();
  image[5000] ^= 0x01;
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  EXPECT_EQ(Run(image), -13);
  EXPECT_TRUE(Contains(out_, "[DEVICE]        Bootloader Detected\n[DEVICE]        Failed\n"));
  EXPECT_EQ(zk_fw_state(), ZK_STATE_BOOTLOADER);
}

TEST_F(Upgrade, GenerationOneCannotLeaveOrTellAndNeedsNoSwitch) {
  UseBootloader(1);
  SetBootloaderMode(true);
  ASSERT_EQ(OpenReceiver(), ZK_STATE_BOOTLOADER);
  ClearTranscript();
  CapturedLog log;
  EXPECT_EQ(zk_leave_bootloader(), -12);
  EXPECT_TRUE(Contains(log.text(), "invalid command, please upload a new image"));
  EXPECT_EQ(zk_last_upgrade_attempt(), 1);
  EXPECT_EQ(zk_device_set_dfu(), 1);
  ExpectNoTransfers();
}

class UpgradeOnFakeClock : public Upgrade {
 protected:
  zk::test::FakeClock clock_;
};

// Nothing may strand a receiver: each case ends within the bounded waits,
// with the receiver where the reason says.
TEST_F(UpgradeOnFakeClock, RefusalsEndWithoutWaitingForEver) {
  struct Case {
    const char *what;
    size_t image_size;
    std::function<void()> arrange;
    int expected_state;  // after the upgrade, reopened (0: gone from the bus)
    const char *reason;
  };
  const Case cases[] = {
      {"image of a size no bootloader takes", 1000, [] {}, ZK_STATE_FIRMWARE,
       "its size must be a multiple of 128"},
      {"image larger than the flash", 16384, [] {}, ZK_STATE_FIRMWARE, "bytes of flash"},
      {"switch refused with a stall", 12288, [this] { FailRequest(0xC2, 5, zk::kUsbErrorPipe); },
       ZK_STATE_FIRMWARE, "did not switch to its bootloader"},
      {"receiver that never comes back", 12288,
       [this] {
         bus().add_fault(
             {.action = zk::virt::Fault::Action::kDisconnect, .request_type = 0xC2, .request = 5});
       },
       0, "did not come back"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
    ClearTranscript();
    c.arrange();
    CapturedLog log;
    EXPECT_EQ(Run(std::vector<uint8_t>(c.image_size, 0x11)), -13);
    EXPECT_TRUE(Contains(log.text(), c.reason));
    ExpectNoRequest(0x42, 9);
    bus().clear_faults();
    zk_close_device();
    if (c.expected_state > 0) {
      EXPECT_EQ(OpenReceiver(), c.expected_state);
    }
    zk_close_device();
  }
}

TEST_F(UpgradeOnFakeClock, FollowsTheSwitchedReceiverPastAnotherInItsBootloader) {
  SetBootloaderMode(true);  // the first on the bus waits in its bootloader
  zk::virt::Receiver &second = bus().add_receiver(DefaultState());
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);  // only the second runs firmware
  EXPECT_EQ(Run(Image38()), 0);
  EXPECT_EQ(second.snapshot().firmware.minor, 8);
  EXPECT_EQ(second.snapshot().mode, zk::virt::Mode::kFirmware);
  EXPECT_EQ(receiver().snapshot().mode, zk::virt::Mode::kBootloader);
}

TEST(UpgradeFile, MissingFileIsRefused) {
  CapturedLog log;
  EXPECT_EQ(
      zk_upgrade_fw("/nonexistent/zirko.bin", ZK_VENDOR_ID, ZK_MANUFACTURER, nullptr, nullptr), -9);
  EXPECT_TRUE(Contains(log.text(), "could not open file"));
}

INSTANTIATE_TEST_SUITE_P(Bootloader, UpgradeBothGenerations, testing::Values(1, 2));

}  // namespace
