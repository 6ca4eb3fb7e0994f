// EEPROM bytes, product variant and factory-test mark.
#include <gtest/gtest.h>

#include <cstdint>

#include "internal.h"
#include "receiver_test.h"
#include "text_assert.h"

namespace {

using zk::test::CapturedLog;
using zk::test::Contains;

constexpr int kByteB = 3;  // variant and test mark

class EepromAccess : public zk::test::VirtualReceiverTest {
 protected:
  void SetUp() override {
    VirtualReceiverTest::SetUp();
    ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
    ClearTranscript();
  }
};

TEST_F(EepromAccess, PeekReadsOneByteWithRequest2) {
  SetEeprom(0x123, 0xAB);
  EXPECT_EQ(zk_eeprom_peek(0x123), 0xAB);
  ExpectRequest(0xC2, 2, 0x123, 0, 1, 5000);
}

TEST_F(EepromAccess, PokeSendsTheByteInTheIndexOfRequest3) {
  EXPECT_EQ(zk_eeprom_poke(0x40, 0x5A), 0);
  EXPECT_EQ(Eeprom(0x40), 0x5A);
  ExpectRequest(0xC2, 3, 0x40, 0x5A, 1, 5000);
}

TEST_F(EepromAccess, FailedTransfersGiveMinus16WithTheUsbErrorText) {
  FailRequest(0xC2, 2, zk::kUsbErrorPipe);
  FailRequest(0xC2, 3, zk::kUsbErrorPipe);
  CapturedLog log;
  EXPECT_EQ(zk_eeprom_peek(5), -16);
  EXPECT_EQ(zk_eeprom_poke(5, 1), -16);
  EXPECT_TRUE(Contains(log.text(), "[D] zk_eeprom_peek("));
  EXPECT_TRUE(Contains(log.text(), "[D] zk_eeprom_poke("));
  EXPECT_TRUE(Contains(log.text(), "): Pipe error\n"));
}

TEST_F(EepromAccess, EmptyPeekReplyIsAFailure) {
  ReplyLength(0xC2, 2, 0);
  CapturedLog log;
  EXPECT_EQ(zk_eeprom_peek(5), -16);
  EXPECT_TRUE(Contains(log.text(), "): Success\n"));
}

TEST_F(EepromAccess, SnapshotReadsEachByteOnceUntilAWriteOrTheEnd) {
  SetEeprom(7, 0x11);
  zk_begin_snapshot();
  zk_begin_snapshot();  // nested, as a listing inside a listing
  EXPECT_EQ(zk_eeprom_peek(7), 0x11);
  SetEeprom(7, 0x22);
  EXPECT_EQ(zk_eeprom_peek(7), 0x11);  // one moment, one read
  zk_end_snapshot();
  EXPECT_EQ(zk_eeprom_peek(7), 0x11);  // the outer snapshot still holds
  EXPECT_EQ(Requests(0xC2, 2).size(), 1u);
  ASSERT_EQ(zk_eeprom_poke(8, 1), 0);
  EXPECT_EQ(zk_eeprom_peek(7), 0x22);  // a write forgets
  zk_end_snapshot();
  EXPECT_EQ(zk_eeprom_peek(7), 0x22);
  EXPECT_EQ(Requests(0xC2, 2).size(), 3u);  // ended: every peek reads
}

TEST_F(EepromAccess, SnapshotKeepsNeitherFailedReadsNorAClosedReceiversBytes) {
  zk_begin_snapshot();
  FailRequest(0xC2, 2, zk::kUsbErrorPipe);
  EXPECT_EQ(zk_eeprom_peek(5), -16);
  bus().clear_faults();
  SetEeprom(5, 0x33);
  EXPECT_EQ(zk_eeprom_peek(5), 0x33);
  zk_close_device();
  SetEeprom(5, 0x44);
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  EXPECT_EQ(zk_eeprom_peek(5), 0x44);
  zk_end_snapshot();
}

TEST(EepromWithoutDevice, EveryCallRefuses) {
  CapturedLog log;
  EXPECT_EQ(zk_eeprom_peek(3), -19);
  EXPECT_EQ(zk_eeprom_poke(3, 0), -19);
  EXPECT_EQ(zk_set_product_corvane(), -19);
  EXPECT_EQ(zk_mfg_tested(), -19);
  EXPECT_EQ(zk_initialize_product(2), -19);
  EXPECT_EQ(zk_product_type(), -12);
  EXPECT_TRUE(Contains(log.text(), "): pointer to handle is invalid\n"));
  EXPECT_TRUE(Contains(log.text(), "[D] zk_product_type("));
  EXPECT_TRUE(Contains(log.text(), "): invalid operation for this device or version\n"));
}

TEST_F(EepromAccess, ProductTypeFromBits1And2OfByte3) {
  const std::pair<uint8_t, int> cases[] = {
      {0x04, ZK_PRODUCT_CORVANE},
      {0x06, ZK_PRODUCT_ZIRKO},
      {0x07, ZK_PRODUCT_ZIRKO},
      {0xFE, ZK_PRODUCT_ZIRKO},
      {0x00, -1},
      {0x02, -1},
  };
  for (auto [byte, type] : cases) {
    SetEeprom(kByteB, byte);
    EXPECT_EQ(zk_product_type(), type) << int{byte};
  }
}

TEST_F(EepromAccess, ProductTypeLogsTheVariant) {
  SetEeprom(kByteB, 0x04);
  {
    CapturedLog log;
    zk_product_type();
    EXPECT_TRUE(Contains(log.text(), "): variant: corvane\n"));
  }
  SetEeprom(kByteB, 0x06);
  {
    CapturedLog log;
    zk_product_type();
    EXPECT_TRUE(Contains(log.text(), "): variant: zirko\n"));
  }
  SetEeprom(kByteB, 0x02);
  CapturedLog log(ZK_LOG_WARNING);
  zk_product_type();
  EXPECT_TRUE(Contains(log.text(), "[E] zk_product_type("));
  EXPECT_TRUE(Contains(log.text(), "): unknown or unsupported variant\n"));
}

TEST_F(EepromAccess, ProductTypeReadFailureGivesMinus16) {
  FailRequest(0xC2, 2, zk::kUsbErrorIo);
  CapturedLog log(ZK_LOG_WARNING);
  EXPECT_EQ(zk_product_type(), -16);
  EXPECT_TRUE(Contains(log.text(), "): Error reading byte\n"));
}

TEST_F(EepromAccess, SetCorvaneRewritesOnlyTheVariantBits) {
  const std::pair<uint8_t, uint8_t> cases[] = {{0xFF, 0xFD}, {0x00, 0x04}, {0x06, 0x04}};
  for (auto [before, after] : cases) {
    SetEeprom(kByteB, before);
    EXPECT_EQ(zk_set_product_corvane(), 0);
    EXPECT_EQ(Eeprom(kByteB), after) << int{before};
  }
}

TEST_F(EepromAccess, TestedMarkClearsBit0Only) {
  const std::pair<uint8_t, uint8_t> cases[] = {{0xFF, 0xFE}, {0xFE, 0xFE}};
  for (auto [before, after] : cases) {
    SetEeprom(kByteB, before);
    EXPECT_EQ(zk_mfg_tested(), 0);
    EXPECT_EQ(Eeprom(kByteB), after) << int{before};
  }
  ExpectRequest(0xC2, 3, kByteB, 0xFE, 1, 5000);
}

TEST_F(EepromAccess, FailedReadWritesNothing) {
  FailRequest(0xC2, 2, zk::kUsbErrorIo);
  CapturedLog log(ZK_LOG_WARNING);
  EXPECT_EQ(zk_set_product_corvane(), -16);
  EXPECT_EQ(zk_mfg_tested(), -16);
  EXPECT_TRUE(Contains(log.text(), "[E] zk_set_product_corvane("));
  EXPECT_TRUE(Contains(log.text(), "[E] zk_mfg_tested("));
  EXPECT_TRUE(Contains(log.text(), "): Error reading byte\n"));
  ExpectNoRequest(0xC2, 3);
}

TEST_F(EepromAccess, FailedWriteGivesTheWritesCode) {
  FailRequest(0xC2, 3, zk::kUsbErrorIo);
  CapturedLog log(ZK_LOG_WARNING);
  EXPECT_EQ(zk_set_product_corvane(), -16);
  EXPECT_TRUE(Contains(log.text(), "): failed to update settings\n"));
}

TEST_F(EepromAccess, InitializeStandardProductSendsNothing) {
  EXPECT_EQ(zk_initialize_product(ZK_PRODUCT_ZIRKO), 0);
  ExpectNoTransfers();
}

TEST_F(EepromAccess, InitializeCorvaneSetsTheVariant) {
  SetEeprom(kByteB, 0x06);
  EXPECT_EQ(zk_initialize_product(ZK_PRODUCT_CORVANE), 0);
  EXPECT_EQ(Eeprom(kByteB), 0x04);
}

TEST_F(EepromAccess, InitializeUnknownTypeLogsAndAnswers0) {
  CapturedLog log(ZK_LOG_WARNING);
  EXPECT_EQ(zk_initialize_product(7), 0);
  EXPECT_TRUE(Contains(log.text(), "[E] zk_initialize_product("));
  EXPECT_TRUE(Contains(log.text(), "): Unknown Product ID\n"));
  ExpectNoTransfers();
}

}  // namespace
