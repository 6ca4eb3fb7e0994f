#include "advancedwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "zirko.h"

namespace {

QCheckBox *makeBox(QWidget *parent, const char *name, const QString &text, const QString &tip) {
  auto *box = new QCheckBox(text, parent);
  box->setObjectName(name);
  box->setToolTip(tip);
  return box;
}

int isChecked(int state) {
  return state == Qt::Checked ? 1 : 0;
}

}  // namespace

AdvancedWindow::AdvancedWindow(QWidget *parent) : QWidget(parent) {
  setObjectName("AdvancedWindow");
  auto *grid = new QGridLayout(this);
  auto *group = new QGroupBox(tr("Advanced Settings"), this);
  group->setFlat(true);
  grid->addWidget(group, 0, 0);

  sleepBox = makeBox(group, "sleepBox", tr("Sleep Detection"),
                     tr("Enable this option if you recorded the wake key"));
  noiseBox = makeBox(group, "noiseBox", tr("Noise Canceler"),
                     tr("Enable this option if your zirko is responding to ghost signals"));
  profilesBox = makeBox(group, "profilesBox", tr("Builtin Profiles"),
                        tr("Enable the builtin Harmony Zirko-Kodi profile"));
  sequenceBox = makeBox(group, "sequenceBox", tr("Sequence Modifiers"),
                        tr("Enable this for windows media center"));

  upgradeButton = new QPushButton(tr("Force FW Upgrade"), group);
  upgradeButton->setObjectName("upgradeButton");
  connect(upgradeButton, &QPushButton::clicked, this, &AdvancedWindow::fw_upg_clicked,
          Qt::UniqueConnection);

  delayLabel = new QLabel(tr("Inter-Key Delay:"), group);
  delayLabel->setObjectName("delayLabel");
  delayLabel->setToolTip(
      tr("Change these settings if you have sticky\n[6 = more sticky]\n[0 = less sticky]"));
  delayCombo = new QComboBox(group);
  delayCombo->setObjectName("delayCombo");
  static const char *const kDelayItems[] = {QT_TR_NOOP("7"), QT_TR_NOOP("6"), QT_TR_NOOP("5"),
                                            QT_TR_NOOP("4"), QT_TR_NOOP("3"), QT_TR_NOOP("2"),
                                            QT_TR_NOOP("1"), QT_TR_NOOP("0")};
  for (const char *item : kDelayItems) delayCombo->addItem(tr(item));

  auto *column = new QVBoxLayout(group);
  column->addWidget(sleepBox);
  column->addWidget(noiseBox);
  column->addWidget(profilesBox);
  column->addWidget(sequenceBox);
  column->addSpacing(8);
  column->addWidget(delayLabel);
  column->addWidget(delayCombo);
  column->addWidget(upgradeButton);
  column->addStretch(1);

  m_follow = new QTimer(this);
  m_follow->setInterval(kFollowInterval);
  connect(m_follow, &QTimer::timeout, this, [this] {
    if (m_connected) refreshSettings(true);
  });

  setEnabled(false);
  setWindowTitle(tr("Advanced Settings"));
  resize(250, 120);
}

void AdvancedWindow::loadBox(QCheckBox *box, int reading) {
  box->setEnabled(reading >= 0);
  box->setChecked(reading > 0);
}

void AdvancedWindow::showEvent(QShowEvent *event) {
  QWidget::showEvent(event);
  if (m_connected) refreshSettings(true);
  m_follow->start();
}

void AdvancedWindow::hideEvent(QHideEvent *event) {
  m_follow->stop();
  QWidget::hideEvent(event);
}

void AdvancedWindow::refreshSettings(bool connected) {
  m_connected = connected;
  detachControls();
  if (connected) {
    setEnabled(true);
    const zk::EepromSnapshot snapshot;  // five settings from two bytes: each read once
    loadBox(sleepBox, zk_get_sleep_detect());
    loadBox(noiseBox, zk_get_noise_cancel());
    loadBox(profilesBox, zk_get_builtin_profile_support());
    loadBox(sequenceBox, zk_get_sequence_modifiers());
    const int delay = zk_get_interkey_delay();
    const bool known = delay >= 0 && delay <= kMaxInterkeyDelay;
    delayCombo->setEnabled(known);
    delayLabel->setEnabled(known);
    if (known) delayCombo->setCurrentIndex(kMaxInterkeyDelay - delay);
  } else {
    setEnabled(false);
  }
  attachControls();
}

void AdvancedWindow::detachControls() {
  for (QCheckBox *box : {sleepBox, noiseBox, profilesBox, sequenceBox})
    disconnect(box, &QCheckBox::stateChanged, this, nullptr);
  disconnect(delayCombo, &QComboBox::currentIndexChanged, this, nullptr);
}

void AdvancedWindow::attachControls() {
  connect(sleepBox, &QCheckBox::stateChanged, this, &AdvancedWindow::sd_box_clicked);
  connect(noiseBox, &QCheckBox::stateChanged, this, &AdvancedWindow::nc_box_clicked);
  connect(profilesBox, &QCheckBox::stateChanged, this, &AdvancedWindow::pr_box_clicked);
  connect(sequenceBox, &QCheckBox::stateChanged, this, &AdvancedWindow::sm_box_clicked);
  connect(delayCombo, &QComboBox::currentIndexChanged, this, &AdvancedWindow::ik_delay_changed);
}

bool AdvancedWindow::kept(const QString &change) {
  if (!m_keep || m_keep(change)) return true;
  refreshSettings(true);
  return false;
}

// Each change is named as zirko_util's settings commands name it.
void AdvancedWindow::sd_box_clicked(int state) {
  if (kept(QString("sleep_detect %1").arg(isChecked(state)))) zk_set_sleep_detect(isChecked(state));
}

void AdvancedWindow::nc_box_clicked(int state) {
  if (kept(QString("noise_canceler %1").arg(isChecked(state))))
    zk_set_noise_cancel(isChecked(state));
}

void AdvancedWindow::pr_box_clicked(int state) {
  if (kept(isChecked(state) ? "profiles enable" : "profiles disable"))
    zk_set_builtin_profile_support(isChecked(state));
}

void AdvancedWindow::sm_box_clicked(int state) {
  if (kept(QString("seq_modifiers %1").arg(isChecked(state))))
    zk_set_sequence_modifiers(isChecked(state));
}

void AdvancedWindow::ik_delay_changed(int index) {
  const int delay = kMaxInterkeyDelay - index;
  if (kept(QString("interkey_delay %1").arg(delay))) zk_set_interkey_delay(delay);
}

void AdvancedWindow::fw_upg_clicked(bool /*checked*/) {
  ZK_LOGV("force fw upgrade clicked");
  close();
  emit do_forced_update();
}
