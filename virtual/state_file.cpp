#include "state_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace zk::virt {

namespace {

constexpr int kRowBytes = 16;
constexpr size_t kMaxFlash = 1 << 20;  // far above any receiver's flash
// A state file with that much flash is a few megabytes; nothing larger is read.
constexpr off_t kMaxStateFile = 8 << 20;
// Quoted in an error, a bad value is cut here: it may be anything at all.
constexpr size_t kMaxQuoted = 40;

// `text` in double quotes, cut short and with control bytes shown as '?'.
std::string quote(const std::string &text) {
  std::string shown = text.substr(0, kMaxQuoted);
  for (char &ch : shown)
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) ch = '?';
  return "\"" + shown + (text.size() > kMaxQuoted ? "...\"" : "\"");
}

std::string trim(const std::string &s) {
  const auto begin = s.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return "";
  return s.substr(begin, s.find_last_not_of(" \t\r") - begin + 1);
}

std::optional<bool> parse_bool(const std::string &text) {
  if (text == "yes" || text == "true" || text == "1") return true;
  if (text == "no" || text == "false" || text == "0") return false;
  return std::nullopt;
}

// "3.8" gives major 3, minor 8.
bool parse_version(const std::string &text, Version &version) {
  const auto dot = text.find('.');
  if (dot == std::string::npos) return false;
  auto major = parse_number(text.substr(0, dot), 255);
  auto minor = parse_number(text.substr(dot + 1), 255);
  if (!major || !minor) return false;
  version.major = static_cast<uint8_t>(*major);
  version.minor = static_cast<uint8_t>(*minor);
  return true;
}

// Three date bytes as the version reply carries them: "05-14-24".
bool parse_date(const std::string &text, Version &version) {
  std::stringstream in(text);
  std::string part;
  int i = 0;
  while (std::getline(in, part, '-')) {
    auto value = parse_number(part, 255);
    if (!value || i >= 3) return false;
    version.date[i++] = static_cast<uint8_t>(*value);
  }
  return i == 3;
}

bool parse_generation(const std::string &text, int max, int &generation) {
  if (text == "auto") {
    generation = 0;
    return true;
  }
  auto value = parse_number(text, max);
  if (!value || *value == 0) return false;
  generation = static_cast<int>(*value);
  return true;
}

// "03F0: 00 05 ..." into `memory` at the row's address.
std::optional<std::string> parse_row(const std::string &text, std::vector<uint8_t> &memory,
                                     size_t limit) {
  const auto colon = text.find(':');
  if (colon == std::string::npos) return "expected \"<address>: <hex bytes>\"";
  auto address = parse_number("0x" + trim(text.substr(0, colon)), limit - 1);
  if (!address || *address % kRowBytes != 0) return "bad row address";
  std::stringstream in(text.substr(colon + 1));
  std::string byte;
  size_t at = *address;
  while (in >> byte) {
    auto value = byte.size() == 2 ? parse_number("0x" + byte, 255) : std::nullopt;
    if (!value) return "bad hex byte " + quote(byte);
    if (at >= limit || at >= *address + kRowBytes) return "row too long";
    if (memory.size() <= at) memory.resize(at + 1, 0xFF);
    memory[at++] = static_cast<uint8_t>(*value);
  }
  return std::nullopt;
}

// "0xC0/3 -9": request type / request, then the libusb error to answer with.
std::optional<ReceiverState::FailingRequest> parse_failing_request(const std::string &text) {
  const auto slash = text.find('/');
  const auto blank = text.find(' ', slash);
  if (slash == std::string::npos || blank == std::string::npos) return std::nullopt;
  const std::string error = trim(text.substr(blank + 1));
  if (error.size() < 2 || error[0] != '-') return std::nullopt;
  auto type = parse_number(trim(text.substr(0, slash)), 255);
  auto request = parse_number(trim(text.substr(slash + 1, blank - slash - 1)), 255);
  auto code = parse_number(error.substr(1), 99);
  if (!type || !request || !code || *code == 0) return std::nullopt;
  return ReceiverState::FailingRequest{static_cast<uint8_t>(*type), static_cast<uint8_t>(*request),
                                       -static_cast<int>(*code)};
}

// "none" or a page number.
std::optional<int> parse_page(const std::string &text) {
  if (text == "none") return -1;
  auto page = parse_number(text, 0xFFFF);
  if (!page) return std::nullopt;
  return static_cast<int>(*page);
}

std::string bad_value(const std::string &key, const std::string &value, const char *expected) {
  return "bad value " + quote(value) + " for " + key + " (expected " + expected + ")";
}

