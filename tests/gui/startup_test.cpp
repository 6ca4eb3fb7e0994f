#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>
#include <cstdio>

#include "captured_output.h"
#include "settings.h"
#include "single_instance.h"
#include "zirko.h"

namespace {

// Captures standard error and points it back at the test's own stream
// afterwards, whatever the settings loader reopened it onto; the logging
// settings go back to their defaults with it.
class StderrGuard : public zk::test::CapturedOutput {
 public:
  StderrGuard() : CapturedOutput(stderr) {}
  ~StderrGuard() {
    text();
    zk_set_log_level(ZK_LOG_WARNING);
    zk_set_libusb_debug(0);
  }
};

QByteArray readFile(const QString &path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &text) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(text);
}

// One line per level, from error to verbose.
void logEveryLevel() {
  zk_log(ZK_LOG_ERROR, "[E] %s(%d): one\n", "test", 1);
  zk_log(ZK_LOG_WARNING, "[W] %s(%d): two\n", "test", 2);
  zk_log(ZK_LOG_INFO, "[I] %s(%d): three\n", "test", 3);
  zk_log(ZK_LOG_DEBUG, "[D] %s(%d): four\n", "test", 4);
  zk_log(ZK_LOG_VERBOSE, "[V] %s(%d): five\n", "test", 5);
  std::fflush(stderr);
}

}  // namespace

class StartupTest : public QObject {
  Q_OBJECT

  QTemporaryDir exeDir;
  QTemporaryDir home;

  QString ini() const { return exeDir.filePath("zirko.ini"); }
  QString logBeside() const { return exeDir.filePath("zirko_log.txt"); }
  int load(FILE **logFile) {
    return loadSettings(exeDir.path().toStdString(), home.path().toStdString(), logFile);
  }

 private slots:
  void init() {
    QFile::remove(ini());
    QFile::remove(logBeside());
  }

  void missingFileChangesNothing() {
    StderrGuard guard;
    FILE *logFile = nullptr;
    QCOMPARE(load(&logFile), -1);
    QVERIFY(logFile == nullptr);
    QCOMPARE(zk_set_log_level(ZK_LOG_WARNING), ZK_LOG_WARNING);
  }

  void logLevelWithoutFileWritesToStandardError() {
    writeFile(ini(), "[logging]\nloglevel=4\n");
    StderrGuard guard;
    FILE *logFile = nullptr;
    QCOMPARE(load(&logFile), 0);
    QVERIFY(logFile == nullptr);
    logEveryLevel();
    QCOMPARE(QByteArray::fromStdString(guard.text()),
             QByteArray("[E] test(1): one\n[W] test(2): two\n"
                        "[I] test(3): three\n[D] test(4): four\n"));
    QVERIFY(!QFile::exists(logBeside()));
  }

  // What reaches the log file for each file content, after one line of
  // every level is logged.
  void logFileContents_data() {
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("fileExpected");
    QTest::addColumn<QByteArray>("contents");
    QTest::newRow("no level logs nothing")
        << QByteArray("[logging]\nlogtofile=true\n") << true << QByteArray();
    QTest::newRow("level above verbose is verbose")
        << QByteArray("[logging]\nloglevel=9\nlogtofile=True\n") << true
        << QByteArray(
               "[E] test(1): one\n[W] test(2): two\n[I] test(3): three\n"
               "[D] test(4): four\n[V] test(5): five\n");
    QTest::newRow("capitals are off")
        << QByteArray("[logging]\nloglevel=1\nlogtofile=TRUE\n") << false << QByteArray();
    QTest::newRow("other sections are ignored")
        << QByteArray("[other]\nloglevel=5\n[logging]\nlogtofile=true\n") << true << QByteArray();
    QTest::newRow("later key counts")
        << QByteArray("[logging]\nloglevel=5\nlogtofile=true\nloglevel=1\n") << true
        << QByteArray("[E] test(1): one\n");
  }
  void logFileContents() {
    QFETCH(QByteArray, settings);
    QFETCH(bool, fileExpected);
    QFETCH(QByteArray, contents);
    writeFile(ini(), settings);
    StderrGuard guard;
    FILE *logFile = nullptr;
    QCOMPARE(load(&logFile), 0);
    QCOMPARE(logFile != nullptr, fileExpected);
    logEveryLevel();
    QCOMPARE(QFile::exists(logBeside()), fileExpected);
    QCOMPARE(readFile(logBeside()), contents);
  }

