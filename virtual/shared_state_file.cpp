#include "shared_state_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <thread>
#include <type_traits>

#include "state_file.h"

namespace zk::virt {

namespace {

constexpr int kMaxLinks = 40;  // as the kernel allows
// The running state is written whole over the start of the lock file,
// padded to this size, so that it never needs truncating.
constexpr size_t kRunRecordSize = 2048;
constexpr const char *kRunHeader = "zirko virtual receiver, running state";
// A state file read empty or malformed may be one an editor is writing in
// place: it is read once more after this pause before it counts.
constexpr auto kSettlePause = std::chrono::milliseconds(20);

const char *kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

std::string parent_of(const std::string &path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Every field of the running state with its name, for writing and reading.
template <typename Run, typename Visit>
void visit_fields(Run &run, Visit &&visit) {
  visit("present", run.present);
  visit("enumeration", run.enumeration);
  visit("identity", run.identity);
  visit("return_at", run.return_at);
  visit("leave_at", run.leave_at);
  visit("leave_to", run.leave_to);
  visit("stay_away", run.stay_away);
  visit("busy_until", run.busy_until);
  visit("wait", run.wait);
  visit("record_key", run.record_key);
  visit("record_modifier", run.record_modifier);
  visit("wait_started", run.wait_started);
  visit("state_code", run.state_code);
  visit("final_code", run.final_code);
  visit("final_at", run.final_at);
  visit("outcome_due", run.outcome_due);
  visit("outcome_ready", run.outcome_ready);
  visit("outcome", run.outcome);
  visit("active_a", run.active_a);
  visit("active_b", run.active_b);
  visit("claim_holder", run.claim_holder);
  visit("claim_enumeration", run.claim_enumeration);
  visit("boot_next_page", run.boot.next_page);
  for (size_t i = 0; i < run.boot.status.size(); ++i)
    visit("boot_status" + std::to_string(i), run.boot.status[i]);
  visit("keys_sent", run.keys_sent);
  visit("sent_keys", run.sent_keys);
}

using SentKeys = std::deque<KeyReport>;

// Sent key reports as words "hash:key:modifier" in hex, oldest first; "-"
// for none, so that the line always holds a value.
std::string sent_keys_text(const SentKeys &keys) {
  std::string text;
  char word[24];
  for (const KeyReport &k : keys) {
    std::snprintf(word, sizeof word, "%s%X:%X:%X", text.empty() ? "" : " ", k.hash, k.key,
                  k.modifier);
    text += word;
  }
  return text.empty() ? "-" : text;
}

std::optional<SentKeys> parse_sent_keys(const std::string &text) {
  SentKeys keys;
  if (text == "-") return keys;
  if (text.empty()) return std::nullopt;
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    unsigned hash = 0, key = 0, modifier = 0;
    char end = 0;
    if (keys.size() >= kSentKeysKept ||
        std::sscanf(word.c_str(), "%8X:%2X:%2X%c", &hash, &key, &modifier, &end) != 3)
      return std::nullopt;
    keys.push_back({hash, static_cast<uint8_t>(key), static_cast<uint8_t>(modifier)});
  }
  return keys;
}

constexpr int max_value(Mode) {
  return static_cast<int>(Mode::kBootloader);
}
constexpr int max_value(Wait) {
  return static_cast<int>(Wait::kDelete);
}

template <typename T>
std::optional<T> parse_field(const std::string &text) {
  if constexpr (std::is_same_v<T, SentKeys>) {
    return parse_sent_keys(text);
  } else if constexpr (std::is_same_v<T, bool>) {
    if (text != "0" && text != "1") return std::nullopt;
    return text == "1";
  } else if constexpr (std::is_enum_v<T>) {
    auto value = parse_field<int>(text);
    if (!value || *value < 0 || *value > max_value(T{})) return std::nullopt;
    return static_cast<T>(*value);
  } else {
    T value{};
    const char *end = text.data() + text.size();
    auto [stop, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || stop != end) return std::nullopt;
    return value;
  }
}

template <typename T>
std::string field_text(const T &value) {
  if constexpr (std::is_same_v<T, SentKeys>) {
    return sent_keys_text(value);
  } else if constexpr (std::is_enum_v<T>) {
    return std::to_string(static_cast<int>(value));
  } else {
    return std::to_string(value);
  }
}

}  // namespace

std::string resolve_state_path(const std::string &path, std::string *problem) {
  std::string current = path;
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0) {
      if (errno == ENOENT) return current;
      *problem = std::strerror(errno);
      return "";
    }
    if (S_ISREG(st.st_mode)) return current;
    if (!S_ISLNK(st.st_mode)) {
      *problem =
          std::string("is ") + kind_of(st.st_mode) + (current == path ? "" : " (" + current + ")");
      return "";
    }
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
    if (n < 0) {
      *problem = std::strerror(errno);
      return "";
    }
    target.resize(n);
    current = !target.empty() && target[0] == '/' ? target : parent_of(current) + "/" + target;
  }
  *problem = std::strerror(ELOOP);
  return "";
}

