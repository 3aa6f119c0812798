// Key function texts: records from the keyboard's key function table, texts from shortcuts.xml.
#include "device/records.h"
#include "readerharness.h"
#include "widget/kffunc.h"
#include "widget/stcts.h"
#include "widget/data.h"

#include <QRegularExpression>
#include <QtTest>

// id/hi/type text of each record; also deletes them.
static QString describeAndFree(const QVector<STCTS*>& list)
{
    QStringList out;
    for (const STCTS* r : list)
        out << QStringLiteral("%1/%2/%3 %4").arg(r->id).arg(r->hi).arg(r->type).arg(r->str);
    qDeleteAll(list);
    return out.join(";");
}

class KeyFunctionTextsTest : public QObject {
    Q_OBJECT

    ReaderAppDir m_app;

private slots:
    // The first catalogue entry with the slot's function number gives the type; a number it lacks gives 0.
    void buildsOneRecordPerUsedSlot()
    {
        // Word 0 of a slot: id | used << 6 | function number << 7.
        const std::vector<kf_t> table{kf_t{{0x45, 0x03}}, kf_t{{0x81, 0x00}}, kf_t{{0xC2, 0x00}}, kf_t{{0xC3, 0x04}}};
        kffunc_t web{"Web", 1, true, E_SCT_WEB, "", {}}, folder{"Folder", 6, true, E_SCT_FOLDER, "", {}},
            second{"Second", 6, true, E_SCT_EDIT, "", {}};
        QVector<kffunc_t*> catalogue{&web, &folder, &second};
        QVector<STCTS*> records;
        Data::buildShortcutList(table, 200, &records, &catalogue); // a count beyond the table: only the table
        QCOMPARE(describeAndFree(records), QString("5/6/3 ;2/1/1 ;3/9/0 "));
        records.clear();
        Data::buildShortcutList(table, 2, &records, &catalogue);
        QCOMPARE(describeAndFree(records), QString("5/6/3 "));
    }

    void readsTexts_data()
    {
        QTest::addColumn<QByteArray>("xml"); // null: no file
        QTest::addColumn<QString>("records"); // result, then records 0/1, 1/2, 2/3 and a second 0/1
        const QString none = "0/1/0 ;1/2/0 ;2/3/0 ;0/1/0 ";
        QTest::newRow("missing") << QByteArray() << "0 " + none;
        QTest::newRow("empty, as made for a new keyboard") << QByteArray("") << "0 " + none;
        QTest::newRow("malformed") << QByteArray(R"(<s><item0 id="0" hi="1"><Website web="w"/></s>)") << "0 " + none;
        QTest::newRow("root without child elements") << QByteArray("<s>text</s>") << "1 " + none;
        QTest::newRow("the sample file: each kind of text")
            << readFile(QFINDTESTDATA("data/shortcuts.xml"))
            << "1 0/1/0 https://tessark.example.org;1/2/0 /usr/share/doc/tessark/README;2/3/0 /tmp;0/1/0 ";
        QTest::newRow("later text child wins")
            << QByteArray(R"(<s><item0 id="0" hi="1"><Website web="w"/><DocApp dir="d"/><Other web="x"/></item0></s>)")
            << "1 0/1/0 d;1/2/0 ;2/3/0 ;0/1/0 ";
        QTest::newRow("an item out of sequence ends the items")
            << QByteArray(R"(<s><item0 id="0" hi="1"><Website web="a"/></item0><item2 id="1" hi="2"><Website web="b"/></item2>)"
                          R"(<item3 id="2" hi="3"><Website web="c"/></item3></s>)")
            << "1 0/1/0 a;1/2/0 ;2/3/0 ;0/1/0 ";
        QTest::newRow("no match, empty text or unreadable id change nothing")
            << QByteArray(R"(<s><x/><item0 id="0" hi="2"><Website web="a"/></item0><item1 id="1" hi="2"><Website/></item1>)"
                          R"(<item2 id="abc" hi="3"><Website web="c"/></item2></s>)")
            << "1 " + none;
    }
    void readsTexts()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, records);
        QVERIFY(m_app.put("kb/shortcuts.xml", xml));
        if (!xml.isNull() && records.startsWith('0'))
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Open XML file failed: .*shortcuts\\.xml\""));
        QVector<STCTS*> list{new STCTS{0, 0, 1, {}}, new STCTS{1, 0, 2, {}}, new STCTS{2, 0, 3, {}}, new STCTS{0, 0, 1, {}}};
        const bool ok = Data::parseShortcutsXML(m_app.filePath("kb/shortcuts.xml"), &list);
        QCOMPARE(QString::number(ok) + ' ' + describeAndFree(list), records);
    }
};

QTEST_MAIN(KeyFunctionTextsTest)
#include "test_shortcuttexts.moc"
