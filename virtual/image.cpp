#include "image.h"

#include <array>
#include <cstring>

namespace zk::virt {

namespace {

constexpr uint8_t kMagic[4] = {'Z', 'K', 'F', 'W'};
constexpr uint8_t kFormat = 1;
constexpr int kLengthAt = 16;
constexpr int kChecksumAt = 20;

// Reflected CRC-32 (polynomial 0xEDB88320), the receiver's own choice;
// `crc` carries the running value between pieces (start with 0xFFFFFFFF).
uint32_t crc32_update(uint32_t crc, const uint8_t *bytes, size_t size) {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int bit = 0; bit < 8; ++bit) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

// Over the whole image with the checksum field read as zeros; size > 24.
uint32_t image_crc(const uint8_t *bytes, size_t size) {
  static constexpr uint8_t kZeros[4] = {};
  uint32_t crc = crc32_update(0xFFFFFFFFu, bytes, kChecksumAt);
  crc = crc32_update(crc, kZeros, sizeof kZeros);
  crc = crc32_update(crc, bytes + kChecksumAt + 4, size - kChecksumAt - 4);
  return crc ^ 0xFFFFFFFFu;
}

void put32(uint8_t *at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t get32(const uint8_t *at) {
  return at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24;
}

}  // namespace

const char *image_size_problem(size_t size) {
  if (size < kFlashPageSize) return "an image holds at least one page (128 bytes)";
  if (size % kFlashPageSize != 0) return "the size must be a multiple of 128";
  if (size > kApplicationSize) return "the size must be at most 14336 (16384 - 2048)";
  return nullptr;
}

std::vector<uint8_t> make_image(const ImageInfo &info, size_t size) {
  if (image_size_problem(size)) return {};
  std::vector<uint8_t> image(size, 0);
  std::memcpy(image.data(), kMagic, sizeof kMagic);
  image[4] = kFormat;
  image[5] = info.version.major;
  image[6] = info.version.minor;
  std::copy(info.version.date.begin(), info.version.date.end(), image.begin() + 7);
  image[10] = static_cast<uint8_t>(info.generation);
  put32(&image[12], info.scm_hash);
  put32(&image[kLengthAt], static_cast<uint32_t>(size));
  // Filler from a generator seeded by the header: two builds of one version agree.
  uint32_t state = info.scm_hash ^ (info.version.major << 8 | info.version.minor) ^ 0x9E3779B9u;
  for (size_t i = kImageHeaderSize; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    image[i] = static_cast<uint8_t>(state >> 24);
  }
  put32(&image[kChecksumAt], image_crc(image.data(), size));
  return image;
}

std::optional<ImageInfo> check_image(const uint8_t *bytes, size_t size) {
  if (size < kImageHeaderSize || std::memcmp(bytes, kMagic, sizeof kMagic) != 0 ||
      bytes[4] != kFormat) {
    return std::nullopt;
  }
  const uint32_t length = get32(bytes + kLengthAt);
  if (image_size_problem(length) || length > size) return std::nullopt;
  if (image_crc(bytes, length) != get32(bytes + kChecksumAt)) return std::nullopt;
  if (bytes[10] > 3) return std::nullopt;  // no firmware speaks such a protocol
  ImageInfo info;
  info.version.major = bytes[5];
  info.version.minor = bytes[6];
  std::copy(bytes + 7, bytes + 10, info.version.date.begin());
  info.generation = bytes[10];
  info.scm_hash = get32(bytes + 12);
  return info;
}

}  // namespace zk::virt
