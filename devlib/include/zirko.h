/* Zirko device library: the only header the programs include.
 *
 * C-style interface: every call returns an int result code (0 or more for
 * success, negative for failure) and never throws. One receiver is in use at
 * a time; the library keeps that state process-wide. Several on the bus are
 * listed with zk_list_receivers and chosen with zk_choose_device. */
#ifndef ZIRKO_H
#define ZIRKO_H

#include <stdint.h>
#include <stdio.h>
#include <sys/time.h>

#include "zirko_layout.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZK_VENDOR_ID 0x20A0
/* Manufacturer string descriptors of the receiver: firmware of today, and
 * older firmware and every bootloader. */
#define ZK_MANUFACTURER "Zirko Devices"
#define ZK_MANUFACTURER_LEGACY "zirko"

/* zk_fw_state, zk_open_device and zk_wait_for_device results. */
#define ZK_STATE_BOOTLOADER 1
#define ZK_STATE_FIRMWARE 2

/* Results. Success is 0 or more; the failures below keep the values the
 * receiver's tools have always used, so a few values carry two meanings,
 * told apart by the call that returns them. */
#define ZK_OK 0
#define ZK_ERR_FAILED -1       /* corrupt size header; a failed step */
#define ZK_ERR_NO_SPACE -4     /* recording refused: the receiver is full */
#define ZK_ERR_EXISTS -5       /* recording refused: the button is known */
#define ZK_ERR_NOT_FOUND -6    /* the receiver lacks the key or button */
#define ZK_ERR_NO_RECEIVER -6  /* zk_open_device: no receiver on the bus */
#define ZK_ERR_FILE -6         /* configuration file unusable */
#define ZK_ERR_NO_OUTCOME -7   /* generation 1: the outcome read failed */
#define ZK_ERR_INVALID -8      /* invalid argument or unknown key name */
#define ZK_ERR_NO_HANDLE -9    /* version query with no receiver open */
#define ZK_ERR_FILE_IO -9      /* a file could not be written (zk_upgrade_fw: read) */
#define ZK_ERR_UNSUPPORTED -12 /* this receiver has no such operation */
#define ZK_ERR_NO_MEMORY -12   /* file_to_buf: no memory for the file */
#define ZK_ERR_UPGRADE -13     /* a firmware upgrade step failed */
#define ZK_ERR_FILE_READ -14   /* a file could not be read */
#define ZK_ERR_USB -16         /* a control transfer failed */
#define ZK_ERR_TIMEOUT -17     /* no button was pressed in time */
#define ZK_ERR_NOT_USABLE -19  /* no receiver open, or it cannot be used */
#define ZK_ERR_IN_USE -20      /* another program has claimed the receiver */
#define ZK_ERR_BUSY -21        /* another program is changing the receiver */

/* State codes that firmware of generation 2 and later reports for a
 * recording or deletion (zk_get_state). */
#define ZK_RX_NORMAL 0
#define ZK_RX_RECORDING 1
#define ZK_RX_DELETING 2
#define ZK_RX_DONE 3
#define ZK_RX_NO_SPACE 4
#define ZK_RX_EXISTS 5
#define ZK_RX_NOT_FOUND 6

/* Log levels: a line is written when its level is at most the threshold. */
#define ZK_LOG_ERROR 1
#define ZK_LOG_WARNING 2
#define ZK_LOG_INFO 3
#define ZK_LOG_DEBUG 4
#define ZK_LOG_VERBOSE 5

/* ---- logging and small utilities ---- */

/* Writes a printf-style line when 0 < level <= threshold. The caller's
 * format carries the "[E] %s(%d): " prefix and the line end. */
void zk_log(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));
/* A log line as every line of the system reads, "[L] function(line): ",
 * under the function name fn (usually __func__). */
