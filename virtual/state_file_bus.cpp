#include "state_file_bus.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>

namespace zk::virt {

StateFileBus::StateFileBus(const std::string &path) {
  // A program may poll for hours: no transcript.
  bus_.set_transcript_limit(0);
  std::string problem;
  const std::string file = resolve_state_path(path, &problem);
  if (file.empty()) {
    std::fprintf(stderr, "zirko virtual: %s: %s; the state file must be a regular file\n",
                 path.c_str(), problem.c_str());
    return;
  }
  // Every program that names this file shares the receiver, and so its lock.
  uint64_t fnv = 0xcbf29ce484222325ull;
  for (unsigned char c : file) fnv = (fnv ^ c) * 0x100000001b3ull;
  char name[32];
  std::snprintf(name, sizeof name, "state-%016llx", static_cast<unsigned long long>(fnv));
  bus_.set_bus_name(name);
  file_ = std::make_unique<SharedStateFile>(file);
  file_->create_if_missing();
  receiver_ = &bus_.add_receiver({}, file_.get());
  receiver_->arrival();  // reports a malformed file at once
}

namespace {

std::mutex registry_mu;
// Never destroyed: other static objects may still use a bus while the
// process ends. Every change is stored as it happens, so nothing is left to
// save then.
std::map<std::string, StateFileBus *> *registry = nullptr;

}  // namespace

UsbBackend &bus_for_state_file(const char *path) {
  std::lock_guard lock(registry_mu);
  if (!registry) registry = new std::map<std::string, StateFileBus *>;
  auto &bus = (*registry)[path];
  if (!bus) bus = new StateFileBus(path);
  return bus->bus();
}

}  // namespace zk::virt
