#ifndef ZIRKO_GUI_BUTTON_MAP_MENU_H
#define ZIRKO_GUI_BUTTON_MAP_MENU_H

#include <QString>
#include <functional>
#include <vector>

#include "question.h"
#include "zirko_map.h"

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
  // The buttons the window shows; an import that would remove some of them
  // asks first (may be left empty).
  std::function<std::vector<zk::map::Button>()> shownButtons;
  // Keeps the image an import replaces in the history: false when it could
  // not be kept; then agreeUnkept asks whether to go on anyway.
  std::function<bool(const std::vector<unsigned char> &current, const QString &change)> keep;
  std::function<bool()> agreeUnkept;
  // Writes the image over `current`, read whole just before: 0 or a failure
  // code (empty: the library is called here, and `written` told).
  std::function<int(const std::vector<unsigned char> &image,
                    const std::vector<unsigned char> &current, const QString &change)>
      write;
};

// Adds the two entries to the menu in front of `before`.
void addButtonMapActions(QMenu *menu, QAction *before, const ButtonMapHost &host);

void exportButtonMap(const ButtonMapHost &host);
void importButtonMap(const ButtonMapHost &host);

#endif  // ZIRKO_GUI_BUTTON_MAP_MENU_H
