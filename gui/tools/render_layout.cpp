// Renders one shipped layout to a PNG without a display, optionally with one
// key lit, so the artwork can be checked against the layout file.
// Usage: zirko_render_layout <layout name> <out.png> [key name]

#include <QApplication>
#include <QFile>
#include <QGraphicsScene>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdio>

#include "graphicskeyboard.h"
#include "keyboardxmlhandler.h"

namespace {

constexpr char kLayoutFile[] = ":/keyboards/default.xml";

void complain(const QString &text) {
  std::fprintf(stderr, "%s\n", qPrintable(text));
}

GraphicsKeyboard *findLayout(const QList<GraphicsKeyboard *> &layouts, const QString &name) {
  for (GraphicsKeyboard *layout : layouts)
    if (layout->getName() == name) return layout;
  return nullptr;
}

GraphicsKey *findKey(const GraphicsKeyboard &layout, const QString &name) {
  for (GraphicsKey *key : layout.getKeys())
    if (key->getName() == name) return key;
  return nullptr;
}

bool render(GraphicsKeyboard *layout, const QString &outPath) {
  QGraphicsScene scene;
  scene.addItem(layout);
  const QRectF area = layout->sceneBoundingRect();
  if (area.isEmpty()) {
    scene.removeItem(layout);
    complain(QStringLiteral("layout %1 has nothing to draw").arg(layout->getName()));
    return false;
  }
  QImage image(static_cast<int>(std::ceil(area.width())),
               static_cast<int>(std::ceil(area.height())), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter, QRectF(image.rect()), area);
  }
  // The layout stays owned by the caller's list, not by the scene.
  scene.removeItem(layout);
  if (!image.save(outPath, "PNG")) {
    complain(QStringLiteral("could not write %1").arg(outPath));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 3 || args.size() > 4) {
    complain(QStringLiteral("usage: zirko_render_layout <layout name> <out.png> [key name]"));
    return 1;
  }

  QList<GraphicsKeyboard *> layouts;
  KeyboardXmlHandler handler;
  handler.setKeyboardList(&layouts);
  QFile file(QString::fromLatin1(kLayoutFile));
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    complain(QStringLiteral("could not open %1").arg(file.fileName()));
    return 1;
  }
  const bool parsed = parseKeyboards(file, handler);
  if (!handler.errorString().isEmpty()) complain(handler.errorString().trimmed());

  int status = 1;
  GraphicsKeyboard *layout = findLayout(layouts, args.at(1));
  if (layout == nullptr) {
    complain(QStringLiteral("no layout named %1").arg(args.at(1)));
  } else if (!layout->hasPicture()) {
    complain(QStringLiteral("picture of layout %1 could not be loaded").arg(args.at(1)));
  } else {
    GraphicsKey *key = args.size() == 4 ? findKey(*layout, args.at(3)) : nullptr;
    if (args.size() == 4 && key == nullptr) {
      complain(QStringLiteral("layout %1 has no key named %2").arg(args.at(1), args.at(3)));
    } else {
      if (key != nullptr) key->setHighlighted(true);
      if (render(layout, args.at(2)) && parsed) status = 0;
    }
  }
  qDeleteAll(layouts);
  return status;
}
