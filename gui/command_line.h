#ifndef ZIRKO_GUI_COMMAND_LINE_H
#define ZIRKO_GUI_COMMAND_LINE_H

#include <QStringList>
#include <optional>

// Answers --help, --version and mistakes on the command line before anything
// needs a display: returns the exit status when the program should end
// (0 after help or version, 2 after a usage message on standard error), or
// nothing when the window should start. Qt's own options (-platform,
// -display, -style, ...) are let through for QApplication.
std::optional<int> answerCommandLine(const QStringList &arguments);

#endif  // ZIRKO_GUI_COMMAND_LINE_H
