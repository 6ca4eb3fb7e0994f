#ifndef ZIRKO_GUI_MAINWINDOW_H
#define ZIRKO_GUI_MAINWINDOW_H

#include <QList>
#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "elidedlabel.h"
#include "question.h"
#include "receiver_session.h"

class AdvancedWindow;
class HistoryDialog;
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
class QSettings;
class QSignalMapper;
class QTimer;
class QToolButton;
class zirko_interrupt;
class zirkoButton;

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
  QAction *actionTestMode;
  QToolButton *testButton;
  QLabel *taughtCount;

  void setupUi(QMainWindow *window);
  void retranslateUi(QMainWindow *window);
  // Lays the widgets out over `area` as drawn for the design size, scaled.
  void scaleTo(const QSize &area);

  // The widgets' geometry and font size as drawn, for an 800 x 578 area.
  struct Placed {
    QWidget *widget;
    QRect design;
    qreal pointSize;
  };
  std::vector<Placed> placed;
};

// The one main window: shows what the session says of the receiver and runs
// the recording, erasing and automated workflows on the shown layout. Every
// receiver matter goes through the session.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Operations; every way back to idle passes through stopCurrentOperation.
  enum Operation { kIdle = 0, kRecording = 1, kAutomatedRun = 2, kErasing = 3, kKeyPreview = 4 };

  // `memory` keeps the chosen layout between runs (null: nothing is kept).
  explicit MainWindow(zirko_interrupt *worker, QWidget *parent = nullptr,
                      std::shared_ptr<QSettings> memory = programMemory());
  // The user's settings of zirko_gui itself; none for any other program
  // (the test suites), so that runs stay independent of each other.
  static std::shared_ptr<QSettings> programMemory();
  ~MainWindow() override;

  // Replaces the modal boxes (tests answer questions through it).
  void setAsker(Asker asker) { m_ask = std::move(asker); }
  // Replaces the file dialogs (tests choose files through it).
  void setFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }
  // Tells whether the receiver sits on the virtual bus; tests stand in a
  // real bus through it.
  void setBusProbe(std::function<bool()> isVirtual) {
    m_session->setBusProbe(std::move(isVirtual));
  }

  void showStatus(const QString &text);
  bool loadKeyboards(const QString &path);
  bool selectKeyboard(const QString &name);
  void buildControllerMenu();
  void recordKey(GraphicsKey *key, const QList<GraphicsKey *> &modifiers);
  // A key's name as keyboards print it: modifiers of both sides as Ctrl,
  // Shift, Alt, Win (Cmd, Option on Mac layouts); other keys as named.
  static QString printedKeyName(const QString &name);
  void stopCurrentOperation();
  // Ends a recording or an erase from the keyboard (Esc).
  void cancelOperation();

  // State for observers (tests, the menus).
  ReceiverSession *session() const { return m_session; }
  int currentOperation() const { return operation; }
  // 0 none, 1 bootloader, 2 firmware ready, 3 firmware too new to use.
  int currentDeviceMode() const;
  bool isConnected() const { return m_session->state() == ReceiverSession::State::kConnected; }
  const QString &indicatorPicture() const { return m_indicatorPicture; }
  // An upgrade or a long job runs on its worker; the window leaves the
  // library alone.
  bool isUpgrading() const { return m_session->working(); }
  GraphicsKeyboard *shownKeyboard() const { return currentKeyboard; }
  const QList<GraphicsKeyboard *> &keyboards() const { return keyboardList; }
  AdvancedWindow *advancedWindow() const { return advanced; }
  QTimer *pollTimer() const { return m_session->pollTimer(); }
  QTimer *blinkingTimer() const { return blinkTimer; }
  QTimer *advancingTimer() const { return advanceTimer; }
  // Test mode: the keys the receiver types light up on the picture.
  void setTesting(bool on);
  bool isTesting() const { return m_session->testing(); }
  // A key's menu (right button on the picture): forget it, or teach it
  // another button.
  QMenu *keyMenu(GraphicsKey *key);
  void forgetKey(GraphicsKey *key);
  void teachAnother(GraphicsKey *key);
  // How long a typed key stays lit.
  static constexpr int kLitMs = 600;
  // How long a recording waits for the remote's button.
  static constexpr int kRecordWaitSeconds = 30;
  void setRecordWait(int seconds) { m_recordWait = seconds; }
  const MainWindowUi &widgets() const { return ui; }
  // The Receiver menu (receiver_menu.cpp).
  QMenu *receiverMenu() const { return m_receiverMenu; }
  static QString receiverEntryText(int index, const ReceiverSession::Listed &receiver);
  // Edit → Undo and Edit → History… (window_history.cpp).
  QAction *undoAction() const { return m_actionUndo; }
  QAction *historyAction() const { return m_actionHistory; }
  HistoryDialog *historyDialog() const { return m_history; }

 public slots:
  void checkHardwareStatus() { m_session->poll(); }
  void delayTimerTop();
  void menuFormatDevice();
  void menuSaveConfig();
  void menuLoadConfig();
  void menuAbout();
  void menuAdvanced();
  void menuUploadFirmware();
  void menuCheckForUpgrades();
  void menuControllerItem(QObject *item);
  void menuSupport();
  void menuUndo();
  void menuHistory();
  void restoreFromHistory(const QString &file);
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
  void resizeEvent(QResizeEvent *event) override;

 private:
  // What the session says (window_session.cpp).
  void connectSession();
  void showState(ReceiverSession::State state);
  void showOutcome(ReceiverSession::Outcome outcome);
  void askOffer(int id);
  void withdrawQuestion();
  void upgradeStarted(const QString &installing, const QString &why);
  void upgradeEnded(const QString &text);
  void jobStarted(const QString &text);
  void jobEnded(const QString &text);
  void hideProgress();
  void countDown();
  void endCountdown();

  // The recorded buttons on the picture, and test mode (window_map.cpp).
  void showMap();
  void showTypedKey(int usage, int modifier);
  bool refuseWhileTesting();

  // Menus (menus.cpp).
  QString proposedFile(const QString &baseName) const;
  void connectMenus();

  // The Receiver menu (receiver_menu.cpp).
  void setupReceiverMenu();
  void fillReceiverMenu();
  void chooseReceiverEntry(QAction *entry);
  QString absentText() const;
  // The history (window_history.cpp): the Edit menu, and the questions
  // when a configuration cannot be kept or a write was cut off.
  void addEditMenu();
  bool keptOrAgreed(const QString &change);
  bool agreeUnkept(const QString &reason);
  void askRecovery(int id, const QString &change);
  void refreshHistory();

  // Set-up (mainwindow_setup.cpp), in the order the constructor runs it.
  void connectControls();
  void createOperationTimers();
  void setupView();
  void fitScreen();

  void clearLayoutSelection();
  bool confirmErasingAll();
  void eraseAll();
  void refuseWithoutReceiver();
  bool refuseWhileWorking();
  bool receiverReady() const { return isConnected(); }
  QString readyText() const;
  QString notReadyText() const;
  void fitKeyboard();
  void setIndicator(const QString &picture);
  void setTitle(const QString &state);

  MainWindowUi ui;
  ReceiverSession *m_session;
  AdvancedWindow *advanced;
  GraphicsKeyboard *currentKeyboard = nullptr;
  int operation = kIdle;
  QTimer *blinkTimer;
  QTimer *advanceTimer;
  QTimer *m_countdown;
  QTimer *m_unlight;
  int m_secondsLeft = 0;
  int m_recordWait = kRecordWaitSeconds;
  QList<GraphicsKeyboard *> keyboardList;
  QGraphicsScene *scene;
  GraphicsKey *recordingKey = nullptr;
  QList<GraphicsKey *> recordingModifiers;
  QSignalMapper *controllerMapper = nullptr;
  std::shared_ptr<QSettings> m_memory;
  QString m_indicatorPicture;
  Asker m_ask = askWithMessageBox;
  FileChooser m_chooseFile = chooseWithFileDialog;
  QMenu *m_receiverMenu = nullptr;
  QMenu *m_menuEdit = nullptr;
  QAction *m_actionUndo = nullptr;
  QAction *m_actionHistory = nullptr;
  HistoryDialog *m_history = nullptr;
};

#endif  // ZIRKO_GUI_MAINWINDOW_H
