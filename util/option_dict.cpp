// Option dictionary: 16 buckets of doubly linked nodes; each node points at
// one record block, which is copied as is when the dict is serialized.
#include "option_dict.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

namespace {

const unsigned char *bytes(const kvpair *kv) {
  return reinterpret_cast<const unsigned char *>(kv);
}

void unlink_node(kvpair_mgr *node) {
  *node->link = node->next;
  if (node->next) node->next->link = node->link;
}

void release_node(kvpair_mgr *node) {
  if (node->free_fn) node->free_fn(node->kv);
  free(node);
}

// Checks the record at offset and returns its size (header included), or 0
// when it is malformed: it must lie within the buffer, and its key must end in
// its only NUL exactly at keylen, so that a copy keeps the same layout.
size_t record_at(const unsigned char *buffer, size_t length, size_t offset) {
  size_t left = length - offset;
  if (left < KVPAIR_HEADER) return 0;
  const kvpair *kv = reinterpret_cast<const kvpair *>(buffer + offset);
  uint32_t datalen = kvpair_datalen(kv), keylen = kvpair_keylen(kv);
  if (datalen > left - KVPAIR_HEADER || keylen > datalen) return 0;
  const char *key = kvpair_key(kv);
  if (keylen == 0 || memchr(key, '\0', keylen) != key + keylen - 1) return 0;
  return KVPAIR_HEADER + datalen;
}

// Walks a whole serialized buffer; true when every record is well formed.
bool buffer_is_sound(const unsigned char *buffer, size_t length) {
  for (size_t offset = 0, size; offset < length; offset += size)
    if ((size = record_at(buffer, length, offset)) == 0) return false;
  return true;
}

}  // namespace

uint32_t kvpair_datalen(const kvpair *kv) {
  uint32_t value;
  memcpy(&value, bytes(kv) + offsetof(kvpair, datalen), sizeof value);
  return value;
}

uint32_t kvpair_keylen(const kvpair *kv) {
  uint32_t value;
  memcpy(&value, bytes(kv) + offsetof(kvpair, keylen), sizeof value);
  return value;
}

const char *kvpair_key(const kvpair *kv) {
  return reinterpret_cast<const char *>(bytes(kv) + KVPAIR_HEADER);
}

unsigned char *kvpair_value(kvpair *kv) {
  return reinterpret_cast<unsigned char *>(kv) + KVPAIR_HEADER + kvpair_keylen(kv);
}

unsigned dict_bucket(const char *key) {
  uint32_t sum = 0, position = 1;
  for (const char *c = key; *c; ++c, ++position)
    sum += uint32_t(int32_t(static_cast<signed char>(*c))) * 7u * position;
  return sum % DICT_BUCKETS;
}

dict *new_dict() {
  dict *d = static_cast<dict *>(calloc(1, sizeof(dict)));
  if (!d) ZK_LOGE("could not allocate new dictionary : %s", strerror(errno));
  return d;
}

kvpair *new_kvpair(const char *key, const void *value, uint32_t length) {
  size_t keylen = strlen(key) + 1;
  if (keylen + length > UINT32_MAX) {  // datalen would not fit its field
    ZK_LOGE("could not allocate new key/value : %s", strerror(EOVERFLOW));
    return nullptr;
  }
  kvpair *kv = static_cast<kvpair *>(malloc(KVPAIR_HEADER + keylen + length));
  if (!kv) {
    ZK_LOGE("could not allocate new key/value : %s", strerror(errno));
    return nullptr;
  }
  uint32_t header[2] = {uint32_t(keylen + length), uint32_t(keylen)};
  memcpy(kv, header, sizeof header);
  unsigned char *data = reinterpret_cast<unsigned char *>(kv) + KVPAIR_HEADER;
  memcpy(data, key, keylen);
  if (value && length)
    memcpy(data + keylen, value, length);
  else if (length)
    memset(data + keylen, 0, length);
  return kv;
}

kvpair_mgr *new_kvpair_mgr(kvpair *record, kvpair_free_fn free_fn) {
  kvpair_mgr *node = static_cast<kvpair_mgr *>(calloc(1, sizeof(kvpair_mgr)));
  if (!node) {
    ZK_LOGE("could not allocate new key/value mgr: %s", strerror(errno));
    return nullptr;
  }
  node->free_fn = free_fn;
  node->kv = record;
  return node;
}

kvpair_mgr *dict_insert(dict *d, kvpair *record, kvpair_free_fn free_fn) {
  kvpair_mgr *node = new_kvpair_mgr(record, free_fn);
  if (!node) return nullptr;
  const char *key = kvpair_key(record);
  if (kvpair_mgr *old = dict_find(d, key)) {
    --d->entries;
    unlink_node(old);
    release_node(old);
  }
  kvpair_mgr **head = &d->buckets[dict_bucket(key)];
  node->next = *head;
  node->link = head;
  if (*head) (*head)->link = &node->next;
  *head = node;
  ++d->entries;
  return node;
}

