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
/* Results that only one call gives, named where that call is declared. */
#define ZK_ERR_LIST_EMPTY -4      /* list navigation: no receiver in the list */
#define ZK_ERR_LIST_SINGLE -3     /* zk_prev_device: the list holds one receiver */
#define ZK_ERR_UNKNOWN_VARIANT -1 /* zk_product_type: byte 3 names no variant */
#define ZK_ERR_CONFIG_MEMORY -5   /* no memory for a copy of the configuration */
#define ZK_ERR_NO_SUCH_WORD -22   /* zk_lookup_word: no key has that word */

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
/* Sets the threshold: above ZK_LOG_VERBOSE it is stored as ZK_LOG_VERBOSE, 0
 * or less silences every line. Returns the value stored. */
int zk_set_log_level(int level);
/* Non-zero makes every later scan turn on the USB library's own debug
 * output. Returns the flag stored (1 or 0). */
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
/* CRC-8, polynomial 0x07 from 0, MSB first, over at most 255 bytes. */
uint8_t zk_crc8(const unsigned char *bytes, uint8_t count);
/* The same CRC-8, continued from `initial`. */
uint8_t zk_crc8_update(const unsigned char *bytes, uint8_t count, uint8_t initial);
/* CRC-16, polynomial 0x1021 from `initial`, MSB first, no final inversion. */
uint16_t zk_crc16(const unsigned char *bytes, uint32_t count, uint16_t initial);
/* CRC-32, polynomial 0x04C11DB7 from `initial`, MSB first, not reflected. */
uint32_t zk_crc32(const unsigned char *bytes, uint32_t count, uint32_t initial);
/* Microseconds of wall clock since `then` (negative if the clock went back). */
int64_t zk_elapsed_us(const struct timeval *then);
/* 1 when at least limit_us have passed since `then`, else 0. */
int zk_timed_out(const struct timeval *then, int64_t limit_us);
/* Minute of the hour x 100 + seconds, with microseconds: for log lines. */
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

/* Scans the bus and appends to `list` every receiver of the vendor whose
 * manufacturer string matches, each opened with its interface claimed when
 * free. Returns how many were added, or the USB code of a bus that cannot
 * be scanned. Makes no transfer to a receiver. */
int zk_open_devices(zk_device *list, int vendor_id, const char *manufacturer);
/* One control transfer to the receiver in use: the bytes moved, a negative
 * USB code (its text in a debug line), or -19 (ZK_ERR_NOT_USABLE) with no
 * receiver open. Waits at most timeout_ms (0: no limit). */
int zk_send_msg(int request_type, int request, int value, int index, unsigned char *data,
                int length, unsigned int timeout_ms);
/* One interrupt read from `endpoint` of the receiver in use, at most
 * timeout_ms (0: no limit): 0 with the count in *transferred, a negative USB
 * code, or -19 with no receiver open. */
int zk_set_interrupt_ep(int endpoint, unsigned char *data, int length, int *transferred,
                        unsigned int timeout_ms);
/* Makes the next receiver of the scan current: 0, or ZK_ERR_LIST_EMPTY
 * after an error line when the list holds none. */
int zk_next_device(void);
/* Makes the previous receiver current: 0, ZK_ERR_LIST_EMPTY for an empty
 * list, ZK_ERR_LIST_SINGLE when it holds one (nothing to go back to). */
int zk_prev_device(void);
/* Makes the first receiver of the scan current (none for an empty list): 0. */
int zk_first_device(void);
/* 1 when the current receiver is the last of the scan, else 0. */
int zk_device_is_last(void);
/* 1 when the current receiver is the first of the scan, else 0. */
int zk_device_is_first(void);
/* 1 when the navigation went past the end of a list that is not empty. */
int zk_device_at_end(void);
/* The head of the scan's list, owned by the library (it is no receiver). */
zk_device *zk_get_device_list(void);

