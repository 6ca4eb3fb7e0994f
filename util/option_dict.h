// Option dictionary: text keys to byte-string values in 16 fixed buckets, with
// a flat serialized form that is simply the records laid end to end.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "zirko.h"

// One record, a single block that is also its serialized form: this header,
// then keylen bytes of key (NUL included), then datalen - keylen value bytes.
// Records indexed inside a caller's buffer may be unaligned: read the header
// through kvpair_datalen / kvpair_keylen.
struct kvpair {
  uint32_t datalen;  // bytes after the header: key with its NUL plus value
  uint32_t keylen;   // key length including its NUL
};
constexpr size_t KVPAIR_HEADER = 8;

// Releases a node's record; null means the dict does not own the record.
typedef void (*kvpair_free_fn)(void *record);

struct kvpair_mgr {
  kvpair_mgr *next;   // next node of the same bucket
  kvpair_mgr **link;  // the link that points here (bucket head or previous next)
  kvpair_free_fn free_fn;
  kvpair *kv;
};

constexpr int DICT_BUCKETS = 16;

struct dict {
  kvpair_mgr *buckets[DICT_BUCKETS];
  uint32_t entries;  // nodes in all buckets
};

uint32_t kvpair_datalen(const kvpair *kv);
uint32_t kvpair_keylen(const kvpair *kv);
const char *kvpair_key(const kvpair *kv);
unsigned char *kvpair_value(kvpair *kv);
// Bucket of a key (0..15).
unsigned dict_bucket(const char *key);

dict *new_dict();
// New record holding a copy of key and of length bytes of value (value may be
// null: the bytes are then zero), freed with free().
kvpair *new_kvpair(const char *key, const void *value, uint32_t length);
kvpair_mgr *new_kvpair_mgr(kvpair *record, kvpair_free_fn free_fn);
// Inserts at the front of the key's bucket, replacing (and releasing) the
// node that held the same key. Null when no node could be made.
kvpair_mgr *dict_insert(dict *d, kvpair *record, kvpair_free_fn free_fn);
// Stores a copy; returns the stored value inside the new record, or null.
void *dict_set(dict *d, const char *key, const void *value, uint32_t length);
kvpair_mgr *dict_find(const dict *d, const char *key);
int dict_has(const dict *d, const char *key);
// The stored value (and its length when length_out is given), or null.
void *dict_get(const dict *d, const char *key, uint32_t *length_out);
void dict_remove(dict *d, const char *key);
void delete_dict(dict *d);

// Serialized order: bucket 0 to 15, each bucket newest first.
size_t dict_serialized_size(const dict *d);
size_t dict_serialize_into(const dict *d, void *buffer);
// New buffer freed by the caller with free(), or null.
void *dict_serialize(const dict *d, size_t *length_out);
// New dict holding copies of the buffer's records, or null if malformed.
dict *dict_deserialize(const void *buffer, size_t length);
// New dict whose nodes point into buffer, which must outlive it; each record
// is released with free_fn (null: never), or null if malformed.
dict *dict_for_buf(void *buffer, size_t length, kvpair_free_fn free_fn);
