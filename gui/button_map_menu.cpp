#include "button_map_menu.h"

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QSaveFile>
#include <cstdlib>
#include <vector>

#include "zirko.h"
#include "zirko_map.h"

namespace {

const char *const kMapFilter = "Zirko Button Map (*.zmap)";
constexpr qint64 kLongestMap = 1 << 20;  // bytes; far beyond 169 lines

QString tr(const char *text) {
  return QCoreApplication::translate("ButtonMapMenu", text);
}

bool receiverReady(const ButtonMapHost &host) {
  if (host.receiverRunsFirmware()) return true;
  host.showStatus(tr("Please connect zirko"));
  return false;
}

// The chosen file, or an empty text after saying the choice was cancelled.
QString chooseMap(const ButtonMapHost &host, FileRequest::Mode mode, const QString &title) {
  const QString chosen = host.chooseFile(
      {mode, title, host.proposedFile(tr("my_zirko_buttons.zmap")), tr(kMapFilter)});
  if (chosen.isEmpty()) host.showStatus(tr("Canceled"));
  return chosen;
}

void tell(const ButtonMapHost &host, const QString &text, const QString &details) {
  Question box = standardQuestion(text, {"OK"});
  box.detailedText = details;
  host.ask(box);
}

void refuse(const ButtonMapHost &host, const QString &path,
            const std::vector<zk::map::Problem> &problems) {
  const std::string name = QFileInfo(path).fileName().toStdString();
  QStringList lines;
  for (const zk::map::Problem &p : problems)
    lines << QString::fromStdString(zk::map::describe(p, name));
  tell(host, QString::fromStdString(zk::map::refusal(name)), lines.join('\n'));
  host.showStatus(tr("Button map not imported"));
}

// "Replace", "Merge", or an empty text when the user cancelled.
QString askHowToImport(const ButtonMapHost &host) {
  Question box;
  box.text = tr("Import the button map?");
  box.informativeText =
      tr("Replace: zirko then holds the map's buttons.\n"
         "Merge: the map's buttons are added; a button zirko already has keeps its key.");
  box.buttons = QStringList{"Replace", "Merge", "Cancel"};
  box.defaultButton = "Cancel";
  const QString answer = host.ask(box);
  if (answer == "Replace" || answer == "Merge") return answer;
  host.showStatus(tr("Canceled"));
  return {};
}

// Through the library's reader: a FIFO, a device or a huge file is refused
// at once. Empty, or why the file was not read.
QString readMap(const QString &path, QByteArray &text) {
  unsigned char *bytes = nullptr;
  char reason[160] = "";
  const long length = zk_read_input_file(QFile::encodeName(path).constData(), kLongestMap, &bytes,
                                         reason, sizeof reason);
  if (length < 0) return QString::fromLocal8Bit(reason);
  text = QByteArray(reinterpret_cast<const char *>(bytes), int(length));
  free(bytes);
  return {};
}

// Buttons the window shows that a replacing map leaves out.
int removedBy(const ButtonMapHost &host, const zk::map::Parsed &map) {
  if (!host.shownButtons) return 0;
  int removed = 0;
  for (const zk::map::Button &held : host.shownButtons()) {
    bool inMap = false;
    for (const zk::map::Button &b : map.buttons) inMap = inMap || b.hash == held.hash;
    removed += inMap ? 0 : 1;
  }
  return removed;
}

bool confirmRemoval(const ButtonMapHost &host, int removed) {
  Question box;
  box.text = removed == 1 ? tr("The map removes 1 button that zirko has")
                          : tr("The map removes %1 buttons that zirko has").arg(removed);
  box.informativeText =
      tr("They are not in the map. The configuration from before is kept in the history, so "
         "Edit → Undo brings them back.\n\nImport the map?");
  box.buttons = QStringList{"Import", "Cancel"};
  box.defaultButton = "Cancel";
  if (host.ask(box) == "Import") return true;
  host.showStatus(tr("Canceled"));
  return false;
}

void writeImage(const ButtonMapHost &host, const zk::map::Plan &plan,
                const std::vector<unsigned char> &current, const QString &change) {
  host.showStatus(tr("Button map being imported, please wait..."));
  QCoreApplication::processEvents();
  const int rc = host.write ? host.write(plan.image, current, change)
                            : zk_write_config_image(plan.image.data(), int(plan.image.size()));
  if (rc != 0) {
    host.showStatus(tr("Could not import button map"));
    return;
  }
  if (host.written && !host.write) host.written(plan.image);
  host.showStatus(tr("Button map imported"));
  if (plan.kept.empty()) return;
  QStringList kept;
  for (const zk::map::Kept &k : plan.kept) kept << QString::fromStdString(zk::map::describe(k));
  tell(host, tr("Buttons zirko already had kept their keys"), kept.join('\n'));
}

}  // namespace

