// The history store: what it keeps, how far back, what it does when it
// cannot be written, and putting an entry back on a receiver.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "captured_output.h"
#include "receiver_test.h"
#include "zirko_history.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

// An image of n buttons whose hashes start at `first`.
Bytes ImageOf(int n, int first = 0) {
  Bytes image{0, 0, 0x36, 0x06, 0};
  for (int i = 0; i < n; ++i)
    image.insert(image.end(), {uint8_t(first + i), uint8_t((first + i) >> 8), 0xE2, 0xE3, 0, 4});
  image[0] = uint8_t(image.size() >> 8);
  image[1] = uint8_t(image.size());
  return image;
}

class History : public zk::test::HistoryStoreTest {
 protected:
  int Keep(const Bytes &image, const char *change = "test") {
    return zk_history_keep(image.data(), int(image.size()), change);
  }
  Bytes EntryImage(int n) {
    Bytes image(1024);
    const int length = zk_history_image(n, image.data(), int(image.size()));
    image.resize(length > 0 ? size_t(length) : 0);
    return image;
  }
  fs::path Folder() const { return fs::path(state_) / "zirko" / "history"; }
};

TEST_F(History, KeepsTheNewestHundredOnceEachNewestFirst) {
  EXPECT_EQ(zk_history_count(), 0);
  EXPECT_EQ(Keep(ImageOf(1), "first"), 1);
  EXPECT_EQ(Keep(ImageOf(1), "same again"), 0);  // identical to the newest: stored once
  EXPECT_EQ(zk_history_count(), 1);
  for (int i = 2; i <= 105; ++i) ASSERT_EQ(Keep(ImageOf(1 + i % 3, i), "more"), 1) << i;
  EXPECT_EQ(zk_history_count(), ZK_HISTORY_MAX_ENTRIES);
  EXPECT_EQ(EntryImage(1), ImageOf(1 + 105 % 3, 105));
  EXPECT_EQ(EntryImage(100), ImageOf(1 + 6 % 3, 6));
  int files = 0;
  for (const auto &e : fs::directory_iterator(Folder())) files += e.path().extension() == ".zcfg";
  EXPECT_EQ(files, ZK_HISTORY_MAX_ENTRIES) << "the dropped entries' files are gone";

  zk_history_entry e;
  ASSERT_EQ(zk_history_entry_at(1, &e), 0);
  EXPECT_STREQ(e.change, "more");
  EXPECT_EQ(e.buttons, 1);
  EXPECT_EQ(zk_history_entry_at(101, &e), ZK_ERR_INVALID);
  EXPECT_EQ(Keep({0, 9, 0, 0, 0}), ZK_ERR_INVALID) << "a header that lies is no image";
}

// Two programs keeping images at once lose none of each other's entries.
TEST_F(History, KeepingAtOnceLosesNoEntry) {
  auto keep_many = [this](int first) {
    for (int i = 0; i < 20; ++i) Keep(ImageOf(1, first + i));
  };
  std::thread other(keep_many, 1000);
  keep_many(2000);
  other.join();
  EXPECT_EQ(zk_history_count(), 40);
}

TEST_F(History, StoreThatCannotBeWrittenIsLeftAsItWas) {
  // A file where the folder should be: nothing can be written under it.
  std::ofstream(state_) << "not a folder";
  EXPECT_EQ(Keep(ImageOf(3)), ZK_ERR_FILE_IO);
  EXPECT_EQ(std::string(zk_history_error()), state_ + "/zirko: Not a directory");
  fs::remove(state_);
}

// Lines mended or spoilt by hand are passed over, and so is an entry whose
// file is gone; undo goes to the newest entry that differs from the receiver.
TEST_F(History, UndoPassesOverWhatCannotBeUsed) {
  ASSERT_EQ(Keep(ImageOf(1), "a"), 1);
  ASSERT_EQ(Keep(ImageOf(2), "b"), 1);
  ASSERT_EQ(Keep(ImageOf(3), "c"), 1);
  std::ofstream(Folder() / "index", std::ios::app)
      << "garbage line\n1\t2\t3\t4\t../escape.zcfg\tx\n";
  EXPECT_EQ(zk_history_count(), 3);
  const Bytes now = ImageOf(3);
  EXPECT_EQ(zk_history_undo_entry(now.data(), int(now.size())), 2);
  zk_history_entry e;
  ASSERT_EQ(zk_history_entry_at(2, &e), 0);
  fs::remove(Folder() / e.file);
  EXPECT_EQ(zk_history_undo_entry(now.data(), int(now.size())), 3);
  EXPECT_EQ(zk_history_image(2, nullptr, 0), -14);
}

// With two receivers, undo on one never puts back the other's configuration;
// an entry whose position was not known may be either's.
TEST_F(History, UndoTakesOnlyThisReceiversEntries) {
  SetImage(ImageOf(2));
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  const std::string here = zk_current_position();
  ASSERT_FALSE(here.empty());
  ASSERT_EQ(Keep(ImageOf(1), "mine"), 1);
  ASSERT_EQ(Keep(ImageOf(3), "other's"), 1);
  // The newest entry is made another receiver's, as if kept at 9-9.
  std::ifstream in(Folder() / "index");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  const size_t last = text.rfind(std::string("\t") + here + "\t");
  ASSERT_NE(last, std::string::npos);
  text.replace(last + 1, here.size(), "9-9");
  std::ofstream(Folder() / "index", std::ios::trunc) << text;

  const Bytes now = ImageOf(2);
  EXPECT_EQ(zk_history_undo_entry(now.data(), int(now.size())), 2) << "not the 9-9 entry";
  zk_close_device();
  EXPECT_EQ(zk_history_undo_entry(now.data(), int(now.size())), 1) << "no receiver: any entry";
}

// A restore keeps what it replaces and writes only what differs, size last;
// asked to stop, it stops between entries with the old size in place.
TEST_F(History, RestoreKeepsTheReplacedImageAndStopsBetweenEntries) {
  SetImage(ImageOf(2));
  ASSERT_EQ(OpenReceiver(), ZK_STATE_FIRMWARE);
  ASSERT_EQ(Keep(ImageOf(4)), 1);
  zk::test::CapturedOutput err(stderr);
  zk_request_stop();
  EXPECT_EQ(zk_history_restore(1, "restore 1"), ZK_ERR_INTERRUPTED);
  zk_clear_stop();
  EXPECT_EQ(Image(), ImageOf(2)) << "the size header still covers the two old entries";

  // The stopped restore kept the receiver's image first: it is entry 1 now.
  ClearTranscript();
  ASSERT_EQ(zk_history_restore(2, "restore 2"), 0);
  EXPECT_EQ(Image(), ImageOf(4));
  const auto writes = Requests(0xC2, 3);
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(writes.back().value, 1) << "the size header last";
  EXPECT_EQ(int(writes.size()), 2 * 6 + 1) << "the two new entries and the size's low byte";
  EXPECT_EQ(zk_history_count(), 2);
  EXPECT_EQ(EntryImage(1), ImageOf(2));
  err.text();
}

}  // namespace
