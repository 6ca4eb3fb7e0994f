#ifndef ZIRKO_GUI_ZIRKO_INTERRUPT_H
#define ZIRKO_GUI_ZIRKO_INTERRUPT_H

#include <QThread>

// Waits on the receiver's interrupt endpoint for the outcome of a
// generation-1 recording or erase, which blocks until a remote button is
// pressed. It answers only through exactly one of its signals per run.
class zirko_interrupt : public QThread {
  Q_OBJECT

 public:
  using QThread::QThread;

 signals:
  void record_success();
  void record_failed_no_space();
  void record_failed_exists();
  void erase_failed_nobutton();
  void transfer_failed();

 protected:
  void run() override;
};

#endif  // ZIRKO_GUI_ZIRKO_INTERRUPT_H
