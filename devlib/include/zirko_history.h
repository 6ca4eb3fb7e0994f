/* Zirko device library: the history of the receiver's configurations.
 *
 * Before a program changes the recorded buttons or the settings it keeps the
 * configuration image it is about to replace, so that every change can be
 * undone. The store is a folder, $XDG_STATE_HOME/zirko/history (by default
 * ~/.local/state/zirko/history), holding one .zcfg file per kept image and
 * a small text index. Both programs use the same store.
 *
 * C-style like the rest of the library: int results (negative for failure),
 * no exceptions. After a failure zk_history_error() says why, naming the
 * file and the system's reason. */
#ifndef ZIRKO_HISTORY_H
#define ZIRKO_HISTORY_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The store keeps the newest entries only (each at most ZK_MAX_IMAGE_SIZE, so the
 * folder stays below about 100 KB). */
#define ZK_HISTORY_MAX_ENTRIES 100

/* A write that stopped at a safe point because zk_request_stop was called. */
#define ZK_ERR_INTERRUPTED -10

typedef struct zk_history_entry {
  int64_t time;      /* when it was kept, in seconds since the epoch */
  char change[48];   /* what was about to change it: "format", "restore 3" */
  char position[32]; /* the receiver's bus position, "" when unknown */
  char firmware[16]; /* the receiver's firmware version, "3.8" */
  int buttons;       /* buttons in the image */
  int size;          /* bytes in the image */
  char file[64];     /* the image's file name inside the folder */
} zk_history_entry;

/* The folder of the store into path (room bytes): its length, or -9 when
 * neither XDG_STATE_HOME nor a home folder is known. */
int zk_history_folder(char *path, size_t room);

/* Keeps a configuration image (5 + 6 bytes per button) as the newest entry,
 * with what is about to change it and the open receiver's position and
 * firmware version: 1 when kept, 0 when it equals the newest entry (stored
 * once), -8 for an image that is not one, -9 when the store could not be
 * written (the store is then as it was). */
int zk_history_keep(const unsigned char *image, int length, const char *change);

/* Entries in the store (0 when it is empty or absent), or -14 when the
 * index cannot be read. */
int zk_history_count(void);

/* Entry n, counted from 1 for the newest: 0, -8 for no such entry, -14. */
int zk_history_entry_at(int n, zk_history_entry *entry);

/* The image of entry n into image (room bytes): its length, -8 for no such
 * entry or a room too small, -14 when its file is missing or not an image. */
int zk_history_image(int n, unsigned char *image, int room);

/* The newest entry of the open receiver (same bus position, or none
 * recorded) whose image differs from the given one (the receiver's now): its
 * number, 0 when there is none, or -14. */
int zk_history_undo_entry(const unsigned char *image, int length);

/* Puts entry n back on the open receiver: the current image is kept first
 * under `change` (unless change is null), then only the bytes that differ
 * are written, the size header last. 0, -8 for no such entry, -9 when the
 * current image could not be kept (nothing written), -14, the write's
 * failure (-16, ZK_ERR_INTERRUPTED), or -12 when no receiver runs firmware. */
int zk_history_restore(int n, const char *change);

/* Why the last failed call of this header failed. */
const char *zk_history_error(void);

/* ---- stopping long operations ---- */

/* Asks the running wait or bulk write to stop at its next safe point: a
 * wait for a button ends (the receiver back in normal mode), an image write
 * stops between entries and never between the last entry and the size
 * header, an upload stops between pages. Async-signal-safe. */
void zk_request_stop(void);
/* 1 after zk_request_stop until zk_clear_stop. */
int zk_stop_requested(void);
void zk_clear_stop(void);

/* Writes a configuration image over the receiver's current one, whose bytes
 * the caller has already read (current, current_length): only bytes that
 * differ are written, the size header last. As zk_write_config_image, plus
 * ZK_ERR_INTERRUPTED. With current null every byte is compared first. */
int zk_write_config_image_over(const unsigned char *image, int length, const unsigned char *current,
                               int current_length);

#ifdef __cplusplus
}
#endif

#endif
