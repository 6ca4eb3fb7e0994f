// The history of configurations: every image a program was about to replace,
// kept as a .zcfg file with one index line, so that any change can be undone.
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "fw_common.h"
#include "zirko_history.h"

namespace {

using namespace zk::layout;

constexpr const char *kIndexName = "index";
constexpr const char *kIndexHeading =
    "# zirko configuration history: time buttons firmware position file change";
constexpr size_t kMaxIndexBytes = 1 << 20;  // far above 100 lines; anything more is not ours

volatile sig_atomic_t stop_requested = 0;
char last_error[512] = "";

struct Entry {
  int64_t time = 0;
  int buttons = 0;
  std::string firmware, position, file, change;
};

void set_error(const std::string &what, int error) {
  snprintf(last_error, sizeof last_error, "%s: %s", what.c_str(), strerror(error));
}

std::string folder() {
  const char *state = getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') return std::string(state) + "/zirko/history";
  const char *home = getenv("HOME");
  if (!home || !*home) {
    const passwd *user = getpwuid(getuid());
    home = user ? user->pw_dir : nullptr;
  }
  if (!home || !*home) return "";
  return std::string(home) + "/.local/state/zirko/history";
}

// Creates the folder and those above it, private to the user.
bool make_folder(const std::string &path) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at < path.size() && path[at] != '/') continue;
    const std::string part = path.substr(0, at);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      set_error(part, errno);
      return false;
    }
  }
  return true;
}

// An image as the receiver holds one: its size header equals its length.
bool is_image(const unsigned char *image, long length) {
  return image && length >= kHeaderSize && length <= kMaxImageSize &&
         (length - kHeaderSize) % kEntrySize == 0 && ((image[0] << 8) | image[1]) == length;
}

// Tabs and line ends would break the index line.
std::string one_field(const char *text, size_t longest) {
  std::string field = text ? text : "";
  if (field.size() > longest) field.resize(longest);
  for (char &c : field)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return field;
}

// A file name the index may name: no folder, ends in .zcfg.
bool safe_name(const std::string &name) {
  return !name.empty() && name.size() < 64 && name.find('/') == std::string::npos &&
         name[0] != '.' && name.ends_with(".zcfg");
}

bool read_whole(const std::string &path, std::string &text, size_t longest) {
  FILE *file = fopen(path.c_str(), "rb");
  if (!file) return false;
  char chunk[4096];
  size_t n;
  while (text.size() <= longest && (n = fread(chunk, 1, sizeof chunk, file)) > 0)
    text.append(chunk, n);
  const bool ok = !ferror(file) && text.size() <= longest;
  const int error = ferror(file) ? errno : EFBIG;
  fclose(file);
  if (!ok) errno = error;
  return ok;
}

// The entries, oldest first; false when the index exists but cannot be read.
// Lines that do not parse are skipped: an index mended by hand stays usable.
bool read_index(const std::string &dir, std::vector<Entry> &entries) {
  std::string text;
  if (!read_whole(dir + "/" + kIndexName, text, kMaxIndexBytes)) {
    // No index yet; a folder that cannot be made is reported when it is.
    if (errno == ENOENT || errno == ENOTDIR) return true;
    set_error(dir + "/" + kIndexName, errno);
    return false;
  }
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    size_t from = 0;
    for (int i = 0; i < 5; ++i) {
      const size_t tab = line.find('\t', from);
      if (tab == std::string::npos) break;
      fields.push_back(line.substr(from, tab - from));
      from = tab + 1;
    }
    if (fields.size() != 5) continue;
    Entry e;
    char *rest = nullptr;
    e.time = strtoll(fields[0].c_str(), &rest, 10);
    if (*rest) continue;
    e.buttons = int(strtol(fields[1].c_str(), &rest, 10));
    if (*rest || e.buttons < 0 || e.buttons > kMaxButtons) continue;
    e.firmware = fields[2];
    e.position = fields[3];
    e.file = fields[4];
    e.change = line.substr(from);
    if (safe_name(e.file)) entries.push_back(e);
  }
  return true;
}

bool write_index(const std::string &dir, const std::vector<Entry> &entries) {
  std::string text = std::string(kIndexHeading) + "\n";
  for (const Entry &e : entries) {
    text += std::to_string(e.time) + "\t" + std::to_string(e.buttons) + "\t" + e.firmware + "\t" +
            e.position + "\t" + e.file + "\t" + e.change + "\n";
  }
  const std::string path = dir + "/" + kIndexName;
  if (zk_save_file(path.c_str(), text.data(), text.size()) == 0) return true;
  set_error(path, errno);
  return false;
}

