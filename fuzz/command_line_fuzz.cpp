// The command line of zirko_util: the tokenizer that splits a line into
// words, option parsing into the option dictionary for every command, the
// chain runner, and the dictionary's serialized form read back from raw bytes.
#include <cstdint>
#include <cstring>
#include <string>

#include "cmd.h"
#include "commands.h"
#include "fuzz_support.h"

namespace {

// Claims (length of its first argument) % 4 - 1 words, so that chains go on,
// skip words, run past the end and fail where the input says.
int claim_words(int argc, char **argv, const cmd_desc *, void *, dict *) {
  return argc == 0 ? 0 : int(strlen(argv[0]) % 4) - 1;
}

const cmd_option kOptions[] = {
    {"verbose", "both forms", 'v', "verbose"},
    {"color", "long form only", 0, "color"},
    {"quiet", "short form only", 'q', nullptr},
    {nullptr, nullptr, 0, nullptr},
};

const cmd_desc kHarnessCommands[] = {
    {"fz_opts", claim_words, "fuzz harness", "usage: fz_opts", kOptions},
    {"fz_plain", claim_words, "fuzz harness", "usage: fz_plain", nullptr},
};
const bool registered = register_cmds(kHarnessCommands, 2);

// Chains may run only commands that touch no receiver and no file.
bool chain_is_harmless(char **words, int count) {
  for (int i = 0; i < count; ++i) {
    const cmd_desc *cmd = find_cmd(words[i]);
    if (cmd && cmd->handler != claim_words && strcmp(cmd->name, "help") != 0) return false;
  }
  return true;
}

// Both dictionaries hold the same keys with the same values.
void expect_same_entries(const dict *expected, const dict *actual, const char *what) {
  if (!actual) zk::fuzz::fail("%s: no dictionary", what);
  if (actual->entries != expected->entries)
    zk::fuzz::fail("%s: %u entries instead of %u", what, actual->entries, expected->entries);
  for (const kvpair_mgr *head : expected->buckets) {
    for (const kvpair_mgr *node = head; node; node = node->next) {
      uint32_t want = 0, got = 0;
      const char *key = kvpair_key(node->kv);
      const void *value = dict_get(expected, key, &want);
      const void *copy = dict_get(actual, key, &got);
      if (!copy || got != want || memcmp(copy, value, want) != 0)
        zk::fuzz::fail("%s: the value of \"%s\" differs", what, key);
    }
  }
}

// Serialized and read back (copied and in place), the options are the same.
void check_round_trip(const dict *opts) {
  size_t length = 0;
  void *buffer = dict_serialize(opts, &length);
  if (!buffer) zk::fuzz::fail("dict_serialize failed");
  if (length != dict_serialized_size(opts)) zk::fuzz::fail("serialized size disagrees");
  dict *copy = dict_deserialize(buffer, length);
  expect_same_entries(opts, copy, "dict_deserialize");
  delete_dict(copy);
  dict *view = dict_for_buf(buffer, length, nullptr);
  expect_same_entries(opts, view, "dict_for_buf");
  delete_dict(view);
  free(buffer);
}

void parse_options(char **words, int count) {
  const cmd_node *head = cmd_list();
  for (const cmd_node *n = head->next; n != head; n = n->next) {
    int index = 0;
    dict *opts = cmd_getopt(n->desc, count, words, index);
    if (!opts) zk::fuzz::fail("cmd_getopt failed");
    if (index < 0 || index > count)
      zk::fuzz::fail("cmd_getopt moved to word %d of %d", index, count);
    check_round_trip(opts);
    delete_dict(opts);
  }
}

void tokenize_and_run(const uint8_t *data, size_t size) {
  std::string line(reinterpret_cast<const char *>(data), size);
  char *words[CMD_MAX_WORDS + 1];
  const int count = tokenize_cmd_string(line.data(), words, CMD_MAX_WORDS);
  if (count < 0 || count > CMD_MAX_WORDS || words[count] != nullptr)
    zk::fuzz::fail("tokenizer gave %d words", count);
  const char *end = line.data() + line.size();
  for (int i = 0; i < count; ++i)
    if (words[i] < line.data() || words[i] + strlen(words[i]) > end)
      zk::fuzz::fail("word %d lies outside the line", i);
  parse_options(words, count);
  for (int i = 0; i < count; ++i) {
    int value = 0;
    parse_int("fuzz", words[i], 10, &value);
    parse_int("fuzz", words[i], 16, &value);
  }
  if (count > 0 && chain_is_harmless(words, count)) run_cmds(count, words, nullptr);
}

// Raw bytes as a serialized dictionary: the copying and the in-place reader
// accept and refuse the same buffers, and agree on what they hold.
void deserialize(const uint8_t *data, size_t size) {
  std::string bytes(reinterpret_cast<const char *>(data), size);
  dict *copy = dict_deserialize(bytes.data(), bytes.size());
  dict *view = dict_for_buf(bytes.data(), bytes.size(), nullptr);
  if (!copy != !view) zk::fuzz::fail("dict_deserialize and dict_for_buf disagree");
  if (copy) expect_same_entries(copy, view, "raw buffer");
  delete_dict(copy);
  delete_dict(view);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  zk::fuzz::buffer_discarded_output(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  (void)registered;
  tokenize_and_run(data, size);
  deserialize(data, size);
  return 0;
}
