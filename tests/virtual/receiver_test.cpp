// The receiver model, driven through the bus as the library drives it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "bus_host.h"
#include "fake_clock.h"
#include "quiet_receiver.h"

namespace zk::virt {
namespace {

using namespace std::chrono_literals;

class ReceiverModel : public ::testing::Test {
 protected:
  static ReceiverState Quiet(int major = 3) {
    ReceiverState s = zk::test::QuietReceiverState();
    s.firmware.major = static_cast<uint8_t>(major);
    return s;
  }
  void Start(ReceiverState state) {
    receiver = &bus.add_receiver(std::move(state));
    ASSERT_TRUE(host.open());
  }
  void SetUp() override {
    if (!receiver) Start(Quiet());
  }
  int Record(uint8_t key, uint8_t modifier, uint32_t hash) {
    EXPECT_EQ(host.in(0xC0, 1, key, modifier, 1), 1);
    receiver->press(hash);
    return host.state();
  }
  int Delete(uint32_t hash) {
    EXPECT_EQ(host.in(0xC0, 2, 1, 0, 1), 1);
    receiver->press(hash);
    return host.state();
  }

  Bus bus;
  Receiver *receiver = nullptr;
  test::BusHost host{bus};
};

TEST_F(ReceiverModel, RecordAndDeleteGoThroughEveryOutcome) {
  EXPECT_EQ(host.state(), kStateIdle);
  ASSERT_EQ(host.in(0xC0, 1, 0x04, 0x02, 0), 0);  // no data stage asked, none sent
  EXPECT_EQ(host.state(), kStateWaiting);
  receiver->press(0x11223344);
  EXPECT_EQ(host.state(), kStateDone);
  // The entry: hash low byte first, modifier, key.
  EXPECT_EQ(host.size(), 11);
  const int entry[] = {0x44, 0x33, 0x22, 0x11, 0x02, 0x04};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(host.peek(5 + i), entry[i]) << i;

  EXPECT_EQ(Record(0x05, 0, 0x11223344), kStateExists);
  EXPECT_EQ(host.size(), 11);
  EXPECT_EQ(Delete(0x99), kStateNotFound);
  EXPECT_EQ(Record(0x05, 0, 0x55), kStateDone);
  EXPECT_EQ(Delete(0x11223344), kStateDone);
  // The later entry moved down into the freed place.
  EXPECT_EQ(host.size(), 11);
  EXPECT_EQ(host.peek(5), 0x55);
  EXPECT_EQ(host.peek(10), 0x05);

  EXPECT_EQ(host.byte(0xC0, 6, 1), 0);
  EXPECT_EQ(host.state(), kStateIdle);
}

TEST_F(ReceiverModel, NormalModeAbandonsTheWaitingOperation) {
  ASSERT_EQ(host.in(0xC0, 1, 0x04, 0, 1), 1);
  ASSERT_EQ(host.in(0xC0, 0, 0, 0, 1), 1);
  EXPECT_EQ(host.state(), kStateIdle);
  receiver->press(0x77);
  EXPECT_EQ(host.size(), 5);
  EXPECT_TRUE(receiver->key_reports().empty());
  // An outcome already reached stays readable until it is cleared.
  EXPECT_EQ(Record(0x04, 0, 0x77), kStateDone);
  ASSERT_EQ(host.in(0xC0, 0, 0, 0, 1), 1);
  EXPECT_EQ(host.state(), kStateDone);
}

TEST_F(ReceiverModel, FullImageHolds169ButtonsThenReportsNoSpace) {
  for (uint32_t i = 0; i < 169; ++i) ASSERT_EQ(Record(0x04, 0, 0x1000 + i), kStateDone) << i;
  EXPECT_EQ(host.size(), 5 + 6 * 169);
  EXPECT_EQ(Record(0x04, 0, 0x9999), kStateNoSpace);
  EXPECT_EQ(host.size(), 5 + 6 * 169);
  // A stored button is still "exists", not "no space".
  EXPECT_EQ(Record(0x04, 0, 0x1000), kStateExists);
  EXPECT_EQ(host.byte(0xC0, 3), 0);  // format
  EXPECT_EQ(host.size(), 5);
  EXPECT_EQ(host.peek(2), kDefaultSettingsA);  // settings survive a format
  EXPECT_EQ(host.peek(5), 0xFF);
}

TEST_F(ReceiverModel, CorruptSizeIsNeverWrittenPast) {
  receiver->edit([](ReceiverState &s) { s.set_image_size(1023); });
  EXPECT_EQ(Record(0x04, 0, 0x42), kStateNoSpace);
  EXPECT_EQ(Delete(0x42), kStateNotFound);
  EXPECT_EQ(host.size(), 1023);
  EXPECT_EQ(host.byte(0xC0, 3), 0);
  EXPECT_EQ(Record(0x04, 0, 0x42), kStateDone);
}

TEST_F(ReceiverModel, DeleteByKeyRemovesEveryButtonOfThatReport) {
  EXPECT_EQ(Record(0x04, 0, 1), kStateDone);
  EXPECT_EQ(Record(0x05, 0, 2), kStateDone);
  EXPECT_EQ(Record(0x04, 0, 3), kStateDone);
  EXPECT_EQ(Record(0x04, 0x02, 4), kStateDone);  // same key, other modifier
  std::vector<uint8_t> reply;
  ASSERT_EQ(host.in(0xC0, 4, 0x04, 0, 2, &reply), 2);
  EXPECT_EQ(reply[0], 2);
  EXPECT_EQ(host.size(), 17);
  EXPECT_EQ(host.peek(5), 2);
  EXPECT_EQ(host.peek(11), 4);
  ASSERT_EQ(host.in(0xC0, 4, 0x04, 0, 2, &reply), 2);
  EXPECT_EQ(reply[0], 0);
}

TEST_F(ReceiverModel, RecordedButtonTypesItsKeyInNormalMode) {
  EXPECT_EQ(Record(0x04, 0x02, 0xABCD), kStateDone);
  receiver->press(0xABCD);
  receiver->press(0xEEEE);  // not recorded: types nothing
  EXPECT_EQ(receiver->key_reports(), (std::vector<KeyReport>{{0xABCD, 0x04, 0x02}}));
}

// What a person's press does depends on what the receiver is doing; only a
// typed key reaches the programs that follow the keys.
TEST_F(ReceiverModel, APressIsTakenTypedOrQueued) {
  EXPECT_EQ(Record(0x66, 0xE9, 0xABCD), kStateDone);
  using P = Receiver::Pressed;
  EXPECT_EQ(receiver->press_button(0xABCD).outcome, P::kTyped);
  EXPECT_EQ(receiver->press_button(0x5555).outcome, P::kQueued);
  // The queued button is what the next wait records.
  ASSERT_EQ(host.in(0xC0, 1, 0x04, 0, 1), 1);
  EXPECT_EQ(host.state(), kStateDone);
  ASSERT_EQ(host.in(0xC0, 1, 0x05, 0, 1), 1);
  EXPECT_EQ(receiver->press_button(0xABCD).outcome, P::kTaken);
  EXPECT_EQ(host.state(), kStateExists);
  ASSERT_EQ(host.in(0xC0, 0, 0, 0, 1), 1);
  receiver->unplug();
  EXPECT_EQ(receiver->press_button(0xABCD).outcome, P::kQueued);
  EXPECT_EQ(receiver->key_reports(), (std::vector<KeyReport>{{0xABCD, 0x66, 0xE9}}));
}

// The log of sent keys keeps the latest ones and counts them all, so a
// program that looked last after `seen` keys gets exactly the newer ones.
TEST_F(ReceiverModel, SentKeysAreBoundedAndFollowedByCount) {
  EXPECT_EQ(Record(0x04, 0, 0xA), kStateDone);
  const uint64_t start = receiver->keys_sent_after(0).total;
  for (int i = 0; i < 20; ++i) receiver->press(0xA);
  const auto all = receiver->keys_sent_after(start);
  EXPECT_EQ(all.total, start + 20);
  EXPECT_EQ(all.reports.size(), kSentKeysKept);
  EXPECT_EQ(receiver->keys_sent_after(all.total - 3).reports.size(), 3u);
  EXPECT_TRUE(receiver->keys_sent_after(all.total).reports.empty());
  // A count above what it sent (a receiver that lost power): all it keeps is new.
  EXPECT_EQ(receiver->keys_sent_after(all.total + 5).reports.size(), kSentKeysKept);
  EXPECT_TRUE(all.present);
}

TEST_F(ReceiverModel, SettingsTakeEffectWhenApplied) {
  ASSERT_EQ(host.in(0xC2, 3, 2, 0x21), 1);  // delay 1, sensitivity 2
  EXPECT_EQ(receiver->active_settings().first, kDefaultSettingsA);
  ASSERT_EQ(host.in(0xC2, 7), 1);
  EXPECT_EQ(receiver->active_settings().first, 0x21);
  EXPECT_EQ(host.byte(0xC0, 7, 1), 0);
  EXPECT_EQ(host.peek(3), kDefaultSettingsB | 0x80);
  EXPECT_EQ(host.byte(0xC0, 7, 2), kUsbErrorPipe);
  EXPECT_EQ(host.peek(1024), kUsbErrorPipe);
}

TEST_F(ReceiverModel, RepliesCarryVersionsAndHash) {
  receiver->edit([](ReceiverState &s) {
    s.firmware = {3, 7, {5, 14, 19}};
    s.scm_hash = 0xDEADBEEF;
  });
  std::vector<uint8_t> reply;
  ASSERT_EQ(host.in(0xC2, 1, 0, 0, 8, &reply), 8);
  EXPECT_EQ(reply, (std::vector<uint8_t>{3, 7, 5, 14, 19, 0, 0, 0}));
  ASSERT_EQ(host.in(0xC2, 12, 0, 0, 8, &reply), 8);
  EXPECT_EQ(reply, (std::vector<uint8_t>{0xEF, 0xBE, 0xAD, 0xDE, 0, 0, 0, 0}));
  // The receiver honours wLength.
  ASSERT_EQ(host.in(0xC2, 1, 0, 0, 2, &reply), 2);
}

TEST_F(ReceiverModel, QueuedAndAutomaticPressesArriveWhileWaiting) {
  receiver->edit([](ReceiverState &s) {
    s.press_delay_ms = 500;
    s.auto_press = true;
    s.presses = {0x1234};
  });
  ASSERT_EQ(host.in(0xC0, 1, 0x04, 0, 1), 1);
  EXPECT_EQ(host.state(), kStateWaiting);  // not before the delay
  std::this_thread::sleep_for(550ms);
  EXPECT_EQ(host.state(), kStateDone);
  EXPECT_EQ(host.peek(5), 0x34);
  // Queue empty: a fresh button, never one already stored.
  ASSERT_EQ(host.in(0xC0, 1, 0x05, 0, 1), 1);
  std::this_thread::sleep_for(550ms);
  EXPECT_EQ(host.state(), kStateDone);
  EXPECT_EQ(host.size(), 17);
  EXPECT_TRUE(receiver->snapshot().presses.empty());
}

class Generation1 : public ReceiverModel {
 protected:
  void SetUp() override { Start(Quiet(1)); }
  // Reads the outcome on another thread, as the application's worker does.
  std::future<std::pair<int, int>> Wait(unsigned int timeout_ms = 0) {
    return std::async(std::launch::async, [this, timeout_ms] {
      unsigned char byte = 0xEE;
      int transferred = -1;
      int rc = bus.interrupt_transfer(host.handle, 0x83, &byte, 1, &transferred, timeout_ms);
      return std::pair{rc, rc == 0 ? int{byte} : -1};
    });
  }
  static bool Blocked(std::future<std::pair<int, int>> &f) {
    return f.wait_for(50ms) == std::future_status::timeout;
  }
};

TEST_F(Generation1, OutcomeByteArrivesOnInterruptEndpoint) {
  EXPECT_EQ(host.state(), kUsbErrorPipe);  // no state request
  ASSERT_EQ(host.in(0xC0, 1, 0x04, 0, 1), 1);
  auto wait = Wait();
  ASSERT_TRUE(Blocked(wait));
  // The control pipe is served while the read blocks.
  EXPECT_EQ(host.peek(1), 5);
  receiver->press(0x10);
  EXPECT_EQ(wait.get(), std::pair(0, int{kOutcomeSuccess}));

  ASSERT_EQ(host.in(0xC0, 1, 0x04, 0, 1), 1);
  receiver->press(0x10);  // outcome kept until read
  EXPECT_EQ(Wait().get(), std::pair(0, int{kOutcomeExists}));
  ASSERT_EQ(host.in(0xC0, 2, 1, 0, 1), 1);
  receiver->press(0x20);
  EXPECT_EQ(Wait().get(), std::pair(0, int{kOutcomeNotFound}));
  receiver->edit([](ReceiverState &s) { s.set_image_size(5 + 6 * 169); });
  ASSERT_EQ(host.in(0xC0, 1, 0x04, 0, 1), 1);
  receiver->press(0x30);
  EXPECT_EQ(Wait().get(), std::pair(0, int{kOutcomeNoSpace}));
}

TEST_F(Generation1, NormalModeDropsTheOutcomeAndTheReadWaitsOn) {
  ASSERT_EQ(host.in(0xC0, 1, 0x04, 0, 1), 1);
  auto wait = Wait();
  ASSERT_TRUE(Blocked(wait));
  ASSERT_EQ(host.in(0xC0, 0, 0, 0, 1), 1);
  receiver->press(0x10);
  EXPECT_TRUE(Blocked(wait));
  // An unread outcome is dropped by normal mode too.
  ASSERT_EQ(host.in(0xC0, 1, 0x04, 0, 1), 1);
  receiver->press(0x11);
  ASSERT_EQ(wait.get(), std::pair(0, int{kOutcomeSuccess}));
  ASSERT_EQ(host.in(0xC0, 1, 0x04, 0, 1), 1);
  receiver->press(0x12);
  ASSERT_EQ(host.in(0xC0, 0, 0, 0, 1), 1);
  EXPECT_EQ(Wait(50).get().first, kUsbErrorTimeout);
}

TEST_F(Generation1, UnplugEndsTheBlockedRead) {
  ASSERT_EQ(host.in(0xC0, 2, 1, 0, 1), 1);
  auto wait = Wait();
  ASSERT_TRUE(Blocked(wait));
  receiver->unplug();
  EXPECT_EQ(wait.get().first, kUsbErrorNoDevice);
  const auto t = bus.transcript().back();
  EXPECT_EQ(t.kind, Transfer::Kind::kInterrupt);
  EXPECT_EQ(t.endpoint, 0x83);
  EXPECT_EQ(t.result, kUsbErrorNoDevice);
}

TEST_F(Generation1, AutomaticPressCompletesABlockedRead) {
  receiver->edit([](ReceiverState &s) {
    s.auto_press = true;
    s.press_delay_ms = 20;
  });
  ASSERT_EQ(host.in(0xC0, 1, 0x04, 0, 1), 1);
  EXPECT_EQ(Wait().get(), std::pair(0, int{kOutcomeSuccess}));
  EXPECT_EQ(host.size(), 11);
}

// A receiver that leaves late stays on the bus, answering in its old mode,
// until the leave delay has passed; then it is away for the re-enumeration
// delay. The clock moves only when someone waits.
TEST(HardwareTiming, ModeSwitchLeavesTheBusLate) {
  zk::test::FakeClock clock;
  Bus bus;
  ReceiverState s = zk::test::QuietReceiverState();
  s.leave_delay_ms = 300;
  s.reenumerate_delay_ms = 100;
  bus.add_receiver(s);
  test::BusHost host{bus};
  ASSERT_TRUE(host.open());
  EXPECT_EQ(host.in(0xC2, 5, 0x5A), kUsbErrorIo);  // it restarts instead of answering
  zk::test::FakeClock::advance(299);
  EXPECT_EQ(host.peek(1), 5);
  EXPECT_EQ(host.in(0xC2, 6), kUsbErrorIo);  // already on its way out
  zk::test::FakeClock::advance(1);
  EXPECT_EQ(host.peek(1), kUsbErrorNoDevice);
  host.close();
  EXPECT_FALSE(host.open());
  zk::test::FakeClock::advance(100);
  ASSERT_TRUE(host.open());
  EXPECT_EQ(host.string(host.handle, 2), "bootldr");
}

}  // namespace
}  // namespace zk::virt
