#include "keyboardxmlhandler.h"

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
  void wellFormedLayoutsAreBuiltInOrder() {
    Layouts layouts;
    layouts.parseText(document("<!-- comment -->\n" + keyboard("One") +
                               key("lshift", "usb=\"0\" modifier=\"0x02\" ismodifier=\"1\"") +
                               key("a", "usb=\"0x04\" sequence=\"2\"") + "</keyboard>\n" +
                               keyboard("Two", "type=\"sequenced\"") + key("b") + "</keyboard>\n"));
    QVERIFY(layouts.parsed);
    QCOMPARE(layouts.messages, QString());
    QCOMPARE(layouts.list.size(), 2);
    GraphicsKeyboard *one = layouts.list[0];
    QCOMPARE(one->getName(), QStringLiteral("One"));
    QCOMPARE(one->getMenu(), QStringLiteral("Menu One"));
    QVERIFY(!one->getSequenced());
    QVERIFY(layouts.list[1]->getSequenced());
    QCOMPARE(one->getKeys().size(), 2);
    GraphicsKey *lshift = one->getKeys()[0];
    QVERIFY(lshift->getIsModifier());
    QCOMPARE(lshift->getModifier(), 0x02);
    GraphicsKey *a = one->getKeys()[1];
    QCOMPARE(a->getTooltip(), QStringLiteral("tip a"));
    QCOMPARE(a->getHighlight(), QStringLiteral("a_h"));
    QCOMPARE(a->getDark(), QStringLiteral("a_g"));
    QVERIFY(!a->getIsModifier());
    QCOMPARE(a->getUsb(), 0x04);
    QCOMPARE(a->getSequence(), 2);
    QVERIFY(a->getClickable());
  }

  void numberFormats_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("hex") << "0x4F" << 79;
    QTest::newRow("hex upper prefix") << "0X4f" << 79;
    QTest::newRow("decimal") << "79" << 79;
    QTest::newRow("octal") << "0117" << 79;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("word") << "enter" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("trailing junk") << "0x4Fz" << 0;
    QTest::newRow("not octal") << "09" << 0;
    QTest::newRow("bare prefix") << "0x" << 0;
    QTest::newRow("double prefix") << "0x0x4F" << 0;
    QTest::newRow("double sign") << "--5" << 0;
    QTest::newRow("too large") << "99999999999" << 0;
  }
  void numberFormats() {
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(KeyboardXmlHandler::parseCInteger(text), value);
  }

  void usbAndModifierTakePrefixesSequenceAndIsModifierDoNot() {
    Layouts layouts;
    layouts.parseText(
        document(keyboard("K") +
                 key("x", "usb=\"0117\" modifier=\"0x10\" sequence=\"010\" ismodifier=\"01\"") +
                 key("y", "usb=\"mouse\" ismodifier=\"0x1\" sequence=\"0x2\"") + "</keyboard>\n"));
    QCOMPARE(layouts.messages, QString());
    const auto &keys = layouts.list.at(0)->getKeys();
    QCOMPARE(keys[0]->getUsb(), 79);
    QCOMPARE(keys[0]->getModifier(), 0x10);
    QCOMPARE(keys[0]->getSequence(), 10);
    QVERIFY(keys[0]->getIsModifier());
    QCOMPARE(keys[1]->getUsb(), 0);
    QVERIFY(!keys[1]->getIsModifier());
    QCOMPARE(keys[1]->getSequence(), 0);
  }

  void unknownAttributesWarnButTheKeyIsKept() {
    Layouts layouts;
    layouts.parseText(document("<keyboard name=\"K\" " + kImage +
                               " type=\"normal\" colour=\"red\">\n" +
                               key("a", "color=\"blue\" size=\"2\"") + "</keyboard>\n"));
    QVERIFY(layouts.parsed);
    QCOMPARE(layouts.messages, QStringLiteral("WARNING: attribute colour ignored.\n"
                                              "WARNING: attribute color ignored.\n"
                                              "WARNING: attribute size ignored.\n"));
    QCOMPARE(layouts.list.at(0)->getKeys().size(), 1);
    QCOMPARE(layouts.list.at(0)->getMenu(), QString());
  }

  void keysMissingRequiredAttributesAreDropped() {
    Layouts layouts;
    layouts.parseText(
        document(keyboard("K") + "<key name=\"a\" tooltip=\"a\" highlight=\"a_h\" usb=\"4\"/>\n" +
                 "<key tooltip=\"t\" highlight=\"h\" dark=\"d\"/>\n" +
                 "<key name=\"c\" tooltip=\"\" highlight=\"c_h\" dark=\"c_g\" bogus=\"1\"/>\n" +
                 key("b") + "</keyboard>\n"));
    QVERIFY(layouts.parsed);
    QCOMPARE(layouts.messages,
             QStringLiteral("ERROR: key a missing required attributes and is ignored.\n"
                            "ERROR: key  missing required attributes and is ignored.\n"
                            "WARNING: attribute bogus ignored.\n"
                            "ERROR: key c missing required attributes and is ignored.\n"));
    QCOMPARE(layouts.list.at(0)->getKeys().size(), 1);
    QCOMPARE(layouts.list.at(0)->getKeys().at(0)->getName(), QStringLiteral("b"));
  }

  void keyboardWithoutImageSwallowsItsKeysSilently() {
    Layouts layouts;
    layouts.parseText(document(key("early") + keyboard("A") + key("a") + "</keyboard>\n" +
                               "<keyboard name=\"NoPicture\" type=\"normal\">\n" + key("lost") +
                               "</keyboard>\n<keyboard image=\"x.svg\" type=\"normal\"/>\n" +
                               key("lost2") + keyboard("B") + key("b") + "</keyboard>\n"));
    QVERIFY(layouts.parsed);
    QCOMPARE(layouts.messages,
             QStringLiteral("ERROR: keyboard NoPicture missing critical attribute.\n"
                            "ERROR: keyboard  missing critical attribute.\n"));
    QCOMPARE(layouts.list.size(), 2);
    QCOMPARE(layouts.list[0]->getKeys().size(), 1);
    QCOMPARE(layouts.list[1]->getKeys().size(), 1);
    QCOMPARE(layouts.list[1]->getKeys()[0]->getName(), QStringLiteral("b"));
  }

  void otherTypesWarnAndBuildANormalLayout() {
    Layouts layouts;
    layouts.parseText(document(keyboard("Odd", "type=\"Sequenced\"") + "</keyboard>\n" +
                               keyboard("Untyped", "") + "</keyboard>\n"));
    QCOMPARE(
        layouts.messages,
        QStringLiteral("WARNING: keyboard Odd should have type of normal or sequenced.\n"
                       "WARNING: keyboard Untyped should have type of normal or sequenced.\n"));
    QCOMPARE(layouts.list.size(), 2);
    QVERIFY(!layouts.list[0]->getSequenced());
    QVERIFY(!layouts.list[1]->getSequenced());
  }

  void keysAfterAClosedKeyboardJoinIt() {
    Layouts layouts;
    layouts.parseText(document(keyboard("K") + key("a") + "</keyboard>\n" + key("stray")));
    QCOMPARE(layouts.messages, QString());
    QCOMPARE(layouts.list.at(0)->getKeys().size(), 2);
    QCOMPARE(layouts.list.at(0)->getKeys()[1]->getName(), QStringLiteral("stray"));
  }

  void truncatedDocumentFailsAndKeepsWhatWasBuilt() {
    Layouts layouts;
    QByteArray text = document(keyboard("Done") + key("a") + "</keyboard>\n" + keyboard("Cut") +
                               key("b") + key("c") + "</keyboard>\n");
    text.truncate(text.indexOf("<key name=\"c\"") + 12);
    // A warning met before the cut stays in the text.
    layouts.parseText(text.replace("<key name=\"a\"", "<key rot=\"1\" name=\"a\""));
    QVERIFY(!layouts.parsed);
    const QStringList lines = layouts.messages.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], QStringLiteral("WARNING: attribute rot ignored."));
    QVERIFY2(
        QRegularExpression("^ERROR: Parsing line 8 column \\d+: \\S.*$").match(lines[1]).hasMatch(),
        qPrintable(lines[1]));
    QCOMPARE(layouts.list.size(), 2);
    QCOMPARE(layouts.list[0]->getKeys().size(), 1);
    QCOMPARE(layouts.list[1]->getKeys().size(), 1);

    Layouts broken;
    broken.parseText(document(keyboard("K") + key("a").replace("/>", ">") + "</keyboard>\n"));
    QVERIFY(!broken.parsed);
    QVERIFY2(broken.messages.startsWith("ERROR: Parsing line 5 column 11: "),
             qPrintable(broken.messages));
    QCOMPARE(broken.list.at(0)->getKeys().size(), 1);
  }

  void aNewParseStartsWithNoMessages() {
    QList<GraphicsKeyboard *> list;
    KeyboardXmlHandler handler;
    handler.setKeyboardList(&list);
    QBuffer first;
    first.setData(document("<keyboard name=\"\"/>"));
    first.open(QIODevice::ReadOnly);
    QVERIFY(parseKeyboards(first, handler));
    QVERIFY(!handler.errorString().isEmpty());
    QBuffer second;
    second.setData(document(key("orphan")));
    second.open(QIODevice::ReadOnly);
    QVERIFY(parseKeyboards(second, handler));
    QCOMPARE(handler.errorString(), QString());
    QVERIFY(list.isEmpty());
  }
};

QTEST_MAIN(KeyboardXmlHandlerTest)
#include "keyboardxmlhandler_test.moc"
