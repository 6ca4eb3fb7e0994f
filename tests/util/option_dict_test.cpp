// Option dictionary: buckets, replacement, serialized form and reconstruction
// from well-formed and malformed buffers.
#include "option_dict.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "captured_output.h"

namespace {

struct DictDeleter {
  void operator()(dict *d) const { delete_dict(d); }
};
using DictPtr = std::unique_ptr<dict, DictDeleter>;

using Bytes = std::vector<unsigned char>;

// One serialized record, laid out by hand.
Bytes record(uint32_t datalen, uint32_t keylen, const std::string &payload) {
  Bytes out(8 + payload.size());
  memcpy(out.data(), &datalen, 4);
  memcpy(out.data() + 4, &keylen, 4);
  memcpy(out.data() + 8, payload.data(), payload.size());
  return out;
}

Bytes operator+(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string value_of(const dict *d, const char *key) {
  uint32_t length = 0;
  const char *value = static_cast<const char *>(dict_get(d, key, &length));
  return value ? std::string(value, length) : "<absent>";
}

// Keys in serialized order.
std::vector<std::string> keys_of(const Bytes &buffer) {
  std::vector<std::string> keys;
  for (size_t offset = 0; offset < buffer.size();) {
    const kvpair *kv = reinterpret_cast<const kvpair *>(buffer.data() + offset);
    keys.emplace_back(kvpair_key(kv));
    offset += 8 + kvpair_datalen(kv);
  }
  return keys;
}

Bytes serialized(const dict *d) {
  size_t length = 0;
  void *raw = dict_serialize(d, &length);
  EXPECT_NE(raw, nullptr);
  Bytes out(static_cast<unsigned char *>(raw), static_cast<unsigned char *>(raw) + length);
  free(raw);
  return out;
}

int released = 0;
void count_release(void *) {
  ++released;
}

}  // namespace

TEST(DictBucket, SevenTimesCharacterTimesPositionModuloSixteen) {
  EXPECT_EQ(dict_bucket("a"), 7u);   // 97 * 7 = 679
  EXPECT_EQ(dict_bucket("ab"), 3u);  // 679 + 98 * 7 * 2 = 2051
  EXPECT_EQ(dict_bucket(""), 0u);
  EXPECT_EQ(dict_bucket("\xff"), 9u);  // signed: -7, whose low four bits are 9
  EXPECT_EQ(dict_bucket("q"), dict_bucket("a"));
}

TEST(DictSet, SameKeyTwiceKeepsOneEntryWithTheSecondValue) {
  DictPtr d(new_dict());
  ASSERT_TRUE(d);
  dict_set(d.get(), "wait", "10", 3);
  void *stored = dict_set(d.get(), "wait", "250", 4);
  ASSERT_NE(dict_set(d.get(), "force", nullptr, 0), nullptr);
  EXPECT_EQ(d->entries, 2u);
  EXPECT_EQ(dict_serialized_size(d.get()), size_t(8 + 5 + 4 + 8 + 6));
  EXPECT_EQ(value_of(d.get(), "wait"), std::string("250", 4));
  EXPECT_EQ(dict_get(d.get(), "wait", nullptr), stored);
  EXPECT_EQ(value_of(d.get(), "force"), "");
  EXPECT_EQ(dict_has(d.get(), "forc"), 0);
}

TEST(DictRemove, UnlinksFromAnyPositionInABucket) {
  // "!", "q" and "a" all fall in bucket 7.
  DictPtr d(new_dict());
  for (const char *key : {"a", "q", "!", "ab"}) dict_set(d.get(), key, key, strlen(key) + 1);
  dict_remove(d.get(), "q");  // middle of the bucket
  dict_remove(d.get(), "zz");
  EXPECT_EQ(d->entries, 3u);
  EXPECT_EQ(keys_of(serialized(d.get())), (std::vector<std::string>{"ab", "!", "a"}));
  dict_remove(d.get(), "!");  // front of the bucket
  dict_remove(d.get(), "a");  // back of the bucket
  EXPECT_EQ(keys_of(serialized(d.get())), (std::vector<std::string>{"ab"}));
  EXPECT_EQ(d->entries, 1u);
}

TEST(DictSerialize, RecordsAreHeaderKeyValueInBucketOrderNewestFirst) {
  DictPtr d(new_dict());
  dict_set(d.get(), "a", "bar", 4);
  dict_set(d.get(), "ab", nullptr, 0);
  dict_set(d.get(), "q", "", 1);
  Bytes expected = record(3, 3, std::string("ab\0", 3)) + record(3, 2, std::string("q\0\0", 3)) +
                   record(6, 2, std::string("a\0bar\0", 6));
  EXPECT_EQ(dict_serialized_size(d.get()), expected.size());
  EXPECT_EQ(serialized(d.get()), expected);
}

TEST(DictSerialize, EmptyDictHasLengthZeroAndComesBackEmpty) {
  DictPtr d(new_dict());
  EXPECT_EQ(serialized(d.get()), Bytes{});
  DictPtr back(dict_deserialize(nullptr, 0)), indexed(dict_for_buf(nullptr, 0, nullptr));
  ASSERT_TRUE(back && indexed);
  EXPECT_EQ(back->entries + indexed->entries, 0u);
}

TEST(DictDeserialize, CopiesKeysAndValuesLaterDuplicatesWin) {
  DictPtr d(new_dict());
  dict_set(d.get(), "wait", "100", 4);
  dict_set(d.get(), "force", nullptr, 0);
  Bytes buffer = serialized(d.get());
  DictPtr back(dict_deserialize(buffer.data(), buffer.size()));
  ASSERT_TRUE(back);
  std::fill(buffer.begin(), buffer.end(), 0);  // the copy must not depend on it
  EXPECT_EQ(back->entries, 2u);
  EXPECT_EQ(value_of(back.get(), "wait"), std::string("100", 4));
  EXPECT_EQ(value_of(back.get(), "force"), "");

  // A later record with the same key replaces the earlier one.
  buffer = record(4, 2, std::string("k\0v1", 4)) + record(4, 2, std::string("k\0v2", 4));
  back.reset(dict_deserialize(buffer.data(), buffer.size()));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->entries, 1u);
  EXPECT_EQ(value_of(back.get(), "k"), "v2");
}

