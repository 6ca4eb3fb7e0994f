#ifndef ZIRKO_GUI_MAINWINDOW_H
#define ZIRKO_GUI_MAINWINDOW_H

#include <QList>
#include <QMainWindow>
#include <QString>
#include <functional>

#include "elidedlabel.h"
#include "question.h"
#include "upgrade_policy.h"
#include "zirko.h"

class AdvancedWindow;
class GraphicsKey;
class GraphicsKeyboard;
class KeyboardGView;
class QAction;
class QFrame;
class QGraphicsScene;
class QLabel;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QSignalMapper;
class QTimer;
class zirko_interrupt;
class zirkoButton;
class UpgradeWorker;
struct UpgradeJob;
struct UpgradeResult;

// The window's widgets with their geometry, pictures, menus and actions.
struct MainWindowUi {
  QWidget *centralWidget;
  QLabel *BackgroundImage;
  QFrame *frame_adv;
  QFrame *text_frame;
  KeyboardGView *KeyboardView;
  QProgressBar *progressBar;
  QPushButton *Indicator;
  zirkoButton *go;
  QLabel *version;
  QLabel *textbox;
  QLabel *indicator;
  ElidedLabel *Notification;
  zirkoButton *erase;
  QMenuBar *menuBar;
  QMenu *menuFile;
  QMenu *menuController;
  QMenu *menuHelp;
  QAction *actionSaveConfiguration;
  QAction *actionLoadConfiguration;
  QAction *actionClearConfiguration;
  QAction *actionUploadFirmware;
  QAction *actionAdvanced;
  QAction *actionQuit;
  QAction *actionAbout;
  QAction *actionSupport;
  QAction *actionCheck_For_Upgrades;

  void setupUi(QMainWindow *window);
  void retranslateUi(QMainWindow *window);
};