#define ZK_LOG_AT(level, letter, fn, fmt, ...) \
  zk_log(level, "[" letter "] %s(%d): " fmt "\n", fn, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
/* The one set of level macros every program logs with: a line under the
 * calling function's name, or (the _AS forms) under a name the caller
 * gives, so that shared code logs as the command or entry point that ran it. */
#define ZK_LOGE(fmt, ...) ZK_LOG_AT(ZK_LOG_ERROR, "E", __func__, fmt __VA_OPT__(, ) __VA_ARGS__)
#define ZK_LOGW(fmt, ...) ZK_LOG_AT(ZK_LOG_WARNING, "W", __func__, fmt __VA_OPT__(, ) __VA_ARGS__)
#define ZK_LOGI(fmt, ...) ZK_LOG_AT(ZK_LOG_INFO, "I", __func__, fmt __VA_OPT__(, ) __VA_ARGS__)
#define ZK_LOGD(fmt, ...) ZK_LOG_AT(ZK_LOG_DEBUG, "D", __func__, fmt __VA_OPT__(, ) __VA_ARGS__)
#define ZK_LOGV(fmt, ...) ZK_LOG_AT(ZK_LOG_VERBOSE, "V", __func__, fmt __VA_OPT__(, ) __VA_ARGS__)
#define ZK_LOGE_AS(fn, fmt, ...) ZK_LOG_AT(ZK_LOG_ERROR, "E", fn, fmt __VA_OPT__(, ) __VA_ARGS__)
#define ZK_LOGW_AS(fn, fmt, ...) ZK_LOG_AT(ZK_LOG_WARNING, "W", fn, fmt __VA_OPT__(, ) __VA_ARGS__)
#define ZK_LOGI_AS(fn, fmt, ...) ZK_LOG_AT(ZK_LOG_INFO, "I", fn, fmt __VA_OPT__(, ) __VA_ARGS__)
#define ZK_LOGD_AS(fn, fmt, ...) ZK_LOG_AT(ZK_LOG_DEBUG, "D", fn, fmt __VA_OPT__(, ) __VA_ARGS__)
#define ZK_LOGV_AS(fn, fmt, ...) ZK_LOG_AT(ZK_LOG_VERBOSE, "V", fn, fmt __VA_OPT__(, ) __VA_ARGS__)
int zk_set_log_level(int level);
int zk_set_libusb_debug(int flag);
/* Console progress bar on standard output, ended by a carriage return.
 * Drawn only where it can be seen: see zk_set_progress_output. */
void zk_progress_bar(float done, float total);
#define ZK_PROGRESS_AUTO -1 /* on a terminal only (the default) */
#define ZK_PROGRESS_NEVER 0
#define ZK_PROGRESS_ALWAYS 1
/* Where progress bars go: a pipe or a file gets no carriage-return bars
 * unless ZK_PROGRESS_ALWAYS is set. Returns the mode stored. */
int zk_set_progress_output(int mode);
/* 1 when the progress bars are drawn now, else 0. */
int zk_progress_shown(void);
/* Reads a whole file into a new buffer (length + 1 bytes, freed by the
 * caller with free()). Returns the file length or a negative code. */
long file_to_buf(const char *path, unsigned char **out, const char *mode);
/* The largest input files: a configuration image and a firmware image. */
#define ZK_CONFIG_FILE_MAX ZK_MAX_IMAGE_SIZE /* bytes: a whole image, every button */
#define ZK_FIRMWARE_FILE_MAX ZK_FLASH_SIZE   /* bytes: the whole flash */
/* Reads a whole input file of at most max_bytes into a new buffer (length +
 * 1 bytes, freed with free()). The file is opened without blocking and read
 * only when it is a regular file whose size fits, so a FIFO, a device or a
 * huge file is refused at once. Returns the length, or -14 with `reason`
 * (reason_size bytes; may be null) saying why, as the system says it ("No
 * such file or directory", "not a regular file (a FIFO)"...). */
long zk_read_input_file(const char *path, long max_bytes, unsigned char **out, char *reason,
                        size_t reason_size);
/* Writes length bytes through zk_save_file; returns length or -9 after an
 * error line naming the file and the reason. */
long buf_to_file(const char *path, const unsigned char *buffer, long length, const char *mode);
/* Replaces the file at path with the bytes, or leaves it as it was: the
 * bytes go to a temporary file in the same folder, every write and the
 * close are checked, the data is synced, then the temporary file is renamed
 * over the target. A symbolic link is followed and its target replaced; a
 * target that is not a regular file (a device, a FIFO) is written in place.
 * 0, or -9 with errno saying why (the temporary file removed). */
int zk_save_file(const char *path, const void *data, size_t length);
uint8_t zk_crc8(const unsigned char *bytes, uint8_t count);
uint8_t zk_crc8_update(const unsigned char *bytes, uint8_t count, uint8_t initial);
uint16_t zk_crc16(const unsigned char *bytes, uint32_t count, uint16_t initial);
uint32_t zk_crc32(const unsigned char *bytes, uint32_t count, uint32_t initial);
int64_t zk_elapsed_us(const struct timeval *then);
int zk_timed_out(const struct timeval *then, int64_t limit_us);
float zk_timestamp(void);
/* Text of a libusb-style result code ("Pipe error", "Unknown error"...). */
const char *zk_usb_strerror(int code);
/* What a failed call's result means to a user ("USB transfer failed",
 * "not supported by this receiver"...); "device operation failed" for a
 * result whose meaning depends on the call (ZK_ERR_NOT_FOUND among them). */
const char *zk_result_text(int result);

/* ---- USB discovery and transport ---- */

struct zk_usb_device; /* backend's device reference */
struct zk_usb_handle; /* backend's open handle */

typedef struct zk_device {
  int bootloader; /* 1 when the product string is exactly "bootldr" */
  int index;      /* 1-based position within the scan that found it */
  int vendor_id;
  int product_id;
  uint8_t iface;
  struct zk_usb_device *dev;
  struct zk_usb_handle *handle;
  struct zk_device *next;
  struct zk_device *prev;
} zk_device;

int zk_open_devices(zk_device *list, int vendor_id, const char *manufacturer);
int zk_send_msg(int request_type, int request, int value, int index, unsigned char *data,
                int length, unsigned int timeout_ms);
int zk_set_interrupt_ep(int endpoint, unsigned char *data, int length, int *transferred,
                        unsigned int timeout_ms);
int zk_next_device(void);
int zk_prev_device(void);
int zk_first_device(void);
int zk_device_is_last(void);
int zk_device_is_first(void);
int zk_device_at_end(void);
zk_device *zk_get_device_list(void);

/* ---- device state and dispatch ---- */

int zk_open_device(int vendor_id, const char *manufacturer);
void zk_close_device(void);

/* ---- several receivers ---- */

/* Room for a bus position as `lsusb -t` shows it ("1-4.2"). */
#define ZK_POSITION_SIZE 32

/* One receiver on the bus. What details were not asked for, or could not be
 * read, holds a negative code (-12 not asked for, else the read's failure). */
typedef struct zk_receiver {
  char position[ZK_POSITION_SIZE]; /* "" when the bus cannot tell */
  int state;                       /* ZK_STATE_BOOTLOADER or ZK_STATE_FIRMWARE */
  int major, minor;                /* version of what runs: firmware or bootloader */
  int product;                     /* ZK_PRODUCT_ZIRKO, ZK_PRODUCT_CORVANE, or 0 for neither */
  int recorded;                    /* buttons recorded */
  int remaining;                   /* buttons that still fit */
} zk_receiver;

/* Scans the bus with both manufacturer strings and fills at most `room`
 * entries, in bus order (by position, numerically). With `details` each
 * receiver is asked for its version, variant and buttons (a few reads,
 * nothing written); without, no transfer is made. The receiver in use, if
 * any, stays in use, but must not be busy in another thread. Returns how
 * many receivers are on the bus (more than `room` when they do not fit), or
 * a negative USB code when the bus cannot be scanned. */
int zk_list_receivers(int vendor_id, zk_receiver *list, int room, int details);
/* From now on every open (zk_open_device, the waits, an upgrade following
 * its receiver) takes only the receiver at this bus position and answers -6
 * while it is not there; NULL or "" goes back to the first receiver found.
 * The receiver in use is not closed. */
void zk_choose_device(const char *position);
/* The position chosen, or "" for none. */
const char *zk_chosen_device(void);
/* The bus position of the receiver in use, "" with none (or when the bus
 * cannot tell); a static text overwritten by the next call. */
const char *zk_current_position(void);
/* zk_choose_device(position), then zk_open_device. */
int zk_open_device_at(int vendor_id, const char *manufacturer, const char *position);
/* Waits without limit, opening once a second. */
int zk_wait_for_device(int vendor_id, const char *manufacturer);
/* The same, polling every 100 ms and giving up after timeout_ms: the state,
 * or -6 when no receiver answered in time. */
int zk_wait_for_device_for(int vendor_id, const char *manufacturer, int timeout_ms);
/* Whether a poll that found no receiver should scan again: 1 where the bus
 * sends no hotplug events; otherwise 1 for 2 s after a device of the vendor
 * came or went (a receiver may refuse its first opens) and once every 2 s
 * in any case, 0 in between. */
int zk_bus_changed(int vendor_id);
/* 1 when the bus in use is the virtual receiver's (ZIRKO_VIRTUAL or a bus
 * installed by a test), 0 when it is the real USB bus. */
int zk_backend_is_virtual(void);
int zk_fw_state(void);
/* 1 when the open receiver's firmware tells how a recording or deletion
 * ended on its interrupt endpoint (zk_set_interrupt waits for it), 0 when
 * zk_get_state reports it; -19 with no firmware-mode receiver open. */
int zk_outcome_on_interrupt(void);
/* Claims (1) or releases (0) the open receiver's interface, which one
 * program at a time may hold. An open claims it when it is free; a program
 * that keeps the receiver open while idle releases it so that others may
 * use the receiver, and claims it again before it works with it. 0,
 * ZK_ERR_IN_USE when another program holds it, or -19 with no receiver open. */
int zk_claim_receiver(int claim);
float zk_version(void);
int zk_major_version(void);
int zk_minor_version(void);
/* Both numbers from one version read: 0, or -9 with no receiver open, or
 * -16; on failure both numbers are set to that code, as the single calls give. */
int zk_read_version(int *major, int *minor);
/* The numbers the open of the receiver in use read, without asking it
 * again: 0, or -9 with no receiver open (both numbers set to it). */
int zk_opened_version(int *major, int *minor);
const char *zk_version_str(void);
/* The version as zk_version gives it: 2.6 from 2 and 6, 2.12 from 2 and 12,
 * and a failure code (negative major) as itself. */
float zk_version_number(int major, int minor);

int zk_leave_bootloader(void);
int zk_reboot(void);
int zk_set_delete(int wait);
int zk_set_record(const char *key_name, int timeout_s);
int zk_set_record_api(int modifier, int key_code, int timeout_s);
int zk_set_normal(void);
int zk_set_interrupt(int timeout_s);
int zk_delete_buttons(const char *key_name);
int zk_set_noise_cancel(int value);
int zk_get_noise_cancel(void);
int zk_set_sensitivity(int value);
int zk_get_sensitivity(void);
int zk_set_interkey_delay(int value);
int zk_get_interkey_delay(void);
int zk_get_sleep_detect(void);
int zk_set_sleep_detect(int value);
int zk_get_builtin_profile_support(void);
int zk_set_builtin_profile_support(int value);
int zk_get_state(void);
int zk_clear_state(void);
int zk_display_config(void);
int zk_format_config(void);
int zk_save_config(const char *path);
/* Writes a whole configuration image (size header, settings, entries; 5 + 6
 * bytes per button, its header equal to its length) as zk_load_config
 * writes a file: 0, -8 for an image the receiver could not use, -12 when no
 * receiver runs firmware, -16 after a failed transfer, -21 when another
 * program kept the receiver or moved its size during the write (which then
 * stops before the size, keeping that program's buttons). */
int zk_write_config_image(const unsigned char *image, int length);
/* Reads the configuration image (size header through its last button) into
 * image, which has room for `room` bytes: its length, -12 when no receiver
 * runs firmware, -8 when the stored size is not a whole image or does not
 * fit, -16 after a failed transfer. */
int zk_read_config_image(unsigned char *image, int room);
/* 0 when the image is one zk_write_config_image takes (5 + 6 bytes per
 * button, its size header equal to its length), else -8 after an error line
 * saying why. */
int zk_check_config_image(const unsigned char *image, long length);
int zk_load_config(const char *path);
int zk_keys_recorded(void);
int zk_keys_remaining(void);
int zk_device_set_dfu(void);
int zk_last_upgrade_attempt(void);
int zk_delete_index(int index);
int zk_set_sequence_modifiers(int value);
int zk_get_sequence_modifiers(void);
int zk_fw_scm_hash(void);

/* ---- one writer per receiver ---- */

/* How long a writer waits for another program's write to end. */
#define ZK_LOCK_WAIT_MS 5000

/* Keeps every other program of ours from changing the open receiver until
 * the matching zk_unlock_receiver: an advisory lock on a file under
 * $XDG_RUNTIME_DIR/zirko/ (else /tmp/zirko-<uid>/) named after the
 * receiver's bus position. While another program holds it, writes "another
 * program is changing this receiver" on standard error and waits at most
 * wait_ms. Calls nest; every call of the library that writes takes it, so a
 * caller needs it only to keep a read and the write planned from it
 * together. 0, or -21 when the other program kept it. */
int zk_lock_receiver(int wait_ms);
void zk_unlock_receiver(void);

/* ---- firmware upgrade ---- */

/* Called after each page and once at the end with the percentage done. */
typedef void (*zk_progress_cb)(int percent, void *arg);

/* Switches the open receiver to its bootloader and opens it there, waiting
 * (bounded) for it to leave and come back: ZK_STATE_BOOTLOADER, -13 when the
 * receiver refused to switch, -6 when it did not come back, -19 with no
 * receiver open. */
int zk_enter_bootloader(int vendor_id);
/* 0 when the image could be uploaded (not empty, whole 128-byte pages, fits
 * the flash), else -8 after an error line saying why. */
int zk_check_fw_image(const unsigned char *image, long length);
int zk_upgrade_fw(const char *path, int vendor_id, const char *manufacturer, void *callback_arg,
                  zk_progress_cb callback);
int zk_upgrade_fw_ext(const unsigned char *image, int length, int vendor_id,
                      const char *manufacturer, void *callback_arg, zk_progress_cb callback);

/* ---- EEPROM access and product variant ---- */

#define ZK_PRODUCT_ZIRKO 2
#define ZK_PRODUCT_CORVANE 3

int zk_eeprom_peek(int address);
int zk_eeprom_poke(int address, int value);
/* Between these calls each EEPROM byte is fetched from the receiver at most
 * once, so a listing shows one moment at one read per byte. The calls nest;
 * a write, and closing the receiver, forget what was read. */
void zk_begin_snapshot(void);
void zk_end_snapshot(void);
int zk_product_type(void);
int zk_set_product_corvane(void);
int zk_initialize_product(int type);
int zk_mfg_tested(void);

/* ---- key names ---- */

/* Key report of a one-character name; 1 found, 0 not (usage printed). */
int zk_lookup_char(char character, uint8_t report[2]);
/* Key report of a key word; 1 found, -22 not (usage printed). */
int zk_lookup_word(const char *word, uint8_t report[2]);
void zk_print_record_usage(void);
/* Prints the recorded buttons of a configuration image copy. */
int zk_print_config(const unsigned char *image, int size);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
namespace zk {
/* zk_begin_snapshot for the life of a listing, ended however it ends. */
class EepromSnapshot {
 public:
  EepromSnapshot() { zk_begin_snapshot(); }
  ~EepromSnapshot() { zk_end_snapshot(); }
  EepromSnapshot(const EepromSnapshot &) = delete;
  EepromSnapshot &operator=(const EepromSnapshot &) = delete;
};
}  // namespace zk
#endif

#endif