std::optional<std::string> apply_bootloader_fault(const std::string &key, const std::string &value,
                                                  BootloaderFaults &faults) {
  auto bad = [&](const char *expected) { return bad_value(key, value, expected); };
  if (key == "bootloader_info_length" || key == "bootloader_reject_times") {
    auto number = parse_number(value, 255);
    if (!number) return bad("a number 0-255");
    (key == "bootloader_info_length" ? faults.info_length : faults.reject_times) =
        static_cast<int>(*number);
  } else if (key == "bootloader_page_size") {
    auto size = parse_number(value, 0xFFFF);
    if (!size) return bad("a 16-bit number, 0 for 128");
    faults.info_page_size = static_cast<int>(*size);
  } else if (key == "bootloader_reject_page" || key == "bootloader_unplug_at_page") {
    auto page = parse_page(value);
    if (!page) return bad("none or a page number");
    (key == "bootloader_reject_page" ? faults.reject_page : faults.unplug_at_page) = *page;
  } else if (key == "bootloader_stay_away") {
    auto flag = parse_bool(value);
    if (!flag) return bad("yes or no");
    faults.stay_away_after_leave = *flag;
  } else {
    return "unknown key " + quote(key);
  }
  return std::nullopt;
}

// "own" or a state code 0-255.
bool parse_state_code(const std::string &text, int &code) {
  if (text == "own") {
    code = -1;
    return true;
  }
  auto value = parse_number(text, 255);
  if (!value) return false;
  code = static_cast<int>(*value);
  return true;
}

// The millisecond setting a key names, or null.
int *delay_setting(const std::string &key, ReceiverState &state) {
  if (key == "press_delay_ms") return &state.press_delay_ms;
  if (key == "reenumerate_delay_ms") return &state.reenumerate_delay_ms;
  if (key == "leave_delay_ms") return &state.leave_delay_ms;
  if (key == "eeprom_write_ms") return &state.eeprom_write_ms;
  if (key == "format_ms") return &state.format_ms;
  return nullptr;
}

std::optional<std::string> apply_setting(const std::string &key, const std::string &value,
                                         ReceiverState &state) {
  auto number = [&](uint64_t max) { return parse_number(value, max); };
  auto bad = [&](const char *expected) { return bad_value(key, value, expected); };
  if (key == "mode") {
    if (value != "firmware" && value != "bootloader") return bad("firmware or bootloader");
    state.mode = value == "firmware" ? Mode::kFirmware : Mode::kBootloader;
  } else if (key == "plugged" || key == "auto_press") {
    auto flag = parse_bool(value);
    if (!flag) return bad("yes or no");
    (key == "plugged" ? state.plugged : state.auto_press) = *flag;
  } else if (key == "manufacturer") {
    if (value != "current" && value != "legacy") return bad("current or legacy");
    state.legacy_manufacturer = value == "legacy";
  } else if (key == "firmware_product_id" || key == "bootloader_product_id") {
    auto id = number(0xFFFF);
    if (!id) return bad("a 16-bit number");
    (key == "firmware_product_id" ? state.firmware_product_id : state.bootloader_product_id) =
        static_cast<uint16_t>(*id);
  } else if (key == "product") {
    if (value.empty() || value.size() > 126) return bad("1 to 126 characters");
    state.product = value;
  } else if (key == "firmware_version" || key == "bootloader_version") {
    if (!parse_version(value, key[0] == 'f' ? state.firmware : state.bootloader)) {
      return bad("major.minor, each 0-255");
    }
  } else if (key == "firmware_date" || key == "bootloader_date") {
    if (!parse_date(value, key[0] == 'f' ? state.firmware : state.bootloader)) {
      return bad("three numbers 0-255 as MM-DD-YY");
    }
  } else if (key == "firmware_generation") {
    if (!parse_generation(value, 3, state.firmware_generation)) return bad("auto, 1, 2 or 3");
  } else if (key == "bootloader_generation") {
    if (!parse_generation(value, 2, state.bootloader_generation)) return bad("auto, 1 or 2");
  } else if (key == "scm_hash" || key == "next_fresh_hash" || key == "press") {
    auto hash = number(0xFFFFFFFF);
    if (!hash) return bad("a 32-bit number");
    if (key == "press") {
      state.presses.push_back(static_cast<uint32_t>(*hash));
    } else {
      (key == "scm_hash" ? state.scm_hash : state.next_fresh_hash) = static_cast<uint32_t>(*hash);
    }
  } else if (key.rfind("bootloader_", 0) == 0 && key != "bootloader_product_id") {
    return apply_bootloader_fault(key, value, state.bootloader_faults);
  } else if (key == "fail_request") {
    auto failing = parse_failing_request(value);
    if (!failing) return bad("e.g. 0xC0/3 -9");
    state.failing_requests.push_back(*failing);
  } else if (int *ms = delay_setting(key, state)) {
    auto value = number(3600000);
    if (!value) return bad("milliseconds, 0-3600000");
    *ms = static_cast<int>(*value);
  } else if (key == "report_state_code") {
    if (!parse_state_code(value, state.report_state_code)) return bad("own or a number 0-255");
  } else {
    return "unknown key " + quote(key);
  }
  return std::nullopt;
}