TEST(DictDeserialize, MalformedBuffersAreRejected) {
  Bytes good = record(4, 2, std::string("k\0v1", 4));
  struct Case {
    const char *what;
    Bytes buffer;
  } cases[] = {
      {"last record claims more than remains", good + record(9, 2, std::string("x\0abc", 5))},
      {"keylen above datalen", record(2, 3, std::string("ab"))},
      {"header cut short", good + Bytes{1, 0, 0}},
      {"datalen near the 32-bit limit", record(0xFFFFFFFF, 2, std::string("k\0", 2))},
      {"empty keylen", record(1, 0, std::string("v"))},
      {"key without its NUL", record(3, 2, std::string("kkv"))},
      {"key with an inner NUL", record(3, 3, std::string("k\0k", 3))},
  };
  for (const Case &c : cases) {
    zk::test::CapturedOutput err(stderr);
    EXPECT_EQ(dict_deserialize(c.buffer.data(), c.buffer.size()), nullptr) << c.what;
    std::string log = err.text();
    EXPECT_EQ(log.rfind("[E] dict_deserialize(", 0), 0u) << log;
    EXPECT_NE(log.find("): deserialize sanity check failed\n"), std::string::npos) << log;

    released = 0;
    zk::test::CapturedOutput refusal(stderr);
    Bytes copy = c.buffer;
    EXPECT_EQ(dict_for_buf(copy.data(), copy.size(), count_release), nullptr) << c.what;
    EXPECT_EQ(refusal.text().rfind("[E] dict_for_buf(", 0), 0u);
    EXPECT_EQ(released, 0) << c.what << ": a rejected buffer stays the caller's";
  }
}

TEST(DictForBuf, IndexesRecordsInPlaceAndReleasesThroughCallerFunction) {
  // Records of odd size, so the second one starts unaligned.
  Bytes buffer = record(5, 2, std::string("k\0old", 5)) + record(3, 2, std::string("j\0x", 3)) +
                 record(5, 2, std::string("k\0new", 5));
  released = 0;
  dict *d = dict_for_buf(buffer.data(), buffer.size(), count_release);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(released, 1);  // the replaced "k"
  EXPECT_EQ(d->entries, 2u);
  EXPECT_EQ(value_of(d, "k"), "new");
  EXPECT_EQ(value_of(d, "j"), "x");
  unsigned char *value = static_cast<unsigned char *>(dict_get(d, "j", nullptr));
  EXPECT_EQ(value, buffer.data() + 13 + 8 + 2);
  delete_dict(d);
  EXPECT_EQ(released, 3);

  DictPtr unowned(dict_for_buf(buffer.data(), buffer.size(), nullptr));
  ASSERT_TRUE(unowned);
  EXPECT_EQ(value_of(unowned.get(), "k"), "new");
}
