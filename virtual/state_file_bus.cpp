#include "state_file_bus.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>

namespace zk::virt {

std::vector<std::string> split_state_paths(const std::string &text) {
  std::vector<std::string> paths;
  size_t from = 0;
  while (from <= text.size()) {
    size_t colon = text.find(':', from);
    if (colon == std::string::npos) colon = text.size();
    if (colon > from) paths.push_back(text.substr(from, colon - from));
    from = colon + 1;
  }
  return paths;
}

StateFileBus::StateFileBus(const std::vector<std::string> &paths) {
  // A program may poll for hours: no transcript.
  bus_.set_transcript_limit(0);
  for (const std::string &path : paths) receivers_.push_back(add(path));
  // Every program that names these files shares their receivers, and so
  // their writer locks, which are named after the bus.
  uint64_t fnv = 0xcbf29ce484222325ull;
  for (const auto &file : files_)
    for (unsigned char c : file->path() + ":") fnv = (fnv ^ c) * 0x100000001b3ull;
  char name[32];
  std::snprintf(name, sizeof name, "state-%016llx", static_cast<unsigned long long>(fnv));
  bus_.set_bus_name(name);
}

Receiver *StateFileBus::add(const std::string &path) {
  std::string problem;
  const std::string file = resolve_state_path(path, &problem);
  for (const auto &known : files_)
    if (!file.empty() && known->path() == file) problem = "named twice; each file is one receiver";
  if (file.empty() || !problem.empty()) {
    std::fprintf(stderr, "zirko virtual: %s: %s%s\n", path.c_str(), problem.c_str(),
                 file.empty() ? "; the state file must be a regular file" : "");
    bus_.skip_port();
    return nullptr;
  }
  files_.push_back(std::make_unique<SharedStateFile>(file));
  files_.back()->create_if_missing();
  Receiver *receiver = &bus_.add_receiver({}, files_.back().get());
  receiver->arrival();  // reports a malformed file at once
  return receiver;
}

bool StateFileBus::usable() const {
  if (files_.size() != receivers_.size()) return false;
  for (const auto &file : files_)
    if (!file->usable()) return false;
  return !files_.empty();
}

namespace {

std::mutex registry_mu;
// Never destroyed: other static objects may still use a bus while the
// process ends. Every change is stored as it happens, so nothing is left to
// save then.
std::map<std::string, StateFileBus *> *registry = nullptr;

}  // namespace

UsbBackend &bus_for_state_file(const char *paths) {
  std::lock_guard lock(registry_mu);
  if (!registry) registry = new std::map<std::string, StateFileBus *>;
  auto &bus = (*registry)[paths];
  if (!bus) bus = new StateFileBus(split_state_paths(paths));
  return bus->bus();
}

}  // namespace zk::virt