std::string hex_rows(const char *name, const uint8_t *bytes, size_t size, int width) {
  std::string out;
  char buf[40];
  for (size_t row = 0; row < size; row += kRowBytes) {
    std::snprintf(buf, sizeof buf, "%s %0*zX:", name, width, row);
    out += buf;
    for (size_t i = row; i < row + kRowBytes && i < size; ++i) {
      std::snprintf(buf, sizeof buf, " %02X", bytes[i]);
      out += buf;
    }
    out += '\n';
  }
  return out;
}

std::string generation_text(int generation) {
  return generation == 0 ? "auto" : std::to_string(generation);
}

}  // namespace

std::optional<uint64_t> parse_number(const std::string &text, uint64_t max) {
  int base = 10;
  const char *begin = text.data();
  const char *end = begin + text.size();
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    begin += 2;
  }
  uint64_t value = 0;
  auto [ptr, ec] = std::from_chars(begin, end, value, base);
  if (ec != std::errc() || ptr != end || begin == end || value > max) return std::nullopt;
  return value;
}

std::string format_state(const ReceiverState &s) {
  std::ostringstream out;
  char buf[64];
  auto version = [&](const Version &v) {
    std::snprintf(buf, sizeof buf, "%d.%d", v.major, v.minor);
    return std::string(buf);
  };
  auto date = [&](const Version &v) {
    std::snprintf(buf, sizeof buf, "%02d-%02d-%02d", v.date[0], v.date[1], v.date[2]);
    return std::string(buf);
  };
  auto page = [](int number) { return number < 0 ? std::string("none") : std::to_string(number); };
  auto hex = [&](unsigned value, int digits) {
    std::snprintf(buf, sizeof buf, "0x%0*X", digits, value);
    return std::string(buf);
  };
  out << "# Zirko virtual receiver. Edits take effect at the next transfer, also\n"
      << "# while programs use the receiver.\n"
      << "mode = " << (s.mode == Mode::kFirmware ? "firmware" : "bootloader") << "\n"
      << "plugged = " << (s.plugged ? "yes" : "no") << "\n"
      << "manufacturer = " << (s.legacy_manufacturer ? "legacy" : "current") << "\n"
      << "firmware_product_id = " << hex(s.firmware_product_id, 4) << "\n"
      << "bootloader_product_id = " << hex(s.bootloader_product_id, 4) << "\n"
      << "product = " << s.product << "\n"
      << "firmware_version = " << version(s.firmware) << "\n"
      << "firmware_date = " << date(s.firmware) << "\n"
      << "firmware_generation = " << generation_text(s.firmware_generation) << "\n"
      << "bootloader_version = " << version(s.bootloader) << "\n"
      << "bootloader_date = " << date(s.bootloader) << "\n"
      << "bootloader_generation = " << generation_text(s.bootloader_generation) << "\n"
      << "scm_hash = " << hex(s.scm_hash, 8) << "\n"
      << "# Upload faults: device-information length (0: the generation's own) and\n"
      << "# page size (0: 128),\n"
      << "# a page refused as a CRC mismatch so many more times (generation 2), a\n"
      << "# page at which the receiver is pulled out and plugged in again, and a\n"
      << "# receiver that stays away after leaving its bootloader.\n"
      << "bootloader_info_length = " << s.bootloader_faults.info_length << "\n"
      << "bootloader_page_size = " << s.bootloader_faults.info_page_size << "\n"
      << "bootloader_reject_page = " << page(s.bootloader_faults.reject_page) << "\n"
      << "bootloader_reject_times = " << s.bootloader_faults.reject_times << "\n"
      << "bootloader_unplug_at_page = " << page(s.bootloader_faults.unplug_at_page) << "\n"
      << "bootloader_stay_away = " << (s.bootloader_faults.stay_away_after_leave ? "yes" : "no")
      << "\n"
      << "# Remote buttons: queued presses come press_delay_ms after the receiver\n"
      << "# starts waiting; with auto_press, fresh buttons follow.\n"
      << "auto_press = " << (s.auto_press ? "yes" : "no") << "\n"
      << "press_delay_ms = " << s.press_delay_ms << "\n"
      << "next_fresh_hash = " << hex(s.next_fresh_hash, 8) << "\n"
      << "# Hardware timing: on the bus after a mode switch, off the bus while\n"
      << "# re-enumerating, per EEPROM byte written, to erase every button.\n"
      << "leave_delay_ms = " << s.leave_delay_ms << "\n"
      << "reenumerate_delay_ms = " << s.reenumerate_delay_ms << "\n"
      << "eeprom_write_ms = " << s.eeprom_write_ms << "\n"
      << "format_ms = " << s.format_ms << "\n"
      << "# The state code the firmware reports: own, or a fixed one (tests).\n"
      << "report_state_code = "
      << (s.report_state_code < 0 ? "own" : std::to_string(s.report_state_code)) << "\n";
  for (uint32_t hash : s.presses) out << "press = " << hex(hash, 8) << "\n";
  for (const auto &f : s.failing_requests)
    out << "fail_request = " << hex(f.request_type, 2) << "/" << int(f.request) << " " << f.error
        << "\n";
  out << "# EEPROM: used size (2 bytes, high first), settings A and B, reserved,\n"
      << "# then 6-byte buttons (hash low byte first, modifier, key).\n"
      << hex_rows("eeprom", s.eeprom.data(), s.eeprom.size(), 3);
  if (!s.flash.empty()) out << hex_rows("flash", s.flash.data(), s.flash.size(), 5);
  return out.str();
}

