#include <sys/stat.h>

#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>
#include <chrono>
#include <cstdio>
#include <future>

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

  SettingsPaths paths() const {
    return {exeDir.path().toStdString(), home.filePath("config").toStdString(),
            home.filePath("state").toStdString(), home.path().toStdString()};
  }
  QString ini() const { return exeDir.filePath("zirko.ini"); }
  QString stateLog(const QString &name = "zirko_log.txt") const {
    return home.filePath("state/zirko/" + name);
  }
  int load() { return loadSettings(paths()); }

 private slots:
  void init() {
    QFile::remove(ini());
    QDir(home.path()).removeRecursively();
    QDir().mkpath(home.path());
  }

  void missingFileChangesNothing() {
    StderrGuard guard;
    QCOMPARE(load(), -1);
    QCOMPARE(zk_set_log_level(ZK_LOG_WARNING), ZK_LOG_WARNING);
  }

  // A zirko.ini beside the program (a portable install) wins over the one
  // in the user's configuration folder.
  void settingsFileBesideTheProgramWins_data() {
    QTest::addColumn<bool>("beside");
    QTest::addColumn<bool>("inConfig");
    QTest::addColumn<int>("level");
    QTest::newRow("beside only") << true << false << 1;
    QTest::newRow("configuration folder only") << false << true << 3;
    QTest::newRow("both") << true << true << 1;
  }
  void settingsFileBesideTheProgramWins() {
    QFETCH(bool, beside);
    QFETCH(bool, inConfig);
    QFETCH(int, level);
    if (beside) writeFile(ini(), "[logging]\nloglevel=1\n");
    QVERIFY(QDir(home.path()).mkpath("config/zirko"));
    if (inConfig) writeFile(home.filePath("config/zirko/zirko.ini"), "[logging]\nloglevel=3\n");
    StderrGuard guard;
    QCOMPARE(load(), 0);
    logEveryLevel();
    QCOMPARE(QByteArray::fromStdString(guard.text()).count('\n'), level);
  }

  // Unset, empty and relative XDG folders fall back to the home folder's.
  void foldersFromTheEnvironment_data() {
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<QString>("configHome");
    QTest::addColumn<QString>("stateHome");
    QTest::newRow("set") << QByteArray("/c") << QByteArray("/s") << "/c"
                         << "/s";
    QTest::newRow("empty") << QByteArray("") << QByteArray("") << "/h/.config"
                           << "/h/.local/state";
    QTest::newRow("relative") << QByteArray("c") << QByteArray("./s") << "/h/.config"
                              << "/h/.local/state";
  }
  void foldersFromTheEnvironment() {
    QFETCH(QByteArray, config);
    QFETCH(QByteArray, state);
    QFETCH(QString, configHome);
    QFETCH(QString, stateHome);
    const QByteArray saved[] = {qgetenv("HOME"), qgetenv("XDG_CONFIG_HOME"),
                                qgetenv("XDG_STATE_HOME")};
    qputenv("HOME", "/h");
    qputenv("XDG_CONFIG_HOME", config);
    qputenv("XDG_STATE_HOME", state);
    const SettingsPaths found = SettingsPaths::fromEnvironment("/opt/zirko");
    qputenv("HOME", saved[0]);
    qputenv("XDG_CONFIG_HOME", saved[1]);
    qputenv("XDG_STATE_HOME", saved[2]);
    QCOMPARE(QString::fromStdString(found.configHome), configHome);
    QCOMPARE(QString::fromStdString(found.stateHome), stateHome);
    QCOMPARE(QString::fromStdString(found.homeDir), QString("/h"));
  }

  void logLevelWithoutFileWritesToStandardError() {
    writeFile(ini(), "[logging]\nloglevel=4\n");
    StderrGuard guard;
    QCOMPARE(load(), 0);
    logEveryLevel();
    QCOMPARE(QByteArray::fromStdString(guard.text()),
             QByteArray("[E] test(1): one\n[W] test(2): two\n"
                        "[I] test(3): three\n[D] test(4): four\n"));
    QVERIFY(!QFile::exists(stateLog()));
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
    QCOMPARE(load(), 0);
    logEveryLevel();
    QCOMPARE(QFile::exists(stateLog()), fileExpected);
    QCOMPARE(readFile(stateLog()), contents);
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
    QVERIFY(QDir(home.path()).mkpath("state/zirko"));
    writeFile(stateLog(), "earlier\n");
    StderrGuard guard;
    QCOMPARE(load(), 0);
    logEveryLevel();
    QCOMPARE(readFile(stateLog()), contents);
  }

  // Where the log file lands for each file name; the state folders are
  // made, private to the user.
  void logFileLocation_data() {
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QString>("where");  // under the home folder, or absolute
    QTest::newRow("relative name in the state folder")
        << QByteArray("file=gui.txt\n") << "state/zirko/gui.txt";
    QTest::newRow("further folders are made")
        << QByteArray("file=logs/gui.txt\n") << "state/zirko/logs/gui.txt";
    QTest::newRow("absolute name as given")
        << QByteArray("file=" + exeDir.filePath("gui.txt").toUtf8() + "\n")
        << exeDir.filePath("gui.txt");
    QTest::newRow("desktop") << QByteArray("desktop=true\nfile=logs/gui.txt\n")
                             << "Desktop/logs/gui.txt";
  }
  void logFileLocation() {
    QFETCH(QByteArray, settings);
    QFETCH(QString, where);
    QVERIFY(QDir(home.path()).mkpath("Desktop/logs"));
    writeFile(ini(), "[logging]\nloglevel=1\nlogtofile=true\n" + settings);
    StderrGuard guard;
    QCOMPARE(load(), 0);
    logEveryLevel();
    QCOMPARE(readFile(QDir(home.path()).filePath(where)), QByteArray("[E] test(1): one\n"));
    QCOMPARE(QByteArray::fromStdString(guard.text()), QByteArray());
    if (where.startsWith("state/")) {
      QCOMPARE(QFile::permissions(home.filePath("state/zirko")) & 0x0077,
               QFileDevice::Permissions());
    }
    QFile::remove(exeDir.filePath("gui.txt"));
  }

  // A log file that can't be used gets one warning; the log stays on
  // standard error and start-up goes on. A FIFO would block opening it.
  void unusableLogFileWarnsOnceAndLogsToStandardError_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("folder missing under a file") << "under a file" << QByteArray("Not a directory");
    QTest::newRow("fifo") << "fifo" << QByteArray("not a regular file");
    QTest::newRow("folder") << "folder" << QByteArray("not a regular file");
  }
  void unusableLogFileWarnsOnceAndLogsToStandardError() {
    QFETCH(QString, kind);
    QFETCH(QByteArray, reason);
    QVERIFY(QDir(home.path()).mkpath("state/zirko"));
    QString name = "zirko_log.txt";
    if (kind == "under a file") {
      writeFile(stateLog("plain"), "");
      name = "plain/zirko_log.txt";
    } else if (kind == "fifo") {
      QCOMPARE(mkfifo(stateLog().toLocal8Bit().constData(), 0600), 0);
    } else {
      QVERIFY(QDir().mkpath(stateLog()));
    }
    writeFile(ini(), "[logging]\nloglevel=1\nlogtofile=true\nfile=" + name.toUtf8() + "\n");
    StderrGuard guard;
    auto loaded = std::async(std::launch::async, [this] { return load(); });
    if (loaded.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      // Let the blocked open go on, so that the test can end.
      QFile reader(stateLog());
      (void)reader.open(QIODevice::ReadOnly);
      loaded.wait();
      QFAIL("opening the log file blocked the start-up");
    }
    QCOMPARE(loaded.get(), 0);
    logEveryLevel();
    const QByteArray text = QByteArray::fromStdString(guard.text());
    const QByteArray warning = "cannot log to " + stateLog(name).toUtf8() + ": " + reason +
                               "; logging to standard error\n";
    QVERIFY2(text.startsWith("[W] ") && text.count("[W]") == 1, text.constData());
    QVERIFY2(text.contains(warning), text.constData());
    QVERIFY(text.endsWith("[E] test(1): one\n"));
  }

  // A later copy on the same display raises the running window; one on
  // another display is told where the window is, and nothing is raised.
  void secondCopyActivatesTheFirstOnItsDisplay_data() {
    QTest::addColumn<QString>("display");
    QTest::addColumn<SingleInstance::Answer>("answer");
    QTest::newRow("same display") << "xcb :0" << SingleInstance::Answer::Raised;
    QTest::newRow("other display") << "xcb :1" << SingleInstance::Answer::OtherDisplay;
  }
  void secondCopyActivatesTheFirstOnItsDisplay() {
    QFETCH(QString, display);
    QFETCH(SingleInstance::Answer, answer);
    const QString id = QString("zirko_gui_test-%1").arg(QCoreApplication::applicationPid());
    SingleInstance first(id, "xcb :0");
    QVERIFY(!first.isRunning());
    QWidget window;
    first.setActivationWindow(&window);
    QSignalSpy activated(&first, &SingleInstance::activationRequested);

    SingleInstance second(id, display);
    QVERIFY(second.isRunning());
    // The later copy waits for the answer, which the running copy's event
    // loop (this thread's) gives.
    QString runningDisplay;
    auto sent =
        std::async(std::launch::async, [&] { return second.sendActivate(5000, &runningDisplay); });
    QTRY_VERIFY(sent.wait_for(std::chrono::seconds(0)) == std::future_status::ready);
    QCOMPARE(sent.get(), answer);
    const bool raised = answer == SingleInstance::Answer::Raised;
    QCOMPARE(activated.count(), raised ? 1 : 0);
    QCOMPARE(window.isVisible(), raised);
    QCOMPARE(runningDisplay, raised ? QString() : QString("xcb :0"));
  }

  void nobodyAnsweringIsUnreachable() {
    const QString id = QString("zirko_gui_none-%1").arg(QCoreApplication::applicationPid());
    QCOMPARE(SingleInstance(id).sendActivate(200), SingleInstance::Answer::Unreachable);
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

  // Installed: the program in a folder of its own with no zirko.ini, the
  // settings in the configuration folder. The log lands in the state folder,
  // the working folder stays; a second copy ends with 0, says so, and leaves
  // the running copy's log as it was: not emptied, and written line by line
  // (lines show while it runs).
  void installedProgramLogsToTheStateFolderAndStaysSingle() {
    QTemporaryDir tmp;
    QVERIFY(QDir(tmp.path()).mkpath("bin") && QDir(tmp.path()).mkpath("config/zirko") &&
            QDir(tmp.path()).mkpath("work"));
    const QString exe = tmp.filePath("bin/zirko_gui");
    QVERIFY(QFile::copy(ZIRKO_GUI_EXE, exe));
    QVERIFY(QFile::setPermissions(exe, QFile::permissions(ZIRKO_GUI_EXE)));
    writeFile(tmp.filePath("config/zirko/zirko.ini"), "[logging]\nloglevel=5\nlogtofile=true\n");
    const QString log = tmp.filePath("state/zirko/zirko_log.txt");

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("TMPDIR", tmp.path());  // private lock and socket
    env.insert("XDG_CONFIG_HOME", tmp.filePath("config"));
    env.insert("XDG_STATE_HOME", tmp.filePath("state"));
    env.insert("ZIRKO_VIRTUAL", tmp.filePath("receiver.state"));
    QProcess first, second;
    for (QProcess *copy : {&first, &second}) {
      copy->setProcessEnvironment(env);
      copy->setWorkingDirectory(tmp.filePath("work"));
    }
    first.start(exe, {});
    QVERIFY(first.waitForStarted());
    const auto stopFirst = qScopeGuard([&first] {
      first.kill();
      first.waitForFinished();
    });
    const QString lock = tmp.filePath(SingleInstance::defaultId() + ".lock");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lock), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(tmp.filePath(SingleInstance::defaultId())), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(readFile(log).contains("checking status"), 10000);
    const QByteArray firstLine = readFile(log).left(readFile(log).indexOf('\n') + 1);
    QCOMPARE(QFileInfo(QString("/proc/%1/cwd").arg(first.processId())).canonicalFilePath(),
             QFileInfo(tmp.filePath("work")).canonicalFilePath());
    QVERIFY(!QFile::exists(tmp.filePath("bin/zirko_log.txt")));

    second.start(exe, {});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    const QByteArray secondErr = second.readAllStandardError();
    QVERIFY2(secondErr.count("Zirko is already running\n") == 1, secondErr.constData());
    QCOMPARE(first.state(), QProcess::Running);
    const qint64 sizeAfterSecond = readFile(log).size();
    QTRY_VERIFY(readFile(log).size() > sizeAfterSecond);  // the first copy goes on logging
    const QByteArray after = readFile(log);
    QVERIFY(after.startsWith(firstLine));
    QVERIFY(!after.contains('\0'));
  }

  // Help, version and mistakes are answered without a display, a window or
  // a receiver: with no display at all, starting a window would fail.
  void commandLineAnsweredWithoutADisplay_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    QTest::newRow("help") << QStringList{"--help"} << 0 << QByteArray("Usage: ") << QByteArray();
    QTest::newRow("short help") << QStringList{"-h"} << 0 << QByteArray("--version")
                                << QByteArray();
    QTest::newRow("version") << QStringList{"--version"} << 0
                             << QByteArray("zirko_gui " ZIRKO_VERSION "\n") << QByteArray();
    QTest::newRow("unknown option") << QStringList{"--no-such-option"} << 2 << QByteArray()
                                    << QByteArray("Unknown option 'no-such-option'.\nUsage: ");
    QTest::newRow("mistake before help") << QStringList{"--bogus", "--help"} << 2 << QByteArray()
                                         << QByteArray("Unknown option 'bogus'.");
    QTest::newRow("argument") << QStringList{"file.zcfg"} << 2 << QByteArray()
                              << QByteArray("unexpected argument 'file.zcfg'");
    QTest::newRow("Qt option without its value") << QStringList{"-platform"} << 2 << QByteArray()
                                                 << QByteArray("Missing value after '-platform'.");
  }
  void commandLineAnsweredWithoutADisplay() {
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QTemporaryDir tmp;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
    env.insert("TMPDIR", tmp.path());
    env.insert("ZIRKO_VIRTUAL", tmp.filePath("receiver.state"));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(ZIRKO_GUI_EXE, arguments);
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    const QByteArray stdOut = program.readAllStandardOutput();
    const QByteArray stdErr = program.readAllStandardError();
    QVERIFY2(program.exitCode() == status, stdErr.constData());
    QVERIFY2(out.isEmpty() ? stdOut.isEmpty() : stdOut.contains(out), stdOut.constData());
    QVERIFY2(err.isEmpty() ? stdErr.isEmpty() : stdErr.contains(err), stdErr.constData());
    // No single-instance hand-over happened either.
    QVERIFY(!QFile::exists(tmp.filePath(SingleInstance::defaultId() + ".lock")));
  }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