  void appendKeepsEarlierLinesOtherwiseEmptied_data() {
    QTest::addColumn<QByteArray>("append");
    QTest::addColumn<QByteArray>("contents");
    QTest::newRow("true") << QByteArray("true") << QByteArray("earlier\n[E] test(1): one\n");
    QTest::newRow("yes") << QByteArray("yes") << QByteArray("[E] test(1): one\n");
  }
  void appendKeepsEarlierLinesOtherwiseEmptied() {
    QFETCH(QByteArray, append);
    QFETCH(QByteArray, contents);
    writeFile(ini(), "[logging]\nloglevel=1\nlogtofile=true\nappend=" + append + "\n");
    writeFile(logBeside(), "earlier\n");
    StderrGuard guard;
    FILE *logFile = nullptr;
    QCOMPARE(load(&logFile), 0);
    logEveryLevel();
    QCOMPARE(readFile(logBeside()), contents);
  }

  void desktopFileLiesInTheHomeDesktopFolder() {
    QVERIFY(QDir(home.path()).mkpath("Desktop/logs"));
    writeFile(ini(), "[logging]\nloglevel=1\nlogtofile=true\ndesktop=true\nfile=logs/gui.txt\n");
    StderrGuard guard;
    FILE *logFile = nullptr;
    QCOMPARE(load(&logFile), 0);
    logEveryLevel();
    QCOMPARE(readFile(home.filePath("Desktop/logs/gui.txt")), QByteArray("[E] test(1): one\n"));
  }

  void secondCopyActivatesTheFirst() {
    const QString id = QString("zirko_gui_test-%1").arg(QCoreApplication::applicationPid());
    SingleInstance first(id);
    QVERIFY(!first.isRunning());
    QWidget window;
    first.setActivationWindow(&window);
    QSignalSpy activated(&first, &SingleInstance::activationRequested);

    SingleInstance second(id);
    QVERIFY(second.isRunning());
    QVERIFY(second.sendActivate());
    QTRY_COMPARE(activated.count(), 1);
    QVERIFY(window.isVisible());
  }

  void staleLockOfAGoneCopyIsTakenOver() {
    const QString id = QString("zirko_gui_stale-%1").arg(QCoreApplication::applicationPid());
    // A lock as a crashed copy leaves it: its process no longer exists.
    QProcess gone;
    gone.start("true");
    QVERIFY(gone.waitForFinished());
    writeFile(QDir::temp().filePath(id + ".lock"),
              QByteArray::number(gone.processId() > 0 ? gone.processId() : 999999) +
                  "\nzirko_gui\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    SingleInstance instance(id);
    QVERIFY(!instance.isRunning());
    SingleInstance later(id);
    QVERIFY(later.isRunning());
  }

  // The second copy ends with 0 and leaves the running copy's log as it was:
  // not emptied, and written line by line (lines show while it runs).
  void secondProgramLeavesTheFirstAndItsLog() {
    QTemporaryDir tmp;
    // A copy of the program of its own, so that its zirko.ini is private.
    const QString exe = tmp.filePath("zirko_gui");
    QVERIFY(QFile::copy(ZIRKO_GUI_EXE, exe));
    QVERIFY(QFile::setPermissions(exe, QFile::permissions(ZIRKO_GUI_EXE)));
    writeFile(tmp.filePath("zirko.ini"), "[logging]\nloglevel=5\nlogtofile=true\n");
    const QString log = tmp.filePath("zirko_log.txt");

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("TMPDIR", tmp.path());  // private lock and socket
    env.insert("ZIRKO_VIRTUAL", tmp.filePath("receiver.state"));
    QProcess first, second;
    first.setProcessEnvironment(env);
    second.setProcessEnvironment(env);
    first.start(exe, {});
    QVERIFY(first.waitForStarted());
    const QString lock = tmp.filePath(SingleInstance::defaultId() + ".lock");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lock), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(tmp.filePath(SingleInstance::defaultId())), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(readFile(log).contains("checking status"), 10000);
    const QByteArray firstLine = readFile(log).left(readFile(log).indexOf('\n') + 1);

    second.start(exe, {});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);
    const qint64 sizeAfterSecond = readFile(log).size();
    QTRY_VERIFY(readFile(log).size() > sizeAfterSecond);  // the first copy goes on logging
    const QByteArray after = readFile(log);
    QVERIFY(after.startsWith(firstLine));
    QVERIFY(!after.contains('\0'));
    first.kill();
    first.waitForFinished();
  }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
