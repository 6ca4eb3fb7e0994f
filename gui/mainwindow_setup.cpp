// The main window's widgets, pictures and menus, and how the window wires
// them, its timers and its workers together.
#include <QAction>
#include <QFont>
#include <QFrame>
#include <QGraphicsScene>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>

#include "advancedwindow.h"
#include "graphicskeyboard.h"
#include "keyboardgview.h"
#include "mainwindow.h"
#include "mainwindow_pictures.h"
#include "zirkobutton.h"

namespace {

using namespace window_pictures;

constexpr char kLayoutKey[] = "window/layout";

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
  // Any size down to half the drawing: everything scales with the window.
  window->setMinimumSize(400, 300);

  actionSaveConfiguration = makeAction(window, "actionSaveConfiguration");
  actionLoadConfiguration = makeAction(window, "actionLoadConfiguration");
  actionClearConfiguration = makeAction(window, "actionClearConfiguration");
  actionUploadFirmware = makeAction(window, "actionUploadFirmware");
  actionAdvanced = makeAction(window, "actionAdvanced");
  actionQuit = makeAction(window, "actionQuit");
  actionAbout = makeAction(window, "actionAbout");
  actionSupport = makeAction(window, "actionSupport");
  actionCheck_For_Upgrades = makeAction(window, "actionCheck_For_Upgrades");
  actionTestMode = makeAction(window, "actionTestMode");
  actionTestMode->setCheckable(true);

  centralWidget = new QWidget(window);
  centralWidget->setObjectName("centralWidget");
  BackgroundImage = makeLabel(centralWidget, "BackgroundImage", QRect(0, 0, 800, 578));
  BackgroundImage->setPixmap(QPixmap(":/images/keyboard_back.png"));

  frame_adv = new QFrame(centralWidget);
  frame_adv->setObjectName("frame_adv");
  frame_adv->setGeometry(0, 0, 800, 501);
  KeyboardView = new KeyboardGView(frame_adv);
  KeyboardView->setObjectName("KeyboardView");
  KeyboardView->setGeometry(0, 90, 800, 401);
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
  taughtCount = makeLabel(frame_adv, "taughtCount", QRect(200, 458, 300, 30));
  taughtCount->setFont(QFont("Helvetica", 12));
  taughtCount->setTextFormat(Qt::PlainText);
  taughtCount->setStyleSheet("QLabel { color : rgb(200,200,200); }");
  testButton = new QToolButton(frame_adv);
  testButton->setObjectName("testButton");
  testButton->setGeometry(600, 450, 100, 32);
  testButton->setDefaultAction(actionTestMode);
  testButton->setStyleSheet(
      "QToolButton { border: 1px solid #3a414c; border-radius: 6px; background: #171a20; "
      "color: #eef1f6; } QToolButton:checked { background: #b87a10; }");

  text_frame = new QFrame(centralWidget);
  text_frame->setObjectName("text_frame");
  text_frame->setGeometry(0, 500, 800, 78);
  textbox = makeLabel(text_frame, "textbox", QRect(110, 0, 601, 71));
  textbox->setPixmap(QPixmap(":/images/TextBox.png"));
  indicator = makeLabel(text_frame, "indicator", QRect(710, 0, 90, 71));
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
  menuFile->addAction(actionTestMode);
  menuFile->addAction(actionAdvanced);
  menuFile->addAction(actionQuit);
  menuHelp->addAction(actionAbout);
  menuHelp->addAction(actionSupport);
  menuHelp->addAction(actionCheck_For_Upgrades);

  for (QLabel *picture : {BackgroundImage, textbox, indicator, static_cast<QLabel *>(go),
                          static_cast<QLabel *>(erase)})
    picture->setScaledContents(true);
  for (QWidget *widget : std::initializer_list<QWidget *>{
           BackgroundImage, frame_adv, KeyboardView, progressBar, Indicator, go, version,
           taughtCount, testButton, text_frame, textbox, indicator, Notification, erase})
    placed.push_back({widget, widget->geometry(), widget->font().pointSizeF()});

  actionSaveConfiguration->setShortcut(QKeySequence::Save);
  actionLoadConfiguration->setShortcut(QKeySequence::Open);
  actionQuit->setShortcut(QKeySequence::Quit);
  actionAbout->setShortcut(QKeySequence::HelpContents);
  retranslateUi(window);
  QObject::connect(actionQuit, &QAction::triggered, window, &QMainWindow::close);
}

