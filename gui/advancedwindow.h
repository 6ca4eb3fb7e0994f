#ifndef ZIRKO_GUI_ADVANCEDWINDOW_H
#define ZIRKO_GUI_ADVANCEDWINDOW_H

#include <QWidget>
#include <chrono>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTimer;

// The receiver's switchable settings. Every change is written to the
// receiver at once; loading values from the receiver writes nothing back.
class AdvancedWindow : public QWidget {
  Q_OBJECT

 public:
  explicit AdvancedWindow(QWidget *parent = nullptr);

  // Enables and loads the controls from the receiver, or disables them.
  void refreshSettings(bool connected);
  // Asked before each change with its name as the history keeps it
  // ("noise_canceler 1"); false leaves the receiver and the control as
  // they were. Unset, every change goes ahead.
  using Keeper = std::function<bool(const QString &change)>;
  void setKeeper(Keeper keeper) { m_keep = std::move(keeper); }

  // The combo's first item is the longest delay.
  static constexpr int kMaxInterkeyDelay = 7;
  // How often a shown window reads the receiver again.
  static constexpr std::chrono::milliseconds kFollowInterval{2000};

 signals:
  void do_forced_update();

 public slots:
  void sd_box_clicked(int state);
  void nc_box_clicked(int state);
  void pr_box_clicked(int state);
  void sm_box_clicked(int state);
  void ik_delay_changed(int index);
  void fw_upg_clicked(bool checked);

 protected:
  // Shown again, it reads the receiver anew: settings may have changed
  // meanwhile (zirko_util, another window).
  void showEvent(QShowEvent *event) override;
  void hideEvent(QHideEvent *event) override;

 private:
  void detachControls();
  void attachControls();
  // A refused read (negative) means the firmware lacks the setting.
  static void loadBox(QCheckBox *box, int reading);
  // Keeps the configuration before `change`; false after putting the
  // controls back as the receiver has them.
  bool kept(const QString &change);

  QCheckBox *sleepBox;
  QCheckBox *noiseBox;
  QCheckBox *profilesBox;
  QCheckBox *sequenceBox;
  QLabel *delayLabel;
  QComboBox *delayCombo;
  QPushButton *upgradeButton;
  bool m_connected = false;
  // While shown, the receiver is read again now and then.
  QTimer *m_follow;
  Keeper m_keep;
};

#endif  // ZIRKO_GUI_ADVANCEDWINDOW_H
