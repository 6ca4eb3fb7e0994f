// What the firmware generations share: the vendor requests, the settings
// bytes, the configuration image and its file. Operations that log take the
// name of the generation's entry point, so each line names the function the
// table really holds (zk_ver1_... or zk_ver2_...).
#pragma once

#include <cstdint>

#include "internal.h"

namespace zk::fw {

using namespace zk::layout;

// Fills the slots whose operations are the same on every generation and log
// nothing under their own names.
void fill_shared_slots(zk_ops *ops);

// ---- single requests; each returns 0 (or its reply) or -16 ----
int set_normal();                                          // 0xC0/0
int set_delete(int wait);                                  // 0xC0/2, then waits when wait != 0
int set_record_api(int modifier, int key, int timeout_s);  // 0xC0/1, length 1
int format_config();                                       // 0xC0/3
int get_state();                                           // 0xC0/5
int clear_state();                                         // 0xC0/6
int device_set_dfu();                                      // 0xC2/5
int fw_scm_hash();                                         // 0xC2/12

// ---- recording and deleting ----
int set_record(const char *fn, const char *name, int timeout_s);
// Polls the state code every 100 ms until an outcome or the time-out.
int wait_outcome(const char *fn, int timeout_s);
int delete_buttons(const char *fn, const char *name);
int delete_index(const char *fn, int index);

// ---- settings: getters return the field or -16 ----
int get_interkey_delay();
int get_sensitivity();
int get_noise_cancel();
int get_sleep_detect();
int get_builtin_profile_support();
int get_sequence_modifiers();
int set_interkey_delay(const char *fn, int value);
int set_sensitivity(const char *fn, int value);
int set_noise_cancel(const char *fn, int value);
int set_builtin_profile_support(const char *fn, int value);
int set_sequence_modifiers(const char *fn, int value);
int set_sleep_detect(const char *fn, int value);

// ---- the configuration image ----
// Used size of the image, or a read's failure code, or -1 when corrupt.
int get_size();
int keys_recorded();
int keys_remaining(const char *fn);
int display_config(const char *fn);
int save_config(const char *fn, const char *path);
int load_config(const char *fn, const char *path);
// Writes a checked image the way load_config does: 0, or -16 after a failed
// transfer (with the interrupted-write message once anything was written).
// With `known`, the receiver's current image as the caller read it, those
// bytes are not read again. Stops between entries when a stop was asked for
// (ZK_ERR_INTERRUPTED), never between the last entry and the size header.
int write_config(const char *fn, const unsigned char *data, int length,
                 const unsigned char *known = nullptr, int known_length = 0);
// False, after its error line, for an image the receiver could not use.
bool config_file_valid(const char *fn, const unsigned char *data, long length);

// Version text "%g %02d-%02d-20%02d [0x%08X]", or null.
const char *version_str(const char *fn);

}  // namespace zk::fw