// The one main window: polls the receiver, shows its connection state and
// runs the recording, erasing and automated workflows on the shown layout.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Operations; every way back to idle passes through stopCurrentOperation.
  enum Operation { kIdle = 0, kRecording = 1, kAutomatedRun = 2, kErasing = 3, kKeyPreview = 4 };
  // deviceMode values besides 0 (none), 1 (bootloader) and 2 (firmware).
  static constexpr int kTransferError = -255;
  // A receiver whose firmware is newer than the one this application knows:
  // it is held open (so that it can be upgraded from a file) but not used.
  static constexpr int kNewerFirmware = 3;

  explicit MainWindow(zirko_interrupt *worker, QWidget *parent = nullptr);
  ~MainWindow() override;

  // Replaces the modal boxes (tests answer questions through it).
  void setAsker(Asker asker) { m_ask = std::move(asker); }
  // Replaces the file dialogs (tests choose files through it).
  void setFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }
  // Tells whether the receiver sits on the virtual bus; tests stand in a
  // real bus through it.
  void setBusProbe(std::function<bool()> isVirtual) {
    m_upgradePolicy.setBusProbe(std::move(isVirtual));
  }

  void showStatus(const QString &text);
  // Shows the version of the receiver in use; its major version, or a
  // negative code.
  int display_fw_version();
  void showConnected();
  void showDisconnected();
  void showBootloader();
  void showNewerFirmware();
  void showNotAnswering();
  bool loadKeyboards(const QString &path);
  bool selectKeyboard(const QString &name);
  void buildControllerMenu();
  void recordKey(GraphicsKey *key, const QList<GraphicsKey *> &modifiers);
  // A key's name as keyboards print it: modifiers of both sides as Ctrl,
  // Shift, Alt, Win (Cmd, Option on Mac layouts); other keys as named.
  static QString printedKeyName(const QString &name);
  void stopCurrentOperation();

  // State for observers (tests, the menus).
  int currentOperation() const { return operation; }
  int currentDeviceMode() const { return deviceMode; }
  bool isConnected() const { return connected; }
  const QString &indicatorPicture() const { return m_indicatorPicture; }
  // A firmware upgrade runs on its worker; the window leaves the library alone.
  bool isUpgrading() const { return m_upgrading; }
  GraphicsKeyboard *shownKeyboard() const { return currentKeyboard; }
  const QList<GraphicsKeyboard *> &keyboards() const { return keyboardList; }
  AdvancedWindow *advancedWindow() const { return advanced; }
  QTimer *pollTimer() const { return statusTimer; }
  QTimer *blinkingTimer() const { return blinkTimer; }
  QTimer *advancingTimer() const { return advanceTimer; }
  const MainWindowUi &widgets() const { return ui; }

 public slots:
  void checkHardwareStatus();
  void delayTimerTop();
  void menuFormatDevice();
  void menuSaveConfig();
  void menuLoadConfig();
  void menuAbout();
  void menuAdvanced();
  void menuUploadFirmware();
  void menuControllerItem(QObject *item);
  void menuSupport();
  void on_go_clicked();
  void on_erase_clicked();
  void timerTop();
  void keyboard_clicked(GraphicsKey *gk, QList<GraphicsKey *> modifiers, bool autoclicked);
  void force_update();
  void record_failed_exists();
  void record_failed_no_space();
  void erase_failed_nobutton();
  void transfer_failed();
  void recordSuccess();

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;
  void closeEvent(QCloseEvent *event) override;
  void changeEvent(QEvent *event) override;
  void showEvent(QShowEvent *event) override;

 private:
  // Upgrades (firmware_upgrade.cpp), as m_upgradePolicy decides them. An
  // upgrade only starts here; its end arrives in upgradeEnded, which shows
  // the receiver as it came back.
  enum FirmwareVerdict { kUsable, kNewer, kUpgrading };
  float GetEmbeddedFirmwareVersion();
  FirmwareVerdict CheckFirmwareVersion();
  bool offerEmbeddedUpgrade();
  bool firmwareNewerThanOurs();
  bool do_embedded_upgrade();
  bool upgradeFromImage(const QString &path);
  QString imageProblem(const QByteArray &image);
  void refuseEmbeddedUpgrade();
  void beginUpgrade(const UpgradeJob &job, const QString &installing);
  void upgradeEnded(const UpgradeResult &result);
  QString outcomeText(const UpgradeResult &result) const;
  void showInBootloader(int major, int minor);
  bool refuseWhileUpgrading();

  // Menus (menus.cpp).
  QString proposedFile(const QString &baseName) const;
  void connectMenus();

  // The poll's two halves: a receiver in use, and none yet.
  void followReceiverState();
  void dropReceiver();
  void receiverStoppedAnswering();
  void followNewerReceiver();
  void lookForReceiver();
  void takeBootloader(UpgradePolicy::BootloaderStep step);
  void showReceiverAsFound();

  // Set-up (mainwindow_setup.cpp), in the order the constructor runs it.
  void connectControls();
  void createOperationTimers();
  void setupView();
  void startPolling();
  void connectWorkers();

  // Generation-1 firmware tells how a recording or erase ended only on its
  // interrupt endpoint, which the worker thread waits on. Decided when a
  // receiver is taken into use, forgotten when it is closed or handed to an
  // upgrade.
  bool needsInterruptWorker() const { return m_needsInterruptWorker; }
  void decideInterruptWorker(int major);
  void closeReceiver();
  void startWorker();
  void clearLayoutSelection();
  bool confirmErasingAll();
  void eraseAll();
  void refuseWithoutReceiver();
  QString notReadyText() const;
  void fitKeyboard();
  void setIndicator(const QString &picture);
  void showVersion(int state, int major, int minor);
  void setTitle(const char *state);

  MainWindowUi ui;
  zirko_interrupt *worker;
  AdvancedWindow *advanced;
  bool firstPoll = true;
  bool connected = false;
  int deviceMode = 0;
  GraphicsKeyboard *currentKeyboard = nullptr;
  int operation = kIdle;
  QTimer *blinkTimer;
  QTimer *advanceTimer;
  QTimer *statusTimer;
  QList<GraphicsKeyboard *> keyboardList;
  QGraphicsScene *scene;
  GraphicsKey *recordingKey = nullptr;
  QList<GraphicsKey *> recordingModifiers;
  QSignalMapper *controllerMapper = nullptr;
  UpgradeWorker *m_upgrader;
  UpgradePolicy m_upgradePolicy;
  bool m_upgrading = false;
  bool m_needsInterruptWorker = false;
  QString m_installing;  // what the running upgrade installs, as the user knows it
  QString m_indicatorPicture;
  // Failed state reads in a row; past a few the receiver shows as not answering.
  int m_failedReads = 0;
  bool m_notAnswering = false;
  // The last scan found no receiver to use: the next waits for the bus.
  bool m_nothingFound = false;
  Asker m_ask = askWithMessageBox;
  FileChooser m_chooseFile = chooseWithFileDialog;
};

#endif  // ZIRKO_GUI_MAINWINDOW_H
