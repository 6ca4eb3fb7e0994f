// The desktop application's layout documents: the XML reader, the keys it
// builds from their attributes, and what the window then does with a layout
// (clicking keys, walking a sequenced layout, lighting keys for a key press).
#include <QApplication>
#include <QBuffer>
#include <QByteArray>
#include <QList>
#include <cstdint>
#include <cstdlib>

#include "graphicskeyboard.h"
#include "keyboardxmlhandler.h"

namespace {

// Pictures are named by path; an input naming a device or kernel file would
// make the run read it (and hang on a FIFO), which is no finding.
bool names_special_files(const QByteArray &document) {
  for (const char *prefix : {"/dev/", "/proc/", "/sys/"})
    if (document.contains(prefix)) return true;
  return false;
}

void use_layout(GraphicsKeyboard &layout) {
  const QList<GraphicsKey *> keys = layout.getKeys();
  for (GraphicsKey *key : keys) {
    layout.keyClicked(key);
    layout.blinkSelection();
  }
  layout.clearSelection();
  for (qsizetype i = 0; i <= keys.size() && layout.selectNextSequenced(); ++i) {
  }
  layout.clearSelection();
  for (int keyCode : layout.getKeyMap().keys())
    layout.highlightForKeyEvent(keyCode, Qt::ShiftModifier | Qt::ControlModifier);
  layout.clearSelection();
  layout.clearHeldModifiers();
  layout.boundingRect();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "fuzz_layout";
  static char *argv[] = {name, nullptr};
  new QApplication(argc, argv);  // lives as long as the process
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const QByteArray document(reinterpret_cast<const char *>(data), qsizetype(size));
  if (names_special_files(document)) return -1;  // not added to the corpus
  QBuffer buffer;
  buffer.setData(document);
  buffer.open(QIODevice::ReadOnly);
  QList<GraphicsKeyboard *> layouts;
  KeyboardXmlHandler handler;
  handler.setKeyboardList(&layouts);
  parseKeyboards(buffer, handler);
  for (GraphicsKeyboard *layout : layouts) use_layout(*layout);
  qDeleteAll(layouts);
  return 0;
}

// Font configuration keeps caches for the life of the process, which the
// leak check at exit would otherwise report against the last input.
extern "C" const char *__lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
