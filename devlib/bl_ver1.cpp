// Operation table builders of this generation (slots filled as the protocol is built).
#include "internal.h"

zk_ops *zk_bl_ver1_init() {
  zk_ops *ops = zk_new_ops(__func__);
  if (ops) ops->version_str = zk_bl_version_str;
  return ops;
}
