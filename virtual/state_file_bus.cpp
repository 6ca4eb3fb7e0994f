#include "state_file_bus.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "state_file.h"

namespace zk::virt {

StateFileBus::StateFileBus(std::string path) : path_(std::move(path)) {
  bus_.set_persist_hook([this] { save(); });
  bus_.set_rescan_hook([this] { reload(); });
  std::lock_guard lock(mu_);
  if (auto text = read_text_file(path_)) {
    load(*text);
    return;
  }
  receiver_ = &bus_.add_receiver();
  valid_ = true;
  const std::string text = format_state(receiver_->snapshot());
  if (write_file_atomically(path_, text)) {
    last_text_ = text;
  } else {
    std::fprintf(stderr, "zirko virtual: cannot write %s: %s\n", path_.c_str(),
                 std::strerror(errno));
  }
}

bool StateFileBus::load(const std::string &text) {
  last_text_ = text;
  StateFileError error;
  auto state = parse_state(text, &error);
  if (!state) {
    std::fprintf(stderr, "zirko virtual: %s:%d: %s\n", path_.c_str(), error.line,
                 error.message.c_str());
    valid_ = false;
    if (receiver_) receiver_->unplug();
    return false;
  }
  valid_ = true;
  if (receiver_) {
    receiver_->replace_state(*state);
  } else {
    receiver_ = &bus_.add_receiver(std::move(*state));
  }
  return true;
}

void StateFileBus::reload() {
  std::lock_guard lock(mu_);
  auto text = read_text_file(path_);
  // A file removed while in use keeps the receiver as it is; save restores it.
  if (!text || *text == last_text_) return;
  load(*text);
}

void StateFileBus::save() {
  std::lock_guard lock(mu_);
  if (!valid_ || !receiver_) return;
  const std::string text = format_state(receiver_->snapshot());
  if (text == last_text_) return;
  if (!write_file_atomically(path_, text)) {
    std::fprintf(stderr, "zirko virtual: cannot write %s: %s\n", path_.c_str(),
                 std::strerror(errno));
    return;
  }
  last_text_ = text;
}

namespace {

std::mutex registry_mu;
// Never destroyed: other static objects may still use a bus while the
// process ends; the exit handler saves every state instead.
std::map<std::string, StateFileBus *> *registry = nullptr;

void save_all_at_exit() {
  std::lock_guard lock(registry_mu);
  for (auto &[path, bus] : *registry) bus->save();
}

}  // namespace

UsbBackend &bus_for_state_file(const char *path) {
  std::lock_guard lock(registry_mu);
  if (!registry) {
    registry = new std::map<std::string, StateFileBus *>;
    std::atexit(save_all_at_exit);
  }
  auto &bus = (*registry)[path];
  if (!bus) bus = new StateFileBus(path);
  return bus->bus();
}

}  // namespace zk::virt
