#include "json_output.h"

#include <math.h>
#include <stdio.h>

#include <vector>

#include "commands.h"
#include "zirko_map.h"

namespace {

using json = nlohmann::ordered_json;

std::string hex8(uint32_t value) {
  char text[9];
  snprintf(text, sizeof text, "%08X", value);
  return text;
}

// Turns library results into JSON values: a setting the generation lacks is
// null; the first failed read is kept and fails the whole object.
class reader {
 public:
  json number(int value) { return usable(value) ? json(value) : nullptr; }
  json flag(int value) { return usable(value) ? json(value != 0) : nullptr; }
  void take(const json_result &part) {
    if (!failure) failure = part.failure;
  }
  int failure = 0;

 private:
  bool usable(int value) {
    if (value >= 0) return true;
    if (value != ZK_ERR_UNSUPPORTED && !failure) failure = value;
    return false;
  }
};

const char *mode_name(int state) {
  return state == ZK_STATE_FIRMWARE ? "firmware" : "bootloader";
}

json receiver_version(int state) {
  json receiver;
  receiver["mode"] = mode_name(state);
  int major, minor;
  zk_opened_version(&major, &minor);  // the open read it
  receiver["major"] = major & 0xFF;
  receiver["minor"] = minor & 0xFF;
  // Bootloaders have no source-control hash.
  receiver["scm_hash"] =
      state == ZK_STATE_FIRMWARE ? json(hex8(uint32_t(zk_fw_scm_hash()))) : nullptr;
  return receiver;
}

json key_object(int index, const zk::map::Button &b) {
  json key;
  key["index"] = index;
  key["hash"] = hex8(b.hash);
  key["key"] = zk::map::key_text(b.modifier, b.usage);
  key["modifier"] = b.modifier;
  key["usage"] = b.usage;
  return key;
}

const char *variant_name(int product) {
  if (product == ZK_PRODUCT_CORVANE) return "Corvane";
  return product == ZK_PRODUCT_ZIRKO ? "Zirko" : nullptr;
}

}  // namespace

json_result version_json() {
  json object;
  object["program"] = ZIRKO_UTIL_RELEASE;
  object["build"] = ZIRKO_UTIL_BUILD_TAG;
  const int state = zk_fw_state();
  object["receiver"] = state < 0 ? json(nullptr) : receiver_version(state);
  return {object, 0};
}

json_result status_json() {
  reader read;
  json object;
  const int state = zk_fw_state();
  object["mode"] = mode_name(state);
  // The upgrade flag belongs to the bootloader: running firmware, the last
  // upgrade finished.
  const int flag = state == ZK_STATE_FIRMWARE ? 0 : zk_last_upgrade_attempt();
  // Still in the bootloader, the receiver runs no new firmware: an error.
  object["last_upgrade"] = read.number(flag).is_null()
                               ? json(nullptr)
                               : json(flag || state == ZK_STATE_BOOTLOADER ? "error" : "ok");
  return {object, read.failure};
}

json_result space_json() {
  reader read;
  json object = {{"recorded", nullptr}, {"remaining", nullptr}, {"used_percent", nullptr}};
  if (zk_fw_state() != ZK_STATE_FIRMWARE) return {object, 0};
  const int recorded = zk_keys_recorded();
  const int remaining = zk_keys_remaining();
  object["recorded"] = read.number(recorded);
  object["remaining"] = read.number(remaining);
  if (!read.failure && recorded + remaining > 0)
    object["used_percent"] = lround(100.0 * recorded / (recorded + remaining));
  return {object, read.failure};
}

json_result keys_json() {
  json object = {{"keys", nullptr}};
  std::vector<unsigned char> image;
  const int rc = zk::map::read_receiver_image(image);
  if (rc == ZK_ERR_UNSUPPORTED) return {object, 0};
  if (rc < 0) return {object, rc};
  json keys = json::array();
  int index = 0;
  for (const zk::map::Button &b : zk::map::buttons_of(image))
    keys.push_back(key_object(index++, b));
  object["keys"] = keys;
  return {object, 0};
}

json_result settings_json() {
  reader read;
  json object;
  object["version"] = version_json().object;
  object["sleep_detect"] = read.flag(zk_get_sleep_detect());
  object["noise_canceler"] = read.flag(zk_get_noise_cancel());
  object["interkey_delay"] = read.number(zk_get_interkey_delay());
  object["seq_modifiers"] = read.flag(zk_get_sequence_modifiers());
  object["state"] = read.number(zk_get_state());
  const int product = zk_product_type();
  read.number(product);
  const char *variant = variant_name(product);
  object["variant"] = variant ? json(variant) : json(nullptr);
  object["builtin_profiles"] = read.flag(zk_get_builtin_profile_support());
  const json_result space = space_json(), keys = keys_json();
  read.take(space);
  read.take(keys);
  object["space"] = space.object;
  object["keys"] = keys.object["keys"];
  return {object, read.failure};
}

json_result receivers_json(const std::vector<zk_receiver> &found) {
  reader read;
  json list = json::array();
  int index = 0;
  for (const zk_receiver &r : found) {
    json receiver;
    receiver["index"] = ++index;
    receiver["position"] = r.position;
    receiver["mode"] = mode_name(r.state);
    receiver["major"] = read.number(r.major);
    receiver["minor"] = read.number(r.minor);
    const char *variant = r.product > 0 ? variant_name(r.product) : nullptr;
    receiver["variant"] = variant ? json(variant) : json(nullptr);
    receiver["recorded"] = read.number(r.recorded);
    receiver["remaining"] = read.number(r.remaining);
    list.push_back(receiver);
  }
  // One receiver that cannot be read does not hide the others.
  return {list, 0};
}

namespace {
std::vector<json> kept;  // the line's values, printed once it has run
}  // namespace

int print_json(const json_result &result, int consumed) {
  if (result.failure) return device_failed(result.failure);
  kept.push_back(result.object);
  return consumed;
}

void finish_json_output(bool succeeded) {
  if (succeeded && !kept.empty()) {
    const json document = kept.size() == 1 ? kept[0] : json(kept);
    printf("%s\n", document.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
  }
  kept.clear();
}

void print_json_error(const char *text, int code) {
  const json error = {{"error", text}, {"code", code}};
  fprintf(stderr, "%s\n", error.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
}
