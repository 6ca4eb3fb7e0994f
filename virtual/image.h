// Firmware images of the virtual receiver. Real images are opaque to the
// host; ours carry a small header that the virtual bootloader reads to know
// what firmware it has just been given:
//
//   0   4  magic "ZKFW"
//   4   1  header format (1)
//   5   1  major version      6  1  minor version
//   7   3  date bytes, as the version reply carries them
//   10  1  protocol generation (0: follows the version)
//   11  1  reserved (0)
//   12  4  source-control hash, little-endian
//   16  4  image length in bytes, little-endian (a multiple of 128)
//   20  4  CRC-32 of the whole image with these four bytes taken as 0
//   24  8  reserved (0)
//
// The rest is filler that looks like code and is fixed by the header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "receiver_state.h"

namespace zk::virt {

inline constexpr int kFlashPageSize = 128;
inline constexpr int kFlashSize = 16384;
inline constexpr int kBootloaderReserve = 2048;  // top of flash, not writable by uploads
inline constexpr int kApplicationSize = kFlashSize - kBootloaderReserve;
inline constexpr int kImageHeaderSize = 32;

struct ImageInfo {
  Version version;
  int generation = 0;  // 0: follows the version, as ReceiverState does
  uint32_t scm_hash = 0;
};

// Reasons a size is refused by make_image, or null when it is fine.
const char *image_size_problem(size_t size);
// An image of `size` bytes; empty when image_size_problem(size) is not null.
std::vector<uint8_t> make_image(const ImageInfo &info, size_t size);
// The header of a sound image: magic, format, length within `bytes` and the
// checksum all hold. Bytes past the image's length are ignored.
std::optional<ImageInfo> check_image(const uint8_t *bytes, size_t size);
inline std::optional<ImageInfo> check_image(const std::vector<uint8_t> &bytes) {
  return check_image(bytes.data(), bytes.size());
}

}  // namespace zk::virt
