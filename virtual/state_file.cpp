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

bool set_flag(const std::string &text, bool &flag) {
  auto value = parse_bool(text);
  if (value) flag = *value;
  return value.has_value();
}

template <typename T>
bool set_number(const std::string &text, uint64_t max, T &field) {
  auto value = parse_number(text, max);
  if (value) field = static_cast<T>(*value);
  return value.has_value();
}

bool set_ms(const std::string &text, int &ms) {
  return set_number(text, 3600000, ms);
}

bool set_page(const std::string &text, int &page) {
  auto value = parse_page(text);
  if (value) page = *value;
  return value.has_value();
}

// The first of two words gives false, the second true; anything else fails.
bool set_choice(const std::string &text, const char *first, const char *second, bool &is_second) {
  if (text != first && text != second) return false;
  is_second = text == second;
  return true;
}

std::string yes_no(bool flag) {
  return flag ? "yes" : "no";
}

std::string hex(unsigned value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%0*X", digits, value);
  return buf;
}

std::string version_text(const Version &v) {
  return std::to_string(v.major) + "." + std::to_string(v.minor);
}

std::string date_text(const Version &v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d-%02d-%02d", v.date[0], v.date[1], v.date[2]);
  return buf;
}

std::string generation_text(int generation) {
  return generation == 0 ? "auto" : std::to_string(generation);
}

std::string page_text(int page) {
  return page < 0 ? "none" : std::to_string(page);
}

using Values = std::vector<std::string>;
using State = ReceiverState;
using Text = const std::string &;

