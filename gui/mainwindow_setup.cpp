// The main window's widgets, pictures and menus, and how the window wires
// them, its timers and its workers together.
#include <QAction>
#include <QFont>
#include <QFrame>
#include <QGraphicsScene>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include "advancedwindow.h"
#include "firmware_upgrade.h"
#include "graphicskeyboard.h"
#include "keyboardgview.h"
#include "mainwindow.h"
#include "mainwindow_pictures.h"
#include "upgrade_worker.h"
#include "zirko_interrupt.h"
#include "zirkobutton.h"

namespace {

using namespace window_pictures;

constexpr std::chrono::milliseconds kFirstPoll{1};

QLabel *makeLabel(QWidget *parent, const char *name, const QRect &geometry) {
  auto *label = new QLabel(parent);
  label->setObjectName(name);
  label->setGeometry(geometry);
  return label;
}

QAction *makeAction(QMainWindow *window, const char *name) {
  auto *action = new QAction(window);
  action->setObjectName(name);
  return action;
}

}  // namespace

void MainWindowUi::setupUi(QMainWindow *window) {
  window->setObjectName("MainWindow");
  window->resize(800, 600);
  window->setMinimumSize(800, 600);
  window->setMaximumSize(800, 600);

  actionSaveConfiguration = makeAction(window, "actionSaveConfiguration");
  actionLoadConfiguration = makeAction(window, "actionLoadConfiguration");
  actionClearConfiguration = makeAction(window, "actionClearConfiguration");
  actionUploadFirmware = makeAction(window, "actionUploadFirmware");
  actionAdvanced = makeAction(window, "actionAdvanced");
  actionQuit = makeAction(window, "actionQuit");
  actionAbout = makeAction(window, "actionAbout");
  actionSupport = makeAction(window, "actionSupport");
  actionCheck_For_Upgrades = makeAction(window, "actionCheck_For_Upgrades");

  centralWidget = new QWidget(window);
  centralWidget->setObjectName("centralWidget");
  BackgroundImage = makeLabel(centralWidget, "BackgroundImage", QRect(0, 0, 801, 571));
  BackgroundImage->setPixmap(QPixmap(":/images/keyboard_back.png"));

  frame_adv = new QFrame(centralWidget);
  frame_adv->setObjectName("frame_adv");
  frame_adv->setGeometry(0, 0, 801, 501);
  KeyboardView = new KeyboardGView(frame_adv);
  KeyboardView->setObjectName("KeyboardView");
  KeyboardView->setGeometry(0, 90, 801, 401);
  progressBar = new QProgressBar(frame_adv);
  progressBar->setObjectName("progressBar");
  // Wide and tall enough to be seen, with the percentage and what is installed.
  progressBar->setGeometry(320, 34, 450, 24);
  progressBar->setAlignment(Qt::AlignCenter);
  progressBar->setStyleSheet(
      "QProgressBar { border: 1px solid #3a414c; border-radius: 6px; background: #171a20; "
      "color: #eef1f6; font-weight: bold; }"
      "QProgressBar::chunk { border-radius: 5px; background: #1fbf7a; }");
  Indicator = new QPushButton(frame_adv);
  Indicator->setObjectName("Indicator");
  Indicator->setGeometry(0, 470, 91, 32);
  // Nothing is wired to it yet; it must not cover the version label.
  Indicator->setFlat(true);
  Indicator->setStyleSheet("QPushButton { background: transparent; border: none; }");
  go = new zirkoButton(frame_adv);
  go->setObjectName("go");
  go->setGeometry(710, 420, 81, 61);
  go->setPixmap(QPixmap(kGoNormal));
  // Wide enough for "Firmware v3.8" at 14 points on a 96 dpi screen.
  version = makeLabel(frame_adv, "version", QRect(10, 450, 181, 41));
  version->setFont(QFont("Helvetica", 14));
  version->setTextFormat(Qt::PlainText);

  text_frame = new QFrame(centralWidget);
  text_frame->setObjectName("text_frame");
  text_frame->setGeometry(0, 500, 801, 80);
  textbox = makeLabel(text_frame, "textbox", QRect(110, 0, 601, 71));
  textbox->setPixmap(QPixmap(":/images/TextBox.png"));
  indicator = makeLabel(text_frame, "indicator", QRect(710, 0, 91, 71));
  indicator->setPixmap(QPixmap(kDisconnectedPicture));
  // Long texts are shortened in the middle, never cut off at both ends.
  Notification = new ElidedLabel(text_frame);
  Notification->setObjectName("Notification");
  Notification->setGeometry(110, 10, 591, 62);
  Notification->setContentsMargins(12, 0, 12, 0);
  Notification->setFont(QFont("Helvetica", 20));
  Notification->setAlignment(Qt::AlignCenter);
  erase = new zirkoButton(text_frame);
  erase->setObjectName("erase");
  erase->setGeometry(10, 10, 90, 61);
  erase->setPixmap(QPixmap(kEraseNormal));
  window->setCentralWidget(centralWidget);

  menuBar = new QMenuBar(window);
  menuBar->setObjectName("menuBar");
  menuBar->setGeometry(0, 0, 800, 22);
  menuFile = new QMenu(menuBar);
  menuFile->setObjectName("menuFile");
  menuController = new QMenu(menuBar);
  menuController->setObjectName("menuController");
  menuHelp = new QMenu(menuBar);
  menuHelp->setObjectName("menuHelp");
  window->setMenuBar(menuBar);

  menuBar->addAction(menuFile->menuAction());
  menuBar->addAction(menuController->menuAction());
  menuBar->addAction(menuHelp->menuAction());
  menuFile->addAction(actionSaveConfiguration);
  menuFile->addAction(actionLoadConfiguration);
  menuFile->addAction(actionClearConfiguration);
  menuFile->addSeparator();
  menuFile->addAction(actionUploadFirmware);
  menuFile->addSeparator();
  menuFile->addAction(actionAdvanced);
  menuFile->addAction(actionQuit);
  menuHelp->addAction(actionAbout);
  menuHelp->addAction(actionSupport);
  menuHelp->addAction(actionCheck_For_Upgrades);

  retranslateUi(window);
  QObject::connect(actionQuit, &QAction::triggered, window, &QMainWindow::close);
}