// The image of an entry; false (with the error set) when its file is gone
// or is not an image.
bool read_image(const std::string &dir, const Entry &e, std::vector<unsigned char> &image) {
  std::string text;
  const std::string path = dir + "/" + e.file;
  if (!read_whole(path, text, kMaxImageSize)) {
    set_error(path, errno);
    return false;
  }
  image.assign(text.begin(), text.end());
  if (is_image(image.data(), long(image.size()))) return true;
  snprintf(last_error, sizeof last_error, "%s: not a configuration image", path.c_str());
  return false;
}

// As the open read it: asking the receiver again would cost a transfer
// for every change kept. Asked only for a receiver opened some other way.
std::string receiver_firmware() {
  int major = 0, minor = 0;
  if (zk_opened_version(&major, &minor) < 0 && zk_read_version(&major, &minor) < 0) return "";
  char text[16];
  snprintf(text, sizeof text, "%d.%d", major & 0xFF, minor & 0xFF);
  return text;
}

std::string file_name(int64_t time, const unsigned char *image, int length) {
  const time_t seconds = time_t(time);
  tm local{};
  localtime_r(&seconds, &local);
  char name[64];
  const size_t n = strftime(name, sizeof name, "%Y%m%d-%H%M%S", &local);
  snprintf(name + n, sizeof name - n, "-%08X.zcfg", zk_crc32(image, uint32_t(length), 0));
  return name;
}

bool referenced(const std::vector<Entry> &entries, const std::string &file) {
  for (const Entry &e : entries)
    if (e.file == file) return true;
  return false;
}

// The store's folder and entries, or false with the error set.
bool open_store(std::string &dir, std::vector<Entry> &entries) {
  dir = folder();
  if (dir.empty()) {
    set_error("the history folder (no XDG_STATE_HOME and no home folder)", ENOENT);
    return false;
  }
  return read_index(dir, entries);
}