void *dict_set(dict *d, const char *key, const void *value, uint32_t length) {
  kvpair *record = new_kvpair(key, value, length);
  if (!record) return nullptr;
  if (!dict_insert(d, record, free)) {
    free(record);
    return nullptr;
  }
  return kvpair_value(record);
}

kvpair_mgr *dict_find(const dict *d, const char *key) {
  for (kvpair_mgr *node = d->buckets[dict_bucket(key)]; node; node = node->next)
    if (strcmp(kvpair_key(node->kv), key) == 0) return node;
  return nullptr;
}

int dict_has(const dict *d, const char *key) {
  return dict_find(d, key) ? 1 : 0;
}

void *dict_get(const dict *d, const char *key, uint32_t *length_out) {
  kvpair_mgr *node = dict_find(d, key);
  if (!node) return nullptr;
  if (length_out) *length_out = kvpair_datalen(node->kv) - kvpair_keylen(node->kv);
  return kvpair_value(node->kv);
}

void dict_remove(dict *d, const char *key) {
  kvpair_mgr *node = dict_find(d, key);
  if (!node) return;
  unlink_node(node);
  release_node(node);
  --d->entries;
}

void delete_dict(dict *d) {
  if (!d) return;
  for (kvpair_mgr *&head : d->buckets) {
    while (kvpair_mgr *node = head) {
      unlink_node(node);
      release_node(node);
      --d->entries;
    }
  }
  if (d->entries != 0) ZK_LOGW("dict->entries non-zero on free");
  free(d);
}

size_t dict_serialized_size(const dict *d) {
  size_t size = 0;
  for (kvpair_mgr *head : d->buckets)
    for (kvpair_mgr *node = head; node; node = node->next)
      size += KVPAIR_HEADER + kvpair_datalen(node->kv);
  return size;
}

size_t dict_serialize_into(const dict *d, void *buffer) {
  unsigned char *out = static_cast<unsigned char *>(buffer);
  size_t offset = 0;
  for (kvpair_mgr *head : d->buckets) {
    for (kvpair_mgr *node = head; node; node = node->next) {
      size_t size = KVPAIR_HEADER + kvpair_datalen(node->kv);
      memcpy(out + offset, node->kv, size);
      offset += size;
    }
  }
  return offset;
}

void *dict_serialize(const dict *d, size_t *length_out) {
  size_t size = dict_serialized_size(d);
  if (length_out) *length_out = size;
  // An empty dict still gets a buffer: null must mean failure.
  void *buffer = malloc(size ? size : 1);
  if (!buffer) {
    ZK_LOGE("could not allocate serialized buffer : %s", strerror(errno));
    return nullptr;
  }
  dict_serialize_into(d, buffer);
  return buffer;
}

dict *dict_deserialize(const void *buffer, size_t length) {
  dict *d = new_dict();
  if (!d) return nullptr;
  const unsigned char *in = static_cast<const unsigned char *>(buffer);
  for (size_t offset = 0, size; offset < length; offset += size) {
    size = record_at(in, length, offset);
    if (size == 0) {
      ZK_LOGE("deserialize sanity check failed");
      delete_dict(d);
      return nullptr;
    }
    const kvpair *kv = reinterpret_cast<const kvpair *>(in + offset);
    uint32_t keylen = kvpair_keylen(kv);
    kvpair *copy = new_kvpair(kvpair_key(kv), in + offset + KVPAIR_HEADER + keylen,
                              kvpair_datalen(kv) - keylen);
    if (!copy || !dict_insert(d, copy, free)) {
      free(copy);
      delete_dict(d);
      return nullptr;
    }
  }
  return d;
}

dict *dict_for_buf(void *buffer, size_t length, kvpair_free_fn free_fn) {
  unsigned char *in = static_cast<unsigned char *>(buffer);
  // Checked whole before anything is indexed: a rejected buffer stays
  // entirely the caller's, none of its records handed to free_fn.
  if (!buffer_is_sound(in, length)) {
    ZK_LOGE("deserialize sanity check failed");
    return nullptr;
  }
  dict *d = new_dict();
  if (!d) return nullptr;
  for (size_t offset = 0; offset < length; offset += record_at(in, length, offset)) {
    if (!dict_insert(d, reinterpret_cast<kvpair *>(in + offset), free_fn)) {
      // The records stay the caller's: drop only the nodes.
      for (kvpair_mgr *&head : d->buckets) {
        while (kvpair_mgr *node = head) {
          unlink_node(node);
          free(node);
          --d->entries;
        }
      }
      delete_dict(d);
      return nullptr;
    }
  }
  return d;
}
