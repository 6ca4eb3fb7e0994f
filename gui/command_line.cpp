#include "command_line.h"

#include <QCommandLineParser>
#include <QString>
#include <cstdio>

namespace {

// The options QApplication takes itself, with a value and without.
const char *const kQtValueOptions[] = {"platform",        "platformpluginpath",
                                       "platformtheme",   "plugin",
                                       "display",         "geometry",
                                       "qwindowgeometry", "qwindowicon",
                                       "qwindowtitle",    "style",
                                       "stylesheet",      "session",
                                       "title",           "name"};
const char *const kQtFlags[] = {"reverse", "sync", "nograb", "dograb", "widgetcount"};

void print(FILE *stream, const QString &text) {
  std::fputs(text.toLocal8Bit().constData(), stream);
  std::fflush(stream);
}

}  // namespace

std::optional<int> answerCommandLine(const QStringList &arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Pair remote control buttons with keyboard keys on a Zirko infrared receiver.");
  // Qt's options are single-dash words; there are no short options to bundle.
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
  const QCommandLineOption version("version", "Show the version and exit.");
  parser.addOption(help);
  parser.addOption(version);
  for (const char *name : kQtValueOptions) {
    QCommandLineOption option(name, QString(), "value");
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }
  for (const char *name : kQtFlags) {
    QCommandLineOption option(name);
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }

  const QString program = "zirko_gui";
  const QString usage = QString("Usage: %1 [--help] [--version]\n").arg(program);
  if (!parser.parse(arguments)) {
    print(stderr, QString("%1: %2\n%3").arg(program, parser.errorText(), usage));
    return 2;
  }
  if (!parser.positionalArguments().isEmpty()) {
    print(stderr, QString("%1: unexpected argument '%2'\n%3")
                      .arg(program, parser.positionalArguments().first(), usage));
    return 2;
  }
  if (parser.isSet(help)) {
    // The parser's own first line names no program without an application
    // object, which this answer must not need.
    const QString text = parser.helpText();
    print(stdout, usage + text.mid(text.indexOf('\n') + 1) +
                      "\nThe settings file and the log are described in zirko_gui(1).\n");
    return 0;
  }
  if (parser.isSet(version)) {
    print(stdout, QString("zirko_gui %1\n").arg(ZIRKO_VERSION));
    return 0;
  }
  return std::nullopt;
}