// Holds the store's lock file while alive: two programs keeping an image at
// once (the window and the utility) must not drop each other's index line.
class StoreLock {
 public:
  explicit StoreLock(const std::string &dir) {
    fd_ = open((dir + "/index.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0) flock(fd_, LOCK_EX);  // without the lock the store still works
  }
  ~StoreLock() {
    if (fd_ >= 0) close(fd_);  // closing releases the lock
  }
  StoreLock(const StoreLock &) = delete;
  StoreLock &operator=(const StoreLock &) = delete;

 private:
  int fd_ = -1;
};

// Entry n from the newest (1), or null.
const Entry *entry_at(const std::vector<Entry> &entries, int n) {
  if (n < 1 || n > int(entries.size())) {
    snprintf(last_error, sizeof last_error, "the history has no entry %d (it holds %zu)", n,
             entries.size());
    return nullptr;
  }
  return &entries[entries.size() - size_t(n)];
}

}  // namespace

int zk_history_folder(char *path, size_t room) {
  const std::string dir = folder();
  if (dir.empty() || !path || dir.size() >= room) return ZK_ERR_FILE_IO;
  memcpy(path, dir.c_str(), dir.size() + 1);
  return int(dir.size());
}

int zk_history_keep(const unsigned char *image, int length, const char *change) {
  if (!is_image(image, length)) {
    snprintf(last_error, sizeof last_error, "not a configuration image: %d bytes", length);
    return ZK_ERR_INVALID;
  }
  std::string dir = folder();
  if (dir.empty() || !make_folder(dir)) {
    if (dir.empty()) set_error("the history folder (no XDG_STATE_HOME and no home folder)", ENOENT);
    return ZK_ERR_FILE_IO;
  }
  const StoreLock lock(dir);
  std::vector<Entry> entries;
  if (!open_store(dir, entries)) return ZK_ERR_FILE_IO;
  std::vector<unsigned char> newest;
  if (!entries.empty() && read_image(dir, entries.back(), newest) &&
      newest == std::vector<unsigned char>(image, image + length))
    return 0;
  Entry e;
  e.time = int64_t(::time(nullptr));
  e.buttons = (length - kHeaderSize) / kEntrySize;
  e.firmware = one_field(receiver_firmware().c_str(), 15);
  e.position = one_field(current_device ? zk_bus_position(current_device).c_str() : "", 31);
  e.change = one_field(change, 47);
  e.file = file_name(e.time, image, length);
  const std::string path = dir + "/" + e.file;
  const bool existed = access(path.c_str(), F_OK) == 0;  // the same image kept earlier
  if (zk_save_file(path.c_str(), image, size_t(length)) != 0) {
    set_error(path, errno);
    return ZK_ERR_FILE_IO;
  }
  std::vector<Entry> kept = entries;
  kept.push_back(e);
  std::vector<Entry> dropped;
  while (kept.size() > ZK_HISTORY_MAX_ENTRIES) {
    dropped.push_back(kept.front());
    kept.erase(kept.begin());
  }
  if (!write_index(dir, kept)) {
    if (!existed) unlink(path.c_str());
    return ZK_ERR_FILE_IO;
  }
  for (const Entry &old : dropped)
    if (!referenced(kept, old.file)) unlink((dir + "/" + old.file).c_str());
  return 1;
}

int zk_history_count() {
  std::string dir;
  std::vector<Entry> entries;
  if (!open_store(dir, entries)) return ZK_ERR_FILE_READ;
  return int(entries.size());
}

int zk_history_entry_at(int n, zk_history_entry *entry) {
  std::string dir;
  std::vector<Entry> entries;
  if (!open_store(dir, entries)) return ZK_ERR_FILE_READ;
  const Entry *e = entry_at(entries, n);
  if (!e || !entry) return ZK_ERR_INVALID;
  *entry = {};
  entry->time = e->time;
  entry->buttons = e->buttons;
  entry->size = kHeaderSize + kEntrySize * e->buttons;
  snprintf(entry->change, sizeof entry->change, "%s", e->change.c_str());
  snprintf(entry->position, sizeof entry->position, "%s", e->position.c_str());
  snprintf(entry->firmware, sizeof entry->firmware, "%s", e->firmware.c_str());
  snprintf(entry->file, sizeof entry->file, "%s", e->file.c_str());
  return 0;
}

int zk_history_image(int n, unsigned char *image, int room) {
  std::string dir;
  std::vector<Entry> entries;
  if (!open_store(dir, entries)) return ZK_ERR_FILE_READ;
  const Entry *e = entry_at(entries, n);
  if (!e) return ZK_ERR_INVALID;
  std::vector<unsigned char> bytes;
  if (!read_image(dir, *e, bytes)) return ZK_ERR_FILE_READ;
  if (!image || int(bytes.size()) > room) return ZK_ERR_INVALID;
  memcpy(image, bytes.data(), bytes.size());
  return int(bytes.size());
}

int zk_history_undo_entry(const unsigned char *image, int length) {
  std::string dir;
  std::vector<Entry> entries;
  if (!open_store(dir, entries)) return ZK_ERR_FILE_READ;
  const std::vector<unsigned char> now(image, image + (image && length > 0 ? length : 0));
  const std::string here = current_device ? zk_bus_position(current_device) : "";
  for (int n = 1; n <= int(entries.size()); ++n) {
    const Entry &e = *entry_at(entries, n);
    // Another receiver's configuration is never undone onto this one; an
    // entry of unknown position may be this receiver's.
    if (!here.empty() && !e.position.empty() && e.position != here) continue;
    std::vector<unsigned char> kept;
    // A damaged entry is passed over: undo goes to the newest usable one.
    if (read_image(dir, e, kept) && kept != now) return n;
  }
  return 0;
}

int zk_history_restore(int n, const char *change) {
  unsigned char target[kMaxImageSize];
  const int length = zk_history_image(n, target, sizeof target);
  if (length < 0) return length;
  unsigned char current[kMaxImageSize];
  const int current_length = zk_read_config_image(current, sizeof current);
  if (current_length == ZK_ERR_UNSUPPORTED || current_length == ZK_ERR_USB) return current_length;
  // A corrupt image cannot be kept, but is just what a restore mends.
  const bool known = current_length > 0;
  if (change && known && zk_history_keep(current, current_length, change) < 0)
    return ZK_ERR_FILE_IO;
  return zk_write_config_image_over(target, length, known ? current : nullptr,
                                    known ? current_length : 0);
}

const char *zk_history_error() {
  return last_error;
}

void zk_request_stop() {
  stop_requested = 1;
}

int zk_stop_requested() {
  return stop_requested ? 1 : 0;
}

void zk_clear_stop() {
  stop_requested = 0;
}