void MainWindowUi::retranslateUi(QMainWindow *window) {
  window->setWindowTitle(MainWindow::tr("MainWindow"));
  actionSaveConfiguration->setText(MainWindow::tr("Save Configuration"));
  actionLoadConfiguration->setText(MainWindow::tr("Load Configuration"));
  actionClearConfiguration->setText(MainWindow::tr("Clear Configuration"));
  actionUploadFirmware->setText(MainWindow::tr("Upgrade Firmware"));
  actionAdvanced->setText(MainWindow::tr("Advanced"));
  actionQuit->setText(MainWindow::tr("Quit"));
  actionAbout->setText(MainWindow::tr("About"));
  actionSupport->setText(MainWindow::tr("Support"));
  actionCheck_For_Upgrades->setText(MainWindow::tr("Check For Upgrades"));
  Notification->setText(MainWindow::tr("Hit go to start the automated process"));
  menuFile->setTitle(MainWindow::tr("File"));
  menuController->setTitle(MainWindow::tr("Controllers"));
  menuHelp->setTitle(MainWindow::tr("Help"));
}

MainWindow::MainWindow(zirko_interrupt *worker, QWidget *parent)
    : QMainWindow(parent), worker(worker), m_upgradePolicy(firmware::placeholderImages()) {
  ui.setupUi(this);
  connectControls();
  createOperationTimers();
  setupView();
  loadKeyboards(":/keyboards/default.xml");
  buildControllerMenu();
  currentKeyboard = nullptr;
  stopCurrentOperation();
  startPolling();
  connectWorkers();
}

MainWindow::~MainWindow() {
  // Every wait of an upgrade is bounded.
  m_upgrader->wait();
  // The layouts belong to the list, not to the scene.
  if (currentKeyboard) scene->removeItem(currentKeyboard);
  qDeleteAll(keyboardList);
  delete advanced;
}

void MainWindow::connectControls() {
  connect(ui.go, &zirkoButton::clicked, this, &MainWindow::on_go_clicked);
  connect(ui.erase, &zirkoButton::clicked, this, &MainWindow::on_erase_clicked);
  connectMenus();
  advanced = new AdvancedWindow();
  connect(advanced, &AdvancedWindow::do_forced_update, this, &MainWindow::force_update);
}

void MainWindow::createOperationTimers() {
  blinkTimer = new QTimer(this);
  connect(blinkTimer, &QTimer::timeout, this, &MainWindow::timerTop);
  advanceTimer = new QTimer(this);
  connect(advanceTimer, &QTimer::timeout, this, &MainWindow::delayTimerTop);
}

void MainWindow::setupView() {
  ui.go->setMouseTracking(true);
  setTitle("Disconnected");
  ui.progressBar->hide();
  ui.progressBar->setValue(0);

  scene = new QGraphicsScene(this);
  ui.KeyboardView->setStyleSheet(
      "KeyboardGView {background: transparent;} KeyboardGView QToolTip {border: 0px solid; "
      "background: black; color: white;}");
  ui.KeyboardView->setScene(scene);
  ui.KeyboardView->setMouseTracking(true);
  ui.KeyboardView->installEventFilter(this);

  ui.go->setImages(kGoHover, kGoNormal, false);
  ui.erase->setImages(kEraseHover, kEraseNormal, false);
}

void MainWindow::startPolling() {
  statusTimer = new QTimer(this);
  connect(statusTimer, &QTimer::timeout, this, &MainWindow::checkHardwareStatus,
          Qt::DirectConnection);
  statusTimer->start(kFirstPoll);
  showDisconnected();
}

void MainWindow::connectWorkers() {
  // Emitted on the worker thread, so every delivery is queued to this one.
  connect(worker, &zirko_interrupt::record_success, this, &MainWindow::recordSuccess);
  connect(worker, &zirko_interrupt::record_failed_exists, this, &MainWindow::record_failed_exists);
  connect(worker, &zirko_interrupt::record_failed_no_space, this,
          &MainWindow::record_failed_no_space);
  connect(worker, &zirko_interrupt::erase_failed_nobutton, this,
          &MainWindow::erase_failed_nobutton);
  connect(worker, &zirko_interrupt::transfer_failed, this, &MainWindow::transfer_failed);
  // A stopped generation-1 wait goes on until a button is pressed; the poll
  // resumes when it stopped the wait (stopCurrentOperation) or when it ends.
  connect(worker, &QThread::finished, this, [this] {
    if (!m_upgrading) statusTimer->start();
  });

  m_upgrader = new UpgradeWorker(this);
  connect(m_upgrader, &UpgradeWorker::progress, ui.progressBar, &QProgressBar::setValue);
  connect(m_upgrader, &UpgradeWorker::inBootloader, this, &MainWindow::showInBootloader);
  connect(m_upgrader, &UpgradeWorker::ended, this, &MainWindow::upgradeEnded);
}
