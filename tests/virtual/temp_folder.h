// A folder of the test's own under /tmp, removed with all it holds.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace zk::virt::test {

struct TempFolder {
  std::string path;
  TempFolder() {
    char pattern[] = "/tmp/zk_virtual_XXXXXX";
    if (mkdtemp(pattern)) path = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
  TempFolder(const TempFolder &) = delete;
  TempFolder &operator=(const TempFolder &) = delete;
};

}  // namespace zk::virt::test
