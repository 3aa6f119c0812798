// Static key files: the key cap, chip and colour readers, the menu file whose layout version chooses the
// file, and the static key lookup.
#include "macro/key.h"
#include "readerharness.h"
#include "widget/data.h"
#include "widget/keybtn.h"

#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

static QString describe(const KeyBtn* k)
{
    const QString texts = k->name().trimmed() + '|' + k->image() + '|' + k->alias().trimmed();
    return QStringLiteral("%1/%2/%3 %4").arg(k->code, 0, 16).arg(k->type).arg(k->stype).arg(texts);
}

// The result, then autoStart MacOS Windows Automatic, download and help addresses.
static QString describe(bool ok, const MenuTreeData& m)
{
    const QString flags = QStringLiteral("%1%2%3%4").arg(m.autoStart).arg(m.MacOS).arg(m.Windows).arg(m.Automatic);
    return QStringLiteral("%1 %2 %3 %4").arg(ok).arg(flags, m.webDownload, m.webHelp);
}

class StaticKeyFileTest : public QObject {
    Q_OBJECT

    ReaderAppDir m_app;

private slots:
    // Each file read into two key caps, into a chip for code 4 (type 0, stype 0) and, as a colour file,
    // into one colour button: all three readers load the same files.
    void keyCapChipAndColourReaders_data()
    {
        QTest::addColumn<QByteArray>("xml"); // null: no file
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("read"); // the result, the two caps, the chip's name, the button's colour
        QTest::newRow("missing") << QByteArray() << "^Open static XML file failed: .*keys\\.xml\"$"
                                 << "0 0/0/0 || ; 0/0/0 || ;  ; ";
        QTest::newRow("empty") << QByteArray("") << "^\"Premature end of document\\.\"$" << "1 0/0/0 || ; 0/0/0 || ;  ; ";
        QTest::newRow("elements before a syntax error apply")
            << QByteArray(R"(<r><key code="4" name="A"/><broken</r>)") << "^\".+\"$" << "1 4/0/0 A|| ; 0/0/0 || ; A ; ";
        QTest::newRow("root named key is not a key")
            << QByteArray(R"(<key code="4" name="root"><key code="1" name="first"/></key>)") << ""
            << "1 1/0/0 first|| ; 0/0/0 || ;  ; ";
        QTest::newRow("hex code, decimal types; an image clears the name, at any depth")
            << QByteArray(R"(<r><g><key code="e2" type="12" stype="3" name="Mute" image="m.svg" alias="M"/></g></r>)") << ""
            << "1 e2/12/3 |m.svg|M ; 0/0/0 || ;  ; ";
        QTest::newRow("values kept to 16 bits")
            << QByteArray(R"(<r><key code="10004" type="65536" stype="x" name="W"/></r>)") << "" << "1 4/0/0 W|| ; 0/0/0 || ; W ; ";
        QTest::newRow("element without code takes no position")
            << QByteArray(R"(<r><key name="no"/><key code="" name="no"/><key code="5"/><key code="4" name="A"/></r>)") << ""
            << "1 5/0/0 || ; 4/0/0 A|| ; A ; ";
        QTest::newRow("extra elements skipped and logged; the chip takes the last match")
            << QByteArray(R"(<r><key code="4" name="A"/><key code="4" type="2" name="B"/><key code="4" name="C"/></r>)")
            << "^Static XML file has more \"keys\" than the list, skipped: 1 \"keys.xml\"$" << "1 4/0/0 A|| ; 4/2/0 B|| ; C ; ";
        QTest::newRow("colours: empty names skipped, extra ones logged")
            << QByteArray(R"(<r><color name=""/><color name="red"/><color name="b"/></r>)")
            << "^Static XML file has more \"colours\" than the list, skipped: 1 \"keys.xml\"$"
            << "1 0/0/0 || ; 0/0/0 || ;  ; red";
    }
    void keyCapChipAndColourReaders()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, log);
        QVERIFY(m_app.put("config/keys.xml", xml) && m_app.put("config/customcolor/keys.xml", xml));
        if (!log.isEmpty())
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(log));
        KeyBtn first, second;
        QVector<KeyBtn*> keys{&first, &second};
        const bool ok = Data::parseStaticXML(&keys, "keys.xml");
        Key chip;
        chip.setKeyCode(0, 0, 4);
        QCOMPARE(Data::parseStaticXML(&chip, "keys.xml"), ok);
        QPushButton button;
        QVector<QPushButton*> buttons{&button};
        QCOMPARE(Data().parseStaticColorXML(&buttons, "keys.xml"), ok);
        QTEST(QStringLiteral("%1 %2 ; %3 ; %4 ; %5").arg(ok).arg(describe(&first), describe(&second), chip.name(),
                                                           button.objectName()), "read");
    }

    // Read into a new record: without a loadable file it stays automatic (the Windows static key file).
    void menuFileReader_data()
    {
        QTest::addColumn<QByteArray>("xml"); // null: no file
        QTest::addColumn<QString>("record");
        QTest::newRow("missing") << QByteArray() << "0 0001  ";
        QTest::newRow("empty") << QByteArray("") << "0 0001  ";
        QTest::newRow("malformed") << QByteArray(R"(<C><setting auto_start="1"></C>)") << "0 0001  ";
        QTest::newRow("as the menu writes it")
            << QByteArray(R"(<COMMAND><setting auto_start="0"/><layout_version MacOS="0" Windows="1" Automatic="0"/>)"
                          R"(<webDownload web="d"/><webHelp web="h"/></COMMAND>)")
            << "1 0010 d h";
        QTest::newRow("any root; absent flags clear") << QByteArray(R"(<any><layout_version MacOS="1"/></any>)") << "1 0100  ";
        QTest::newRow("any non-zero number is set, text is not")
            << QByteArray(R"(<C><setting auto_start="2"/><layout_version MacOS="true" Windows="7" Automatic="-1"/></C>)")
            << "1 1010  ";
    }
    void menuFileReader()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, record);
        QVERIFY(m_app.put("config/menutree.xml", xml));
        if (!xml.isNull() && record.startsWith('0'))
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Open XML file failed:"));
        MenuTreeData m;
        const bool ok = Data::parseMenutreeXML("menutree.xml", &m);
        QCOMPARE(describe(ok, m), record);
    }

    // The layout version of menutree.xml chooses the file; a missing file means automatic.
    void loadersChooseTheFile_data()
    {
        QTest::addColumn<QByteArray>("menutree"); // null: no file
        QTest::addColumn<QString>("names");
        QTest::newRow("Mac over Windows") << QByteArray(R"(<C><layout_version MacOS="1" Windows="1"/></C>)") << "MacA MacB";
        QTest::newRow("automatic only") << QByteArray(R"(<C><layout_version Automatic="1"/></C>)") << "A B";
        QTest::newRow("all three cleared") << QByteArray(R"(<C><layout_version MacOS="0"/></C>)") << " ";
        QTest::newRow("no layout_version") << QByteArray(R"(<C><setting auto_start="1"/></C>)") << "A B";
        QTest::newRow("no menutree.xml") << QByteArray() << "A B";
    }
    void loadersChooseTheFile()
    {
        QVERIFY(m_app.write("config/config.xml",
                            R"(<c><tools_info><static json="p.json" xmlWin="w.xml" xmlMac="m.xml"/></tools_info></c>)"));
        QVERIFY(m_app.write("config/p.json", R"([["A","B"]])"));
        QVERIFY(m_app.write("config/w.xml", R"(<k><key code="4" type="1" name="A"/><key code="5" type="1" name="B"/></k>)"));
        QVERIFY(m_app.write("config/m.xml", R"(<k><key code="4" type="1" name="MacA"/><key code="5" type="1" name="MacB"/></k>)"));
        QFETCH(QByteArray, menutree);
        QVERIFY(m_app.put("config/menutree.xml", menutree));
        QVector<KeyBtn*> keys;
        Data data;
        data.loadKeyBtns(&keys);
        QCOMPARE(keys.size(), 2);
        const QString names = keys[0]->name().trimmed() + " " + keys[1]->name().trimmed();
        qDeleteAll(keys);
        QTEST(names, "names");

        Key chip;
        chip.setKeyCode(1, 0, 5);
        data.loadKeys(&chip);
        QCOMPARE(chip.name(), names.section(' ', 1));
    }

    void selectStaticBtnCopiesTheMatchOrBlanks()
    {
        KeyBtn other, esc, out;
        other.type = esc.type = 1;
        esc.code = 0x29;
        esc.setName("Esc");
        esc.setKeyIndex(1);
        QVector<KeyBtn*> palette{&other, &esc};
        kc_t kc{1, 1, 0, 0x29}; // the state flag is ignored
        QCOMPARE(Data::selectStaticBtn(&out, &kc, &palette), &out);
        QCOMPARE(describe(&out) + QString::number(out.keyIndex()), QString("29/1/0 Esc||1"));

        kc.stype = 2;
        out.setImage("keep.svg");
        QTest::ignoreMessage(QtDebugMsg, "error ! btn select not static key:  ty= 1 sty= 2 co= 41");
        Data::selectStaticBtn(&out, &kc, &palette);
        QCOMPARE(describe(&out) + QString::number(out.keyIndex()), QString("0/0/0 |keep.svg|-1"));
        QTest::ignoreMessage(QtDebugMsg, "Select static btn failed, static key tab is NULL.");
        QCOMPARE(Data::selectStaticBtn(&out, &kc, nullptr), &out);
    }
};

QTEST_MAIN(StaticKeyFileTest)
#include "test_statickeys.moc"