/* ---- device state and dispatch ---- */

/* Opens the first receiver found (or the one chosen with
 * zk_choose_device), trying the legacy manufacturer string too, reads its
 * version once (zk_opened_version keeps it) and installs its generation's
 * operations: ZK_STATE_BOOTLOADER or ZK_STATE_FIRMWARE, -6 with none on the
 * bus (every operation then answers -12), -19 when one was found but cannot
 * be used (closed again). The interface is claimed when it is free. */
int zk_open_device(int vendor_id, const char *manufacturer);
/* Closes the receiver in use, if any, and forgets its scan and its EEPROM
 * snapshot. Harmless when none is open. */
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
/* ZK_STATE_BOOTLOADER or ZK_STATE_FIRMWARE for the receiver in use, without
 * a transfer; -12 with none. */
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
/* The version read now (one transfer), as zk_version_number gives it:
 * -9.0 with no receiver open, -16.0 when the read failed. */
float zk_version(void);
/* The major version read now (one transfer): 0-255, -9 or -16. */
int zk_major_version(void);
/* The minor version read now (one transfer): 0-255, -9 or -16. */
int zk_minor_version(void);
/* Both numbers from one version read: 0, or -9 with no receiver open, or
 * -16; on failure both numbers are set to that code, as the single calls give. */
int zk_read_version(int *major, int *minor);
/* The numbers the open of the receiver in use read, without asking it
 * again: 0, or -9 with no receiver open (both numbers set to it). */
int zk_opened_version(int *major, int *minor);
/* The version text of the receiver in use, from one version read (and, in
 * firmware, the source-control hash): "3.7 05-14-2019 [0x5EEDC0DE]", or a
 * bootloader's "2.1 05-03-2014"; a static text overwritten by the next
 * call. NULL with no receiver or when the read failed. */
const char *zk_version_str(void);
/* The version as zk_version gives it: 2.6 from 2 and 6, 2.12 from 2 and 12,
 * and a failure code (negative major) as itself. */
float zk_version_number(int major, int minor);

/* Bootloaders: restart into the firmware. 0 once asked (the receiver then
 * leaves the bus), ZK_ERR_UPGRADE when it refused, -12 in firmware mode. */
int zk_leave_bootloader(void);
/* Restarts the receiver in its current mode: 0, -16, or -12 with none open. */
int zk_reboot(void);
/* Delete mode: the next remote button pressed is forgotten. wait 0 returns
 * 0 once the mode is on; otherwise waits for the press and returns its
 * outcome as zk_set_interrupt does. -16 when the request failed. */
int zk_set_delete(int wait);
/* Record mode for a key name (as zk_lookup_char and zk_lookup_word take
 * them): the next remote button pressed sends that key. -8 for an unknown
 * name; timeout_s 0 returns 0 once the mode is on, otherwise the outcome
 * as zk_set_interrupt gives it. */
int zk_set_record(const char *key_name, int timeout_s);
/* zk_set_record for a raw key report: the HID key code (or marker code)
 * and its second byte, sent unchecked. */
int zk_set_record_api(int modifier, int key_code, int timeout_s);
/* Leaves record or delete mode: 0 or -16. */
int zk_set_normal(void);
/* Waits up to timeout_s (0: the longest wait) for a recording or deletion
 * to end: 0 done, ZK_ERR_NO_SPACE, ZK_ERR_EXISTS, ZK_ERR_NOT_FOUND,
 * ZK_ERR_TIMEOUT, ZK_ERR_NO_OUTCOME (generation 1) or -16. */
int zk_set_interrupt(int timeout_s);
/* Deletes every button that sends the key name: the receiver's reply byte
 * (ZK_RX_DONE or ZK_RX_NOT_FOUND), -8 for an unknown name, or -16. */
