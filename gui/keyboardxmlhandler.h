#ifndef ZIRKO_GUI_KEYBOARDXMLHANDLER_H
#define ZIRKO_GUI_KEYBOARDXMLHANDLER_H

#include <QList>
#include <QString>
#include <QXmlStreamAttributes>

class GraphicsKeyboard;
class QIODevice;

// Where and why a layout document stopped being well-formed XML.
class XmlParseException {
 public:
  XmlParseException(qint64 line, qint64 column, const QString &message)
      : m_line(line), m_column(column), m_message(message) {}
  qint64 lineNumber() const { return m_line; }
  qint64 columnNumber() const { return m_column; }
  QString message() const { return m_message; }

 private:
  qint64 m_line;
  qint64 m_column;
  QString m_message;
};

// Turns a layout document into GraphicsKeyboard objects. Problems in the
// content only add warning or error lines; malformed XML stops the parse.
class KeyboardXmlHandler {
 public:
  // The caller owns the list and every keyboard appended to it.
  void setKeyboardList(QList<GraphicsKeyboard *> *list) { keyboardList = list; }

  bool startDocument();
  bool startElement(const QString &namespaceURI, const QString &localName, const QString &qName,
                    const QXmlStreamAttributes &attributes);
  bool endElement(const QString &namespaceURI, const QString &localName, const QString &qName);
  bool fatalError(const XmlParseException &exception);
  QString errorString() const { return errorStr; }

  // Integer attribute with C prefixes: "0x" hexadecimal, leading "0" octal,
  // else decimal; anything that is not such a number gives 0.
  static int parseCInteger(const QString &text);

 private:
  void startKey(const QXmlStreamAttributes &attributes);
  void startKeyboard(const QXmlStreamAttributes &attributes);
  void warnUnknownAttributes(const QXmlStreamAttributes &attributes,
                             std::initializer_list<const char *> known);

  QString errorStr;
  GraphicsKeyboard *keyboard = nullptr;
  QList<GraphicsKeyboard *> *keyboardList = nullptr;
};

// Runs a whole document from `device` through `handler`; false when the XML
// is malformed (the handler's fatalError has recorded where).
bool parseKeyboards(QIODevice &device, KeyboardXmlHandler &handler);

#endif  // ZIRKO_GUI_KEYBOARDXMLHANDLER_H
