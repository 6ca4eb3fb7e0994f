// zirko-mkimage: writes a firmware image for the virtual receiver.
//
//   zirko-mkimage --version 3.8 [--date 12-01-26] [--hash 0x1234abcd]
//                 [--size 12288] [--generation N] [--corrupt] out.bin
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>

#include "image.h"
#include "state_file.h"

namespace {

using zk::virt::ImageInfo;

constexpr const char *kUsage =
    "usage: zirko-mkimage --version MAJOR.MINOR [--date AA-BB-CC] [--hash N]\n"
    "                     [--size BYTES] [--generation 1|2|3] [--corrupt] FILE\n"
    "Writes a firmware image for the virtual receiver. The date is three numbers\n"
    "as the version reply carries them (default: today, MM-DD-YY); the size is a\n"
    "multiple of 128 up to 14336 (default 12288); the generation defaults to the\n"
    "one the version implies; --corrupt spoils the checksum so that the receiver\n"
    "refuses to start the image.\n";

// "3.8" or "12-01-26": `count` numbers 0-255 joined by `separator`.
bool bytes(const std::string &text, char separator, uint8_t *out, int count) {
  size_t start = 0;
  for (int i = 0; i < count; ++i) {
    size_t end = i + 1 < count ? text.find(separator, start) : text.size();
    if (end == std::string::npos) return false;
    auto value = zk::virt::parse_number(text.substr(start, end - start), 255);
    if (!value) return false;
    out[i] = static_cast<uint8_t>(*value);
    start = end + 1;
  }
  return true;
}

void today(ImageInfo &info) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  info.version.date = {static_cast<uint8_t>(local.tm_mon + 1), static_cast<uint8_t>(local.tm_mday),
                       static_cast<uint8_t>(local.tm_year % 100)};
}

int fail(const std::string &message) {
  std::fprintf(stderr, "zirko-mkimage: %s\n%s", message.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  ImageInfo info;
  today(info);
  uint64_t size = 12288;
  bool have_version = false, corrupt = false;
  const char *path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--corrupt") {
      corrupt = true;
      continue;
    }
    if (arg.rfind("--", 0) != 0) {
      if (path) return fail("more than one output file");
      path = argv[i];
      continue;
    }
    if (i + 1 >= argc) return fail(arg + " needs a value");
    const std::string value = argv[++i];
    uint8_t parts[3];
    if (arg == "--version") {
      if (!bytes(value, '.', parts, 2)) return fail("bad version \"" + value + "\"");
      info.version.major = parts[0];
      info.version.minor = parts[1];
      have_version = true;
    } else if (arg == "--date") {
      if (!bytes(value, '-', parts, 3)) return fail("bad date \"" + value + "\"");
      std::copy(parts, parts + 3, info.version.date.begin());
    } else if (arg == "--hash") {
      auto hash = zk::virt::parse_number(value, 0xFFFFFFFFu);
      if (!hash) return fail("bad hash \"" + value + "\"");
      info.scm_hash = static_cast<uint32_t>(*hash);
    } else if (arg == "--size") {
      auto bytes = zk::virt::parse_number(value, uint64_t{1} << 24);
      if (!bytes) return fail("bad size \"" + value + "\"");
      if (const char *problem = zk::virt::image_size_problem(*bytes)) return fail(problem);
      size = *bytes;
    } else if (arg == "--generation") {
      auto generation = zk::virt::parse_number(value, 3);
      if (!generation || *generation == 0) return fail("the generation is 1, 2 or 3");
      info.generation = static_cast<int>(*generation);
    } else {
      return fail("unknown option " + arg);
    }
  }
  if (!have_version) return fail("--version is required");
  if (!path) return fail("no output file");
  std::vector<uint8_t> image = zk::virt::make_image(info, size);
  if (corrupt) image.back() ^= 0xFF;
  FILE *out = std::fopen(path, "wb");
  if (!out) return fail(std::string(path) + ": " + std::strerror(errno));
  const bool written = std::fwrite(image.data(), 1, image.size(), out) == image.size();
  if (std::fclose(out) != 0 || !written) return fail(std::string(path) + ": write failed");
  return 0;
}