// In the order the file is written. press and fail_request come last: they
// are repeated, one line for each queued press or failing request.
const StateKey kKeys[] = {
    {"mode", nullptr, "firmware or bootloader",
     [](Text v, State &s) {
       bool boot = false;
       if (!set_choice(v, "firmware", "bootloader", boot)) return false;
       s.mode = boot ? Mode::kBootloader : Mode::kFirmware;
       return true;
     },
     [](const State &s) -> Values {
       return {s.mode == Mode::kFirmware ? "firmware" : "bootloader"};
     }},
    {"plugged", nullptr, "yes or no", [](Text v, State &s) { return set_flag(v, s.plugged); },
     [](const State &s) -> Values { return {yes_no(s.plugged)}; }},
    {"manufacturer", nullptr, "current or legacy",
     [](Text v, State &s) { return set_choice(v, "current", "legacy", s.legacy_manufacturer); },
     [](const State &s) -> Values { return {s.legacy_manufacturer ? "legacy" : "current"}; }},
    {"firmware_product_id", nullptr, "a 16-bit number",
     [](Text v, State &s) { return set_number(v, 0xFFFF, s.firmware_product_id); },
     [](const State &s) -> Values { return {hex(s.firmware_product_id, 4)}; }},
    {"bootloader_product_id", nullptr, "a 16-bit number",
     [](Text v, State &s) { return set_number(v, 0xFFFF, s.bootloader_product_id); },
     [](const State &s) -> Values { return {hex(s.bootloader_product_id, 4)}; }},
    {"product", nullptr, "1 to 126 characters",
     [](Text v, State &s) {
       if (v.empty() || v.size() > 126) return false;
       s.product = v;
       return true;
     },
     [](const State &s) -> Values { return {s.product}; }},
    {"firmware_version", nullptr, "major.minor, each 0-255",
     [](Text v, State &s) { return parse_version(v, s.firmware); },
     [](const State &s) -> Values { return {version_text(s.firmware)}; }},
    {"firmware_date", nullptr, "three numbers 0-255 as MM-DD-YY",
     [](Text v, State &s) { return parse_date(v, s.firmware); },
     [](const State &s) -> Values { return {date_text(s.firmware)}; }},
    {"firmware_generation", nullptr, "auto, 1, 2 or 3",
     [](Text v, State &s) { return parse_generation(v, 3, s.firmware_generation); },
     [](const State &s) -> Values { return {generation_text(s.firmware_generation)}; }},
    {"bootloader_version", nullptr, "major.minor, each 0-255",
     [](Text v, State &s) { return parse_version(v, s.bootloader); },
     [](const State &s) -> Values { return {version_text(s.bootloader)}; }},
    {"bootloader_date", nullptr, "three numbers 0-255 as MM-DD-YY",
     [](Text v, State &s) { return parse_date(v, s.bootloader); },
     [](const State &s) -> Values { return {date_text(s.bootloader)}; }},
    {"bootloader_generation", nullptr, "auto, 1 or 2",
     [](Text v, State &s) { return parse_generation(v, 2, s.bootloader_generation); },
     [](const State &s) -> Values { return {generation_text(s.bootloader_generation)}; }},
    {"scm_hash", nullptr, "a 32-bit number",
     [](Text v, State &s) { return set_number(v, 0xFFFFFFFF, s.scm_hash); },
     [](const State &s) -> Values { return {hex(s.scm_hash, 8)}; }},
    {"bootloader_info_length",
     "# Upload faults: device-information length (0: the generation's own) and\n"
     "# page size (0: 128),\n"
     "# a page refused as a CRC mismatch so many more times (generation 2), a\n"
     "# page at which the receiver is pulled out and plugged in again, and a\n"
     "# receiver that stays away after leaving its bootloader.\n",
     "a number 0-255",
     [](Text v, State &s) { return set_number(v, 255, s.bootloader_faults.info_length); },
     [](const State &s) -> Values { return {std::to_string(s.bootloader_faults.info_length)}; }},
    {"bootloader_page_size", nullptr, "a 16-bit number, 0 for 128",
     [](Text v, State &s) { return set_number(v, 0xFFFF, s.bootloader_faults.info_page_size); },
     [](const State &s) -> Values { return {std::to_string(s.bootloader_faults.info_page_size)}; }},
    {"bootloader_reject_page", nullptr, "none or a page number",
     [](Text v, State &s) { return set_page(v, s.bootloader_faults.reject_page); },
     [](const State &s) -> Values { return {page_text(s.bootloader_faults.reject_page)}; }},
    {"bootloader_reject_times", nullptr, "a number 0-255",
     [](Text v, State &s) { return set_number(v, 255, s.bootloader_faults.reject_times); },
     [](const State &s) -> Values { return {std::to_string(s.bootloader_faults.reject_times)}; }},
    {"bootloader_unplug_at_page", nullptr, "none or a page number",
     [](Text v, State &s) { return set_page(v, s.bootloader_faults.unplug_at_page); },
     [](const State &s) -> Values { return {page_text(s.bootloader_faults.unplug_at_page)}; }},
    {"bootloader_stay_away", nullptr, "yes or no",
     [](Text v, State &s) { return set_flag(v, s.bootloader_faults.stay_away_after_leave); },
     [](const State &s) -> Values { return {yes_no(s.bootloader_faults.stay_away_after_leave)}; }},
    {"auto_press",
     "# Remote buttons: queued presses come press_delay_ms after the receiver\n"
     "# starts waiting; with auto_press, fresh buttons follow.\n",
     "yes or no", [](Text v, State &s) { return set_flag(v, s.auto_press); },
     [](const State &s) -> Values { return {yes_no(s.auto_press)}; }},
    {"press_delay_ms", nullptr, "milliseconds, 0-3600000",
     [](Text v, State &s) { return set_ms(v, s.press_delay_ms); },
     [](const State &s) -> Values { return {std::to_string(s.press_delay_ms)}; }},
    {"next_fresh_hash", nullptr, "a 32-bit number",
     [](Text v, State &s) { return set_number(v, 0xFFFFFFFF, s.next_fresh_hash); },
     [](const State &s) -> Values { return {hex(s.next_fresh_hash, 8)}; }},
    {"leave_delay_ms",
     "# Hardware timing: on the bus after a mode switch, off the bus while\n"
     "# re-enumerating, per EEPROM byte written, to erase every button.\n",
     "milliseconds, 0-3600000", [](Text v, State &s) { return set_ms(v, s.leave_delay_ms); },
     [](const State &s) -> Values { return {std::to_string(s.leave_delay_ms)}; }},
    {"reenumerate_delay_ms", nullptr, "milliseconds, 0-3600000",
     [](Text v, State &s) { return set_ms(v, s.reenumerate_delay_ms); },
     [](const State &s) -> Values { return {std::to_string(s.reenumerate_delay_ms)}; }},
    {"eeprom_write_ms", nullptr, "milliseconds, 0-3600000",
     [](Text v, State &s) { return set_ms(v, s.eeprom_write_ms); },
     [](const State &s) -> Values { return {std::to_string(s.eeprom_write_ms)}; }},
    {"format_ms", nullptr, "milliseconds, 0-3600000",
     [](Text v, State &s) { return set_ms(v, s.format_ms); },
     [](const State &s) -> Values { return {std::to_string(s.format_ms)}; }},
    {"report_state_code", "# The state code the firmware reports: own, or a fixed one (tests).\n",
     "own or a number 0-255",
     [](Text v, State &s) { return parse_state_code(v, s.report_state_code); },
     [](const State &s) -> Values {
       return {s.report_state_code < 0 ? "own" : std::to_string(s.report_state_code)};
     }},
    {"press", nullptr, "a 32-bit number",
     [](Text v, State &s) {
       uint32_t hash = 0;
       if (!set_number(v, 0xFFFFFFFF, hash)) return false;
       s.presses.push_back(hash);
       return true;
     },
     [](const State &s) {
       Values values;
       for (uint32_t hash : s.presses) values.push_back(hex(hash, 8));
       return values;
     }},
    {"fail_request", nullptr, "e.g. 0xC0/3 -9",
     [](Text v, State &s) {
       auto failing = parse_failing_request(v);
       if (failing) s.failing_requests.push_back(*failing);
       return failing.has_value();
     },
     [](const State &s) {
       Values values;
       for (const auto &f : s.failing_requests)
         values.push_back(hex(f.request_type, 2) + "/" + std::to_string(f.request) + " " +
                          std::to_string(f.error));
       return values;
     }},
};

// One `key = value` line into the state; what is wrong with it, if anything.
std::optional<std::string> apply_setting(const std::string &key, const std::string &value,
                                         ReceiverState &state) {
  for (const StateKey &entry : kKeys) {
    if (key != entry.name) continue;
    if (!entry.parse(value, state)) return bad_value(key, value, entry.expected);
    return std::nullopt;
  }
  return "unknown key " + quote(key);
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

std::span<const StateKey> state_keys() {
  return kKeys;
}

std::string format_state(const ReceiverState &s) {
  std::string out =
      "# Zirko virtual receiver. Edits take effect at the next transfer, also\n"
      "# while programs use the receiver.\n";
  for (const StateKey &key : kKeys) {
    if (key.comment) out += key.comment;
    for (const std::string &value : key.values(s))
      out += std::string(key.name) + " = " + value + "\n";
  }
  out +=
      "# EEPROM: used size (2 bytes, high first), settings A and B, reserved,\n"
      "# then 6-byte buttons (hash low byte first, modifier, key).\n";
  out += hex_rows("eeprom", s.eeprom.data(), s.eeprom.size(), 3);
  if (!s.flash.empty()) out += hex_rows("flash", s.flash.data(), s.flash.size(), 5);
  return out;
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
