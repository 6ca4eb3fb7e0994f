#include "zirko_interrupt.h"

#include "zirko.h"

void zirko_interrupt::run() {
  // No time limit: only a button press or a lost receiver ends the wait.
  const int rc = zk_set_interrupt(0);
  if (rc < 0) ZK_LOGE("error");
  ZK_LOGD("running interrupt thread");
  switch (rc) {
    case ZK_OK:
      ZK_LOGD("recorded succesfully");
      emit record_success();
      break;
    case ZK_ERR_NO_SPACE:
      ZK_LOGE("no space on device");
      emit record_failed_no_space();
      break;
    case ZK_ERR_EXISTS:
      ZK_LOGE("button already exists");
      emit record_failed_exists();
      break;
    case ZK_ERR_NOT_FOUND:
      ZK_LOGE("key not found");
      emit erase_failed_nobutton();
      break;
    default:
      // Also an outcome byte the firmware doesn't define (a positive value).
      ZK_LOGE("libusb error");
      emit transfer_failed();
      break;
  }
}