void MainWindowUi::scaleTo(const QSize &area) {
  static constexpr QSizeF kDesign{800, 578};
  const qreal sx = area.width() / kDesign.width(), sy = area.height() / kDesign.height();
  const qreal s = std::min(sx, sy);
  for (const Placed &p : placed) {
    const QRect &r = p.design;
    p.widget->setGeometry(qRound(r.x() * sx), qRound(r.y() * sy), qRound(r.width() * sx),
                          qRound(r.height() * sy));
    QFont font = p.widget->font();
    font.setPointSizeF(std::max<qreal>(6, p.pointSize * s));
    p.widget->setFont(font);
  }
}

void MainWindowUi::retranslateUi(QMainWindow *window) {
  window->setWindowTitle(MainWindow::tr("MainWindow"));
  actionSaveConfiguration->setText(MainWindow::tr("&Save Configuration"));
  actionLoadConfiguration->setText(MainWindow::tr("&Load Configuration"));
  actionClearConfiguration->setText(MainWindow::tr("&Clear Configuration"));
  actionUploadFirmware->setText(MainWindow::tr("&Upgrade Firmware"));
  actionAdvanced->setText(MainWindow::tr("&Advanced"));
  actionQuit->setText(MainWindow::tr("&Quit"));
  actionAbout->setText(MainWindow::tr("&About"));
  actionSupport->setText(MainWindow::tr("&Support"));
  actionCheck_For_Upgrades->setText(MainWindow::tr("&Check For Upgrades"));
  actionTestMode->setText(MainWindow::tr("&Test"));
  actionTestMode->setToolTip(MainWindow::tr("Light up each key the receiver types"));
  Notification->setText(MainWindow::tr("Hit go to start the automated process"));
  menuFile->setTitle(MainWindow::tr("&File"));
  menuController->setTitle(MainWindow::tr("&Controllers"));
  menuHelp->setTitle(MainWindow::tr("&Help"));
}

std::shared_ptr<QSettings> MainWindow::programMemory() {
  if (QCoreApplication::applicationName() != "zirko_gui") return nullptr;
  return std::make_shared<QSettings>("Zirko", "zirko_gui");
}

MainWindow::MainWindow(zirko_interrupt *worker, QWidget *parent, std::shared_ptr<QSettings> memory)
    : QMainWindow(parent),
      m_session(new ReceiverSession(worker, this)),
      m_memory(std::move(memory)) {
  ui.setupUi(this);
  connectControls();
  createOperationTimers();
  setupView();
  loadKeyboards(":/keyboards/default.xml");
  buildControllerMenu();
  currentKeyboard = nullptr;
  stopCurrentOperation();
  connectSession();
  setupReceiverMenu();
  const QString remembered = m_memory ? m_memory->value(kLayoutKey).toString() : QString();
  if (remembered.isEmpty() || !selectKeyboard(remembered)) selectKeyboard("Minimalist");
  showState(m_session->state());
  m_session->start();
}

MainWindow::~MainWindow() {
  // The session's workers end before the window they report to.
  delete m_session;
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
  advanced->setKeeper([this](const QString &change) { return keptOrAgreed(change); });
}

void MainWindow::createOperationTimers() {
  blinkTimer = new QTimer(this);
  connect(blinkTimer, &QTimer::timeout, this, &MainWindow::timerTop);
  advanceTimer = new QTimer(this);
  connect(advanceTimer, &QTimer::timeout, this, &MainWindow::delayTimerTop);
  m_countdown = new QTimer(this);
  m_countdown->setInterval(std::chrono::seconds(1));
  connect(m_countdown, &QTimer::timeout, this, &MainWindow::countDown);
  m_unlight = new QTimer(this);
  m_unlight->setSingleShot(true);
  m_unlight->setInterval(kLitMs);
  auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &MainWindow::cancelOperation);
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
  // Tab goes from the picture to go and to erase.
  setTabOrder(ui.KeyboardView, ui.go);
  setTabOrder(ui.go, ui.erase);
  fitScreen();
}

// A screen smaller than the drawing gets a window that fits it.
void MainWindow::fitScreen() {
  static constexpr int kFrameRoom = 40;  // a window manager's title bar and borders
  const QScreen *screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QSize room = screen->availableGeometry().size();
  if (room.width() >= width() && room.height() >= height()) return;
  resize(std::min(width(), room.width()), std::min(height(), room.height() - kFrameRoom));
}
