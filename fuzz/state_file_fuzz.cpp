// The virtual receiver's state file: any text either parses or names the
// line that is wrong, and a parsed state written out reads back the same.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "state_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  zk::virt::StateFileError error;
  const auto state = zk::virt::parse_state(text, &error);
  if (!state) {
    if (error.line < 1) zk::fuzz::fail("refused without naming a line");
    return 0;
  }
  const std::string written = zk::virt::format_state(*state);
  zk::virt::StateFileError reread_error;
  const auto reread = zk::virt::parse_state(written, &reread_error);
  if (!reread)
    zk::fuzz::fail("a written state does not read back: line %d: %s", reread_error.line,
                   reread_error.message.c_str());
  if (zk::virt::format_state(*reread) != written)
    zk::fuzz::fail("a written state reads back different");
  return 0;
}
