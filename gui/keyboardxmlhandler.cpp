#include "keyboardxmlhandler.h"

#include <QIODevice>
#include <QXmlStreamReader>

#include "graphicskeyboard.h"

namespace {

int parseDecimal(const QString &text) {
  bool ok = false;
  const int value = text.toInt(&ok, 10);
  return ok ? value : 0;
}

}  // namespace

int KeyboardXmlHandler::parseCInteger(const QString &text) {
  QString digits = text.trimmed();
  bool negative = false;
  if (digits.startsWith(u'-') || digits.startsWith(u'+')) {
    negative = digits.front() == u'-';
    digits.remove(0, 1);
  }
  int base = 10;
  if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
    base = 16;
    digits.remove(0, 2);
  } else if (digits.size() > 1 && digits.front() == u'0') {
    base = 8;
    digits.remove(0, 1);
  }
  // toInt alone would accept a second sign, prefix or blanks here.
  if (digits.isEmpty() || !digits.front().isLetterOrNumber()) return 0;
  if (base == 16 && digits.contains(u'x', Qt::CaseInsensitive)) return 0;
  bool ok = false;
  const int value = digits.toInt(&ok, base);
  if (!ok) return 0;
  return negative ? -value : value;
}

bool KeyboardXmlHandler::startDocument() {
  errorStr.clear();
  keyboard = nullptr;
  return true;
}

bool KeyboardXmlHandler::endElement(const QString &, const QString &, const QString &) {
  return true;
}

bool KeyboardXmlHandler::fatalError(const XmlParseException &exception) {
  errorStr += QStringLiteral("ERROR: Parsing line %1 column %2: %3\n")
                  .arg(exception.lineNumber())
                  .arg(exception.columnNumber())
                  .arg(exception.message());
  return false;
}

bool KeyboardXmlHandler::startElement(const QString &, const QString &, const QString &qName,
                                      const QXmlStreamAttributes &attributes) {
  if (qName == QLatin1String("key")) {
    if (keyboard != nullptr) startKey(attributes);
  } else if (qName == QLatin1String("keyboard")) {
    startKeyboard(attributes);
  }
  return true;
}

void KeyboardXmlHandler::warnUnknownAttributes(const QXmlStreamAttributes &attributes,
                                               std::initializer_list<const char *> known) {
  for (const QXmlStreamAttribute &attribute : attributes) {
    const QString attributeName = attribute.qualifiedName().toString();
    bool isKnown = false;
    for (const char *k : known) isKnown = isKnown || attributeName == QLatin1String(k);
    if (!isKnown) errorStr += QStringLiteral("WARNING: attribute %1 ignored.\n").arg(attributeName);
  }
}

void KeyboardXmlHandler::startKey(const QXmlStreamAttributes &attributes) {
  warnUnknownAttributes(attributes, {"name", "tooltip", "highlight", "dark", "usb", "ismodifier",
                                     "modifier", "sequence"});
  const QString name = attributes.value(QLatin1String("name")).toString();
  const QString tooltip = attributes.value(QLatin1String("tooltip")).toString();
  const QString highlight = attributes.value(QLatin1String("highlight")).toString();
  const QString dark = attributes.value(QLatin1String("dark")).toString();
  const int usb = parseCInteger(attributes.value(QLatin1String("usb")).toString());
  const int isModifier = parseDecimal(attributes.value(QLatin1String("ismodifier")).toString());
  const int modifier = parseCInteger(attributes.value(QLatin1String("modifier")).toString());
  const int sequence = parseDecimal(attributes.value(QLatin1String("sequence")).toString());
  if (name.isEmpty() || tooltip.isEmpty() || highlight.isEmpty() || dark.isEmpty()) {
    errorStr +=
        QStringLiteral("ERROR: key %1 missing required attributes and is ignored.\n").arg(name);
    return;
  }
  keyboard->addKey(name, tooltip, highlight, dark, isModifier == 1, usb, modifier, sequence);
}

void KeyboardXmlHandler::startKeyboard(const QXmlStreamAttributes &attributes) {
  warnUnknownAttributes(attributes, {"name", "menu", "image", "type"});
  const QString name = attributes.value(QLatin1String("name")).toString();
  const QString menu = attributes.value(QLatin1String("menu")).toString();
  const QString image = attributes.value(QLatin1String("image")).toString();
  const QString type = attributes.value(QLatin1String("type")).toString();
  if (type != QLatin1String("normal") && type != QLatin1String("sequenced")) {
    errorStr +=
        QStringLiteral("WARNING: keyboard %1 should have type of normal or sequenced.\n").arg(name);
  }
  if (name.isEmpty() || image.isEmpty()) {
    errorStr += QStringLiteral("ERROR: keyboard %1 missing critical attribute.\n").arg(name);
    keyboard = nullptr;
    return;
  }
  // Without a destination list nobody would own the layout.
  if (keyboardList == nullptr) {
    keyboard = nullptr;
    return;
  }
  keyboard = new GraphicsKeyboard(image, name, menu, type == QLatin1String("sequenced"));
  keyboardList->append(keyboard);
}

bool parseKeyboards(QIODevice &device, KeyboardXmlHandler &handler) {
  QXmlStreamReader reader(&device);
  if (!handler.startDocument()) return false;
  while (!reader.atEnd()) {
    switch (reader.readNext()) {
      case QXmlStreamReader::StartElement:
        if (!handler.startElement(reader.namespaceUri().toString(), reader.name().toString(),
                                  reader.qualifiedName().toString(), reader.attributes()))
          return false;
        break;
      case QXmlStreamReader::EndElement:
        if (!handler.endElement(reader.namespaceUri().toString(), reader.name().toString(),
                                reader.qualifiedName().toString()))
          return false;
        break;
      default:
        break;
    }
  }
  if (reader.hasError()) {
    return handler.fatalError(
        XmlParseException(reader.lineNumber(), reader.columnNumber(), reader.errorString()));
  }
  return true;
}
