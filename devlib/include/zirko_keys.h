/* Keys the receiver types: a program follows what the receiver sends to the
 * computer, as the key reports its recorded buttons store, without taking
 * the keys away from the desktop.
 *
 * On the USB bus the keys are read from the receiver's own input event
 * nodes (the input devices the kernel made for that USB device, never any
 * other keyboard); on the virtual receiver they are the reports its
 * recorded buttons send. C-style, like zirko.h. */
#ifndef ZIRKO_KEYS_H
#define ZIRKO_KEYS_H

#include <stddef.h>
#include <stdint.h>

#include "zirko.h"

#ifdef __cplusplus
extern "C" {
#endif

/* zk_key_monitor_open: an input node of the receiver may not be read by this
 * user (the udev rule grants the seat's user access). */
#define ZK_ERR_ACCESS -3

typedef struct zk_key_event {
  uint8_t usage;    /* HID key code or marker code, as a recorded button stores it */
  uint8_t modifier; /* modifier bits, or the second byte of a media or system key */
  int code;         /* the input event's key code, or -1 where there is none */
} zk_key_event;

typedef struct zk_key_monitor zk_key_monitor;

/* Starts following the keys of the receiver opened with zk_open_device; only
 * keys sent from now on are seen. 0 with *monitor set (free it with
 * zk_key_monitor_close), or: ZK_ERR_NOT_USABLE with no receiver open,
 * ZK_ERR_NOT_FOUND when the receiver has no input node, ZK_ERR_ACCESS when a
 * node may not be read, ZK_ERR_FILE_READ when one cannot be opened or read
 * otherwise, ZK_ERR_NO_MEMORY. On failure `problem` (when not null) holds
 * what went wrong, naming the node: "/dev/input/event7: Permission denied". */
int zk_key_monitor_open(zk_key_monitor **monitor, char *problem, size_t problem_size);
/* Waits up to timeout_ms (clamped to 0..10000) for the next key pressed:
 * 1 with *event filled, 0 when none came in time, ZK_ERR_NOT_USABLE when the
 * receiver left the bus (close the monitor; open one again once the receiver
 * is back), ZK_ERR_FILE_READ when a node failed (zk_key_monitor_problem says
 * which and why). Key releases and repeats are not reported. */
int zk_key_monitor_next(zk_key_monitor *monitor, zk_key_event *event, int timeout_ms);
/* Where the keys come from: the input nodes ("/dev/input/event7
 * /dev/input/event8"), or "the virtual receiver". */
const char *zk_key_monitor_source(const zk_key_monitor *monitor);
/* The last failure of zk_key_monitor_next, naming the node; "" when none. */
const char *zk_key_monitor_problem(const zk_key_monitor *monitor);
void zk_key_monitor_close(zk_key_monitor *monitor);

#ifdef __cplusplus
}
#endif

#endif
