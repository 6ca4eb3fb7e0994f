#include <QtTest>

#include "layout_fixture.h"

namespace {

QByteArray document(const QByteArray &body) {
  return "<?xml version=\"1.0\"?>\n<keyboards>\n" + body + "</keyboards>\n";
}

const QByteArray kImage = "image=\"" ZIRKO_GUI_TEST_DATA "/keys.svg\"";

QByteArray keyboard(const QByteArray &name, const QByteArray &extra = "type=\"normal\"") {
  return "<keyboard name=\"" + name + "\" menu=\"Menu " + name + "\" " + kImage + " " + extra +
         ">\n";
}

QByteArray key(const QByteArray &name, const QByteArray &extra = {}) {
  return "<key name=\"" + name + "\" tooltip=\"tip " + name + "\" highlight=\"" + name +
         "_h\" dark=\"" + name + "_g\" " + extra + "/>\n";
}

}  // namespace

class KeyboardXmlHandlerTest : public QObject {
  Q_OBJECT

 private slots:
  void attributesReachTheLayouts() {
    Layouts layouts;
    layouts.parseText(
        document("<!-- comment -->\n" + keyboard("One") +
                 key("x", "usb=\"0117\" modifier=\"0x10\" sequence=\"010\" ismodifier=\"1\"") +
                 key("y", "usb=\"mouse\" ismodifier=\"0x1\" sequence=\"0x2\"") + "</keyboard>\n" +
                 keyboard("Two", "type=\"sequenced\"") + "</keyboard>\n"));
    QVERIFY(layouts.parsed);
    QCOMPARE(layouts.messages, QString());
    QCOMPARE(layouts.list.size(), 2);
    QCOMPARE(layouts.list[0]->getMenu(), QStringLiteral("Menu One"));
    QVERIFY(!layouts.list[0]->getSequenced());
    QVERIFY(layouts.list[1]->getSequenced());
    const auto &keys = layouts.list[0]->getKeys();
    QCOMPARE(keys[0]->getTooltip(), QStringLiteral("tip x"));
    QCOMPARE(keys[0]->getUsb(), 79);
    QCOMPARE(keys[0]->getModifier(), 0x10);
    QCOMPARE(keys[0]->getSequence(), 10);  // decimal only
    QVERIFY(keys[0]->getIsModifier());
    QCOMPARE(keys[1]->getUsb(), 0);
    QVERIFY(!keys[1]->getIsModifier());
    QCOMPARE(keys[1]->getSequence(), 0);
  }

  void numberFormats_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("hex") << "0x4F" << 79;
    QTest::newRow("decimal") << "79" << 79;
    QTest::newRow("octal") << "0117" << 79;
    QTest::newRow("word") << "enter" << 0;
    QTest::newRow("trailing junk") << "0x4Fz" << 0;
    QTest::newRow("not octal") << "09" << 0;
    QTest::newRow("double prefix") << "0x0x4F" << 0;
    QTest::newRow("too large") << "99999999999" << 0;
  }
  void numberFormats() {
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(KeyboardXmlHandler::parseCInteger(text), value);
  }

  void contentProblemsAddLinesButNeverStopTheParse() {
    Layouts layouts;
    layouts.parseText(document(
        key("early") + "<keyboard name=\"A\" " + kImage + " type=\"Sequenced\" colour=\"red\">\n" +
        key("a", "color=\"blue\"") + "<key name=\"nodark\" tooltip=\"t\" highlight=\"h\"/>\n" +
        "<key tooltip=\"t\" highlight=\"h\" dark=\"d\"/>\n</keyboard>\n" + key("stray") +
        "<keyboard name=\"NoPicture\" type=\"normal\">\n" + key("lost") + "</keyboard>\n" +
        keyboard("B") + key("b") + "</keyboard>\n"));
    QVERIFY(layouts.parsed);
    QCOMPARE(layouts.messages,
             QStringLiteral("WARNING: attribute colour ignored.\n"
                            "WARNING: keyboard A should have type of normal or sequenced.\n"
                            "WARNING: attribute color ignored.\n"
                            "ERROR: key nodark missing required attributes and is ignored.\n"
                            "ERROR: key  missing required attributes and is ignored.\n"
                            "ERROR: keyboard NoPicture missing critical attribute.\n"));
    QCOMPARE(layouts.list.size(), 2);
    GraphicsKeyboard *a = layouts.list[0];
    QVERIFY(!a->getSequenced());
    QCOMPARE(a->getMenu(), QString());
    // Closing tags change nothing: a stray key joins the last layout.
    QCOMPARE(a->getKeys().size(), 2);
    QCOMPARE(a->getKeys()[1]->getName(), QStringLiteral("stray"));
    QCOMPARE(layouts.list[1]->getKeys().size(), 1);
  }

  void truncatedDocumentFailsAndKeepsWhatWasBuilt() {
    Layouts layouts;
    QByteArray text = document(keyboard("Done") + key("a", "rot=\"1\"") + "</keyboard>\n" +
                               keyboard("Cut") + key("b") + key("c") + "</keyboard>\n");
    text.truncate(text.indexOf("<key name=\"c\"") + 12);
    layouts.parseText(text);
    QVERIFY(!layouts.parsed);
    const QStringList lines = layouts.messages.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], QStringLiteral("WARNING: attribute rot ignored."));
    QVERIFY2(
        QRegularExpression("^ERROR: Parsing line 8 column \\d+: \\S").match(lines[1]).hasMatch(),
        qPrintable(lines[1]));
    QCOMPARE(layouts.list.size(), 2);
    QCOMPARE(layouts.list[0]->getKeys().size(), 1);
    QCOMPARE(layouts.list[1]->getKeys().size(), 1);

    Layouts broken;
    broken.parseText(document(keyboard("K") + key("a").replace("/>", ">") + "</keyboard>\n"));
    QVERIFY(!broken.parsed);
    QVERIFY2(broken.messages.startsWith("ERROR: Parsing line 5 column 11: "),
             qPrintable(broken.messages));
  }
};

QTEST_MAIN(KeyboardXmlHandlerTest)
#include "keyboardxmlhandler_test.moc"
