// Operation table builders of this generation (slots filled as the protocol is built).
#include "internal.h"

zk_ops *zk_fw_ver1_init() { return zk_new_ops(__func__); }