std::optional<ReceiverState> parse_state(const std::string &text, StateFileError *error) {
  ReceiverState state;
  std::vector<uint8_t> eeprom(state.eeprom.begin(), state.eeprom.end());
  std::vector<uint8_t> flash;
  std::stringstream in(text);
  std::string raw;
  int line = 0;
  auto fail = [&](std::string message) {
    if (error) *error = {line, std::move(message)};
    return std::nullopt;
  };
  while (std::getline(in, raw)) {
    ++line;
    const std::string content = trim(raw);
    if (content.empty() || content[0] == '#') continue;
    std::optional<std::string> problem;
    if (content.rfind("eeprom ", 0) == 0) {
      problem = parse_row(content.substr(7), eeprom, kEepromSize);
    } else if (content.rfind("flash ", 0) == 0) {
      problem = parse_row(content.substr(6), flash, kMaxFlash);
    } else {
      const auto eq = content.find('=');
      if (eq == std::string::npos) return fail("expected \"key = value\"");
      problem = apply_setting(trim(content.substr(0, eq)), trim(content.substr(eq + 1)), state);
    }
    if (problem) return fail(*problem);
  }
  std::copy(eeprom.begin(), eeprom.end(), state.eeprom.begin());
  state.flash = std::move(flash);
  return state;
}

std::optional<std::string> read_text_file(const std::string &path) {
  // Not blocking: a FIFO must not hang the reader before it is refused.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  int error = ::fstat(fd, &st) != 0        ? errno
              : S_ISDIR(st.st_mode)        ? EISDIR
              : !S_ISREG(st.st_mode)       ? ENODEV
              : st.st_size > kMaxStateFile ? EFBIG
                                           : 0;
  std::string text;
  char buf[65536];
  for (ssize_t n; !error && (n = ::read(fd, buf, sizeof buf)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n > 0) text.append(buf, n);
    if (text.size() > kMaxStateFile) error = EFBIG;  // grew while read
  }
  ::close(fd);
  errno = error;
  if (error) return std::nullopt;
  return text;
}

namespace {

// A new file beside `path`, created as the user's umask says; -1 on failure.
int create_sibling(const std::string &path, std::string &name) {
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(serial++);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

bool write_file_atomically(const std::string &path, const std::string &text) {
  std::string temp;
  const int fd = create_sibling(path, temp);
  if (fd < 0) return false;
  // The replacement keeps the permissions of the file it replaces.
  struct stat st {};
  bool ok = ::stat(path.c_str(), &st) != 0 || ::fchmod(fd, st.st_mode & 07777) == 0;
  for (size_t done = 0; ok && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += n;
  }
  // No fsync: a renamed, fully written file is never seen torn by a reader,
  // and syncing every step of the receiver would make it crawl.
  ok = ::close(fd) == 0 && ok;
  if (ok && std::rename(temp.c_str(), path.c_str()) == 0) return true;
  const int saved = errno;
  ::unlink(temp.c_str());
  errno = saved;
  return false;
}

}  // namespace zk::virt