std::string format_run(const RunState &run) {
  std::string text = std::string(kRunHeader) + "\n";
  visit_fields(run, [&](const std::string &name, const auto &field) {
    text += name + " " + field_text(field) + "\n";
  });
  return text + "end\n";
}

std::optional<RunState> parse_run(const std::string &text) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kRunHeader) return std::nullopt;
  std::map<std::string, std::string> values;
  bool ended = false;
  while (!ended && std::getline(in, line)) {
    ended = line == "end";
    const auto blank = line.find(' ');
    if (blank != std::string::npos) values.emplace(line.substr(0, blank), line.substr(blank + 1));
  }
  RunState run;
  bool whole = ended;
  visit_fields(run, [&](const std::string &name, auto &field) {
    const auto found = values.find(name);
    auto value = found == values.end() ? std::nullopt
                                       : parse_field<std::decay_t<decltype(field)>>(found->second);
    if (value) field = *value;
    whole = whole && value.has_value();
  });
  if (!whole) return std::nullopt;
  return run;
}

SharedStateFile::SharedStateFile(std::string path) : path_(std::move(path)) {
  const std::string lock_path = path_ + ".lock";
  lock_fd_ =
      ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
  struct stat st {};
  if (lock_fd_ >= 0 && (::fstat(lock_fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(lock_fd_);
    lock_fd_ = -1;
    errno = ENODEV;
  }
  if (lock_fd_ < 0) {
    report("cannot use " + lock_path + " (" + std::strerror(errno) +
           "): other programs using this receiver may undo its changes");
  }
}

SharedStateFile::~SharedStateFile() {
  if (lock_fd_ >= 0) ::close(lock_fd_);
}

void SharedStateFile::lock() {
  while (lock_fd_ >= 0 && ::flock(lock_fd_, LOCK_EX) != 0 && errno == EINTR) {
  }
}

void SharedStateFile::unlock() {
  if (lock_fd_ >= 0) ::flock(lock_fd_, LOCK_UN);
}

void SharedStateFile::report(const std::string &problem) {
  if (!problem.empty() && problem != problem_)
    std::fprintf(stderr, "zirko virtual: %s\n", problem.c_str());
  problem_ = problem;
}

void SharedStateFile::create_if_missing() {
  lock();
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0 && errno == ENOENT) store_state(ReceiverState());
  unlock();
}

bool SharedStateFile::lock_and_load(ReceiverState &state, RunState &run) {
  lock();
  usable_ = load_state(state);
  load_run(run);
  return usable_;
}

void SharedStateFile::store_and_unlock(const ReceiverState &state, const RunState &run) {
  if (usable_ && (!state_ || state != *state_)) store_state(state);
  if (run != run_) store_run(run);
  unlock();
}

bool SharedStateFile::load_state(ReceiverState &state) {
  auto text = read_text_file(path_);
  if (text && text_ && *text == *text_) return state_.has_value();
  if (text && (text->empty() || !parse_state(*text, nullptr))) {
    std::this_thread::sleep_for(kSettlePause);
    text = read_text_file(path_);
  }
  if (!text) {
    // Removed while in use: the receiver goes on as it is and is written back.
    if (errno == ENOENT) {
      text_.reset();
      state_.reset();
      report("");
      return true;
    }
    const int error = errno;
    struct stat st {};
    report(path_ + ": " +
           (::stat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)
                ? std::string("is ") + kind_of(st.st_mode) + ", not a state file"
                : std::strerror(error)));
    return false;
  }
  text_ = *text;
  StateFileError error;
  state_ = parse_state(*text_, &error);
  if (!state_) {
    report(path_ + ":" + std::to_string(error.line) + ": " + error.message);
    return false;
  }
  report("");
  state = *state_;
  return true;
}

void SharedStateFile::load_run(RunState &run) {
  if (lock_fd_ < 0) return;
  std::string text(kRunRecordSize, '\0');
  const ssize_t n = ::pread(lock_fd_, text.data(), text.size(), 0);
  text.resize(n > 0 ? n : 0);
  if (text == run_text_) return;
  run_text_ = text;
  // Unreadable (new, or torn by a crash): a receiver that just got power.
  run_ = parse_run(text).value_or(RunState{});
  run = run_;
}

void SharedStateFile::store_state(const ReceiverState &state) {
  const std::string text = format_state(state);
  if (!write_file_atomically(path_, text)) {
    report("cannot write " + path_ + ": " + std::strerror(errno));
    return;
  }
  text_ = text;
  state_ = state;
}

void SharedStateFile::store_run(const RunState &run) {
  run_ = run;
  if (lock_fd_ < 0) return;
  std::string text = format_run(run);
  text.resize(kRunRecordSize, ' ');
  if (::pwrite(lock_fd_, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()))
    run_text_ = text;
}

}  // namespace zk::virt
