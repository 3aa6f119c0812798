// Macro files: the exact bytes written, what the reader makes of good and bad files, safe file names.
#include "macro/macrofile.h"
#include "tempappdir.h"

#include <QtTest>

namespace {

// Events as "status:code:type:stype:delay" (code, type, stype in hex), separated by spaces.
QVector<DataKey*> parseEvents(const QString& text)
{
    QVector<DataKey*> out;
    for (const QString& word : text.split(' ', Qt::SkipEmptyParts)) {
        const QStringList f = word.split(':');
        auto* e = new DataKey(f.value(0).toInt());
        e->code = uint16_t(f.value(1).toUInt(nullptr, 16));
        e->type = uint16_t(f.value(2).toUInt(nullptr, 16));
        e->stype = uint16_t(f.value(3).toUInt(nullptr, 16));
        e->delay = uint16_t(f.value(4).toUInt());
        out << e;
    }
    return out;
}

QString eventText(const QVector<DataKey*>& events)
{
    QStringList out;
    for (const DataKey* e : events)
        out << QString("%1:%2:%3:%4:%5").arg(e->status).arg(e->code, 0, 16).arg(e->type, 0, 16).arg(e->stype, 0, 16).arg(e->delay);
    return out.join(' ');
}

QVector<const DataKey*> constList(const QVector<DataKey*>& events) { return {events.begin(), events.end()}; }

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

class MacroFileTest : public QObject {
    Q_OBJECT
    TempAppDir m_dir;

private slots:
    void writesTheExactBytes_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("events");
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("A down and up, a sub-type in hex")
            << 3 << "1:4:1:0:10 0:4:1:0:10 1:ab:2:c:65535"
            << QByteArray("<?xml version = '1.0' encoding = 'UTF-8'?>\n"
                          "<MACRO>\n"
                          "    <ITEM id=\"3\">\n"
                          "        <KEY0 status=\"1\" code=\"4\" type=\"1\" stype=\"0\" delay=\"10\"/>\n"
                          "        <KEY1 status=\"0\" code=\"4\" type=\"1\" stype=\"0\" delay=\"10\"/>\n"
                          "        <KEY2 status=\"1\" code=\"ab\" type=\"2\" stype=\"c\" delay=\"65535\"/>\n"
                          "    </ITEM>\n"
                          "</MACRO>\n");
        QTest::newRow("exported, no events")
            << -1 << ""
            << QByteArray("<?xml version = '1.0' encoding = 'UTF-8'?>\n<MACRO>\n    <ITEM id=\"-1\"/>\n</MACRO>\n");
    }
    void writesTheExactBytes()
    {
        QFETCH(int, id);
        QFETCH(QString, events);
        QFETCH(QByteArray, file);
        const QVector<DataKey*> list = parseEvents(events);
        const QString path = m_dir.filePath("written.xml");
        QVERIFY(m_dir.write("written.xml", "an older and longer file's content"));
        QCOMPARE(macrofile::writeMacroFile(path, id, constList(list)), macrofile::Ok);
        QCOMPARE(readFile(path), file);
        // What is written reads back as it was.
        QVector<DataKey*> back;
        QVector<macrofile::Item> items;
        QCOMPARE(macrofile::readMacroFile(path, &back, &items), macrofile::Ok);
        QCOMPARE(eventText(back), events);
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0].id, id);
        qDeleteAll(back);
        qDeleteAll(list);
    }

    void unwritablePlaceFailsAndLeavesWhatIsThere()
    {
        QVERIFY(QDir(m_dir.path()).mkpath("folder"));
        QCOMPARE(macrofile::writeMacroFile(m_dir.filePath("folder"), 0, {}), macrofile::Unreadable);
        QVERIFY(QFileInfo(m_dir.filePath("folder")).isDir());
        QCOMPARE(macrofile::writeMacroFile(m_dir.filePath("missing/a.xml"), 0, {}), macrofile::Unreadable);
    }

    void readsWhatItCan_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("ids");
        const QByteArray key0 = "<KEY0 status=\"1\" code=\"4\" type=\"1\" stype=\"0\" delay=\"5\"/>";
        QTest::newRow("no file") << QByteArray() << -2 << "" << "";
        QTest::newRow("not well-formed") << QByteArray("<MACRO><ITEM id=\"1\">" + key0 + "</MACRO>") << -1 << "" << "";
        QTest::newRow("empty file") << QByteArray("") << -1 << "" << "";
        QTest::newRow("no ITEM") << QByteArray("<MACRO><KEYS/></MACRO>") << 0 << "" << "";
        QTest::newRow("document order, numbers below the child count")
            << QByteArray("<MACRO><ITEM id=\"2\"><KEY2 code=\"6\"/><KEY0 code=\"5\"/><KEY7 code=\"7\"/>"
                          "<KEY01 code=\"8\"/><KEY-1 code=\"9\"/><KEY1 code=\"a\"/></ITEM></MACRO>")
            << 0 << "0:6:0:0:0 0:5:0:0:0 0:a:0:0:0" << "2";
        QTest::newRow("delay kept to 16 bits, status 0 or 1")
            << QByteArray("<MACRO><ITEM><KEY0 status=\"2\" delay=\"70000\"/><KEY1 status=\"x\" delay=\"-3\"/>"
                          "<KEY2 status=\"-1\" code=\"12345\" type=\"zz\"/></ITEM></MACRO>")
            << 0 << "1:0:0:0:4464 0:0:0:0:0 1:2345:0:0:0" << "0";
        QTest::newRow("any root, several ITEMs, a number twice")
            << QByteArray("<X><ITEM id=\"4\">" + key0 + "</ITEM><OTHER/><ITEM id=\"x\">" + key0 + key0 + "</ITEM></X>")
            << 0 << "1:4:1:0:5 1:4:1:0:5 1:4:1:0:5" << "4 0";
    }
    void readsWhatItCan()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, result);
        QFETCH(QString, events);
        QFETCH(QString, ids);
        const QString path = m_dir.filePath("read.xml");
        QFile::remove(path);
        if (!content.isNull())
            QVERIFY(m_dir.write("read.xml", content));
        DataKey* before = new DataKey(1);
        QVector<DataKey*> list{before};
        QVector<macrofile::Item> items;
        const QtMessageHandler previous = qInstallMessageHandler(quiet);
        QCOMPARE(macrofile::readMacroFile(path, &list, &items), result);
        qInstallMessageHandler(previous);
        QCOMPARE(list.takeFirst(), before); // appended after what the list held
        QCOMPARE(eventText(list), events);
        QStringList itemIds;
        for (const macrofile::Item& item : items)
            itemIds << QString::number(item.id);
        QCOMPARE(itemIds.join(' '), ids);
        delete before;
        qDeleteAll(list);
    }

    void parseErrorIsLogged()
    {
        QVERIFY(m_dir.write("bad.xml", "<MACRO>\n<ITEM></MACRO>"));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^parse file  macro.xml failed: 2 --- \\d+ : .+"));
        QVector<DataKey*> list;
        QCOMPARE(macrofile::readMacroFile(m_dir.filePath("bad.xml"), &list), macrofile::NotWellFormed);
    }

    void namesFromTheKeyboardMayNotBeFileNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("safe");
        QTest::newRow("letters and digits") << "Hello1" << true;
        QTest::newRow("other printable text") << "Café 2.x" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("a path") << "../shortcuts" << false;
        QTest::newRow("backslash") << "a\\b" << false;
        QTest::newRow("drive") << "C:x" << false;
        QTest::newRow("control character") << "a\tb" << false;
    }
    void namesFromTheKeyboardMayNotBeFileNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, safe);
        QCOMPARE(macrofile::isSafeMacroFileName(name), safe);
    }
};

QTEST_GUILESS_MAIN(MacroFileTest)
#include "test_macrofile.moc"