int zk_delete_buttons(const char *key_name);
/* Noise canceler on (1 to 3) or off (0): 0, -8 out of range, -16. */
int zk_set_noise_cancel(int value);
/* 1 when the noise canceler is on, 0 when off, or -16. */
int zk_get_noise_cancel(void);
/* Receiving sensitivity 0 to 3: 0, -8 out of range, -16. */
int zk_set_sensitivity(int value);
/* Receiving sensitivity 0 to 3, or -16. */
int zk_get_sensitivity(void);
/* Pause between the keys of a sequence, 0 to 7: 0, -8 out of range, -16. */
int zk_set_interkey_delay(int value);
/* Pause between the keys of a sequence, 0 to 7 (as the low bits hold it), or -16. */
int zk_get_interkey_delay(void);
/* 1 when sleep detection is on, 0 when off, -16, or -12 in a bootloader. */
int zk_get_sleep_detect(void);
/* Sleep detection on (1) or off (0): 0, -8 for another value, -16, or -12. */
int zk_set_sleep_detect(int value);
/* Firmware 2.1 and later: 1 when the built-in profiles are on, 0 when
 * off, -16, or -12 for older firmware. */
int zk_get_builtin_profile_support(void);
/* Firmware 2.1 and later: built-in profiles on (1) or off (0): 0, -8,
 * -16, or -12 for older firmware. */
int zk_set_builtin_profile_support(int value);
/* The state code of a recording or deletion (ZK_RX_...), or -16; 0 in a
 * bootloader without a transfer. */
int zk_get_state(void);
/* Clears the state code: the receiver's reply byte, or -16. */
int zk_clear_state(void);
/* Prints the recorded buttons (one read of the image): 0, or the size
 * read's failure (-1 corrupt, -16), or ZK_ERR_CONFIG_MEMORY. */
int zk_display_config(void);
/* Erases every button, keeping the settings: 0, or -16 (also when the
 * receiver takes longer than the request's 10 s; it goes on erasing). */
int zk_format_config(void);
/* Writes the configuration image to the file at path (see zk_save_file):
 * 0, -6 for a path or file that cannot be used, -16, or
 * ZK_ERR_CONFIG_MEMORY. */
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
/* Writes a configuration file's image to the receiver as
 * zk_write_config_image does: 0, -6 for a file that cannot be read or is no
 * whole image, or that call's failures. */
int zk_load_config(const char *path);
/* Buttons recorded, from the size header (2 reads): the count, -1 for a
 * corrupt size, or -16. */
int zk_keys_recorded(void);
/* Buttons that still fit, from the size header: the count, -1 or -16. */
int zk_keys_remaining(void);
/* Asks the firmware to restart into its bootloader: 0 once it leaves, -16
 * when it stays; 1 without a transfer when it already runs its bootloader.
 * The caller closes and waits for it to come back (or uses
 * zk_enter_bootloader, which does both). */
int zk_device_set_dfu(void);
/* Bootloaders: 1 when the last upload did not finish, 0 when it did,
 * ZK_ERR_FAILED when the flag could not be read, -12 in firmware. */
int zk_last_upgrade_attempt(void);
/* Firmware 2 and later: deletes the button at index (0 first), moving the
 * ones behind it and writing only the bytes that change, the size last.
 * 0, ZK_ERR_FAILED for an index with no button or an unreadable size,
 * -16, ZK_ERR_BUSY when another program moved the size meanwhile (the size
 * is then not written), ZK_ERR_INTERRUPTED when stopped between two
 * buttons, -12 for generation 1. */
int zk_delete_index(int index);
/* Firmware 3: sequenced modifiers on (1) or off (0): 0, -8, -16, or -12. */
int zk_set_sequence_modifiers(int value);
/* Firmware 3: 1 when sequenced modifiers are on, 0 when off, -16, or -12. */
int zk_get_sequence_modifiers(void);
/* The firmware's source-control hash, read now (one transfer), as an int
 * whose bits are the 32-bit hash; -16 when the read failed, -12 in a
 * bootloader. A hash may read as a negative int: compare with -16 and -12. */
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
/* zk_upgrade_fw_ext with the image read from the file at path: -9 when it
 * cannot be read. */