void addButtonMapActions(QMenu *menu, QAction *before, const ButtonMapHost &host) {
  auto *exportAction = new QAction(tr("Export Button Map..."), menu);
  auto *importAction = new QAction(tr("Import Button Map..."), menu);
  QObject::connect(exportAction, &QAction::triggered, menu, [host] { exportButtonMap(host); });
  QObject::connect(importAction, &QAction::triggered, menu, [host] { importButtonMap(host); });
  menu->insertAction(before, exportAction);
  menu->insertAction(before, importAction);
}

void exportButtonMap(const ButtonMapHost &host) {
  if (!receiverReady(host)) return;
  const QString path = chooseMap(host, FileRequest::kSave, tr("Export Button Map"));
  if (path.isEmpty()) return;
  std::vector<unsigned char> image;
  if (zk::map::read_receiver_image(image) != 0) {
    host.showStatus(tr("Could not read the buttons from zirko"));
    return;
  }
  const std::vector<zk::map::Button> buttons = zk::map::buttons_of(image);
  const std::string text = zk::map::format(buttons, zk::map::receiver_header());
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(text.data(), qint64(text.size())) < 0 ||
      !file.commit()) {
    host.showStatus(tr("Could not save file"));
    return;
  }
  host.showStatus(tr("Exported %1 buttons").arg(buttons.size()));
}

// Every line is checked before zirko is touched, as zirko_util import does.
void importButtonMap(const ButtonMapHost &host) {
  if (!receiverReady(host)) return;
  const QString path = chooseMap(host, FileRequest::kOpen, tr("Import Button Map"));
  if (path.isEmpty()) return;
  QByteArray text;
  if (const QString reason = readMap(path, text); !reason.isEmpty()) {
    host.showStatus(tr("Could not open file: %1: %2").arg(QFileInfo(path).fileName(), reason));
    return;
  }
  const zk::map::Parsed map = zk::map::parse(std::string_view(text.constData(), text.size()));
  if (!map.problems.empty()) return refuse(host, path, map.problems);
  const QString how = askHowToImport(host);
  if (how.isEmpty()) return;
  const int removed = how == "Replace" ? removedBy(host, map) : 0;
  if (removed > 0 && !confirmRemoval(host, removed)) return;
  const QString change = "import " + QFileInfo(path).fileName();
  // Locked from the read the plan and the history use to the last write;
  // never while a question is open.
  for (bool waived = false;; waived = true) {
    {
      const zk::WriteLock lock;
      if (!lock.held()) {
        host.showStatus(tr("Another program is changing zirko; nothing was changed"));
        return;
      }
      std::vector<unsigned char> current;
      if (zk::map::read_receiver_image(current) != 0) {
        host.showStatus(tr("Could not read the buttons from zirko"));
        return;
      }
      const zk::map::Plan plan = zk::map::plan_import(map, current, how == "Merge");
      if (!plan.problems.empty()) return refuse(host, path, plan.problems);
      if (waived || !host.keep || host.keep(current, change)) {
        writeImage(host, plan, current, change);
        return;
      }
    }  // the lock goes before the question
    if (!host.agreeUnkept || !host.agreeUnkept()) return;
  }
}
