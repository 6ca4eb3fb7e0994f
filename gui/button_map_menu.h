#ifndef ZIRKO_GUI_BUTTON_MAP_MENU_H
#define ZIRKO_GUI_BUTTON_MAP_MENU_H

#include <QString>
#include <functional>
#include <vector>

#include "question.h"

class QAction;
class QMenu;

// What File → Export Button Map… and Import Button Map… need from the main
// window; they are zirko_util's export and import, with the same checks and
// messages.
struct ButtonMapHost {
  std::function<QString(const Question &)> ask;
  std::function<QString(const FileRequest &)> chooseFile;
  std::function<QString(const QString &baseName)> proposedFile;
  std::function<void(const QString &)> showStatus;
  std::function<bool()> receiverRunsFirmware;
  // The image now on the receiver (may be left empty).
  std::function<void(const std::vector<unsigned char> &)> written;
};

// Adds the two entries to the menu in front of `before`.
void addButtonMapActions(QMenu *menu, QAction *before, const ButtonMapHost &host);

void exportButtonMap(const ButtonMapHost &host);
void importButtonMap(const ButtonMapHost &host);

#endif  // ZIRKO_GUI_BUTTON_MAP_MENU_H