int zk_upgrade_fw(const char *path, int vendor_id, const char *manufacturer, void *callback_arg,
                  zk_progress_cb callback);
/* Uploads a firmware image and starts it, following the receiver through
 * its restarts (bounded waits): waits for a receiver when none is open,
 * checks the image (zk_check_fw_image) before the receiver leaves its
 * firmware, uploads it in the bootloader and waits for the firmware to
 * come back open. 0, ZK_ERR_UPGRADE for a refused image or
 * a step that failed, ZK_ERR_FAILED when the upload failed (the receiver
 * stays in its bootloader), ZK_ERR_BUSY when another program is writing. */
int zk_upgrade_fw_ext(const unsigned char *image, int length, int vendor_id,
                      const char *manufacturer, void *callback_arg, zk_progress_cb callback);

/* ---- EEPROM access and product variant ---- */

#define ZK_PRODUCT_ZIRKO 2
#define ZK_PRODUCT_CORVANE 3

/* One EEPROM byte (0-255), fetched once inside a snapshot: -19 with no
 * receiver open, -8 for an address outside the EEPROM, -16. */
int zk_eeprom_peek(int address);
/* Writes one EEPROM byte, under the write lock, forgetting any snapshot:
 * 0, -19, -8 for an address or value out of range, -16, ZK_ERR_BUSY. */
int zk_eeprom_poke(int address, int value);
/* Between these calls each EEPROM byte is fetched from the receiver at most
 * once, so a listing shows one moment at one read per byte. The calls nest;
 * a write, and closing the receiver, forget what was read. */
void zk_begin_snapshot(void);
void zk_end_snapshot(void);
/* The variant in EEPROM byte 3: ZK_PRODUCT_ZIRKO, ZK_PRODUCT_CORVANE,
 * ZK_ERR_UNKNOWN_VARIANT, -16, or -12 with no receiver. */
int zk_product_type(void);
/* Marks the receiver as the Corvane variant (byte 3, other bits kept): 0,
 * -19, -16 when the read failed, or the write's failure. */
int zk_set_product_corvane(void);
/* Type ZK_PRODUCT_CORVANE marks the receiver so (its failure is only
 * logged); ZK_PRODUCT_ZIRKO needs nothing; another type is logged. 0, or
 * -19 with no receiver open. */
int zk_initialize_product(int type);
/* Clears the factory-test mark (bit 0 of byte 3): 0, -19, -16, or the
 * write's failure. */
int zk_mfg_tested(void);

/* ---- key names ---- */

/* Key report of a one-character name; 1 found, 0 not (usage printed). */
int zk_lookup_char(char character, uint8_t report[2]);
/* Key report of a key word; 1 found, -22 not (usage printed). */
int zk_lookup_word(const char *word, uint8_t report[2]);
/* Prints the key names `record` takes, on standard error. */
void zk_print_record_usage(void);
/* The key word at a position of the key table, from 0 (in the order the
 * lookups search them), or NULL past the last: for a shell's completion. */
const char *zk_key_word(int position);
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

// zk_lock_receiver for the life of a read and the writes planned from it.
class WriteLock {
 public:
  explicit WriteLock(int wait_ms = ZK_LOCK_WAIT_MS) : result_(zk_lock_receiver(wait_ms)) {}
  ~WriteLock() {
    if (result_ == 0) zk_unlock_receiver();
  }
  WriteLock(const WriteLock &) = delete;
  WriteLock &operator=(const WriteLock &) = delete;
  // 0 when held, else ZK_ERR_BUSY: the write must not start.
  int result() const { return result_; }
  bool held() const { return result_ == 0; }

 private:
  int result_;
};
}  // namespace zk
#endif

#endif
