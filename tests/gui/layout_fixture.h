#ifndef ZIRKO_TESTS_GUI_LAYOUT_FIXTURE_H
#define ZIRKO_TESTS_GUI_LAYOUT_FIXTURE_H

#include <QBuffer>
#include <QFile>
#include <QList>
#include <QString>

#include "graphicskeyboard.h"
#include "keyboardxmlhandler.h"

// Layouts parsed from a file or text, deleted with the fixture.
struct Layouts {
  QList<GraphicsKeyboard *> list;
  QString messages;
  bool parsed = false;

  Layouts() = default;
  Layouts(const Layouts &) = delete;
  Layouts &operator=(const Layouts &) = delete;
  ~Layouts() { qDeleteAll(list); }

  void parse(QIODevice &device) {
    KeyboardXmlHandler handler;
    handler.setKeyboardList(&list);
    parsed = parseKeyboards(device, handler);
    messages = handler.errorString();
  }
  void parseText(const QByteArray &xml) {
    QBuffer buffer;
    buffer.setData(xml);
    buffer.open(QIODevice::ReadOnly);
    parse(buffer);
  }
  void parseShipped() {
    QFile file(QStringLiteral(":/keyboards/default.xml"));
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) parse(file);
  }

  GraphicsKeyboard *layout(const QString &name) const {
    for (GraphicsKeyboard *l : list)
      if (l->getName() == name) return l;
    return nullptr;
  }
};

inline GraphicsKey *findKey(const GraphicsKeyboard *layout, const QString &name) {
  for (GraphicsKey *key : layout->getKeys())
    if (key->getName() == name) return key;
  return nullptr;
}

#endif  // ZIRKO_TESTS_GUI_LAYOUT_FIXTURE_H
