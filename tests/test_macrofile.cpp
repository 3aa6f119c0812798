// Macro files: the exact bytes written, what the reader makes of good and bad files, safe file names.
#include "macro/macrofile.h"
#include "tempappdir.h"

#include <QtTest>

namespace {

// Events as "status:code:type:stype:delay" (code, type, stype in hex); deletes them.
QString eventText(const QVector<DataKey*>& events)
{
    QStringList out;
    for (const DataKey* e : events)
        out << QString("%1:%2:%3:%4:%5").arg(e->status).arg(e->code, 0, 16).arg(e->type, 0, 16).arg(e->stype, 0, 16).arg(e->delay);
    qDeleteAll(events);
    return out.join(' ');
}

} // namespace

class MacroFileTest : public QObject {
    Q_OBJECT
    TempAppDir m_dir;

private slots:
    // What is read is written back byte for byte, replacing an older, longer file whole.
    void writesTheExactBytes_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("events");
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("A down and up, a sub-type in hex")
            << 3 << "1:4:1:0:10 0:4:1:0:10 1:ab:2:c:65535"
            << QByteArray("<?xml version = '1.0' encoding = 'UTF-8'?>\n<MACRO>\n    <ITEM id=\"3\">\n"
                          "        <KEY0 status=\"1\" code=\"4\" type=\"1\" stype=\"0\" delay=\"10\"/>\n"
                          "        <KEY1 status=\"0\" code=\"4\" type=\"1\" stype=\"0\" delay=\"10\"/>\n"
                          "        <KEY2 status=\"1\" code=\"ab\" type=\"2\" stype=\"c\" delay=\"65535\"/>\n"
                          "    </ITEM>\n</MACRO>\n");
        QTest::newRow("exported, no events")
            << -1 << "" << QByteArray("<?xml version = '1.0' encoding = 'UTF-8'?>\n<MACRO>\n    <ITEM id=\"-1\"/>\n</MACRO>\n");
    }
    void writesTheExactBytes()
    {
        QFETCH(int, id);
        QFETCH(QByteArray, file);
        QVERIFY(m_dir.write("source.xml", file) && m_dir.write("written.xml", "an older and longer file's content"));
        QVector<DataKey*> list;
        QVector<macrofile::Item> items;
        QCOMPARE(macrofile::readMacroFile(m_dir.filePath("source.xml"), &list, &items), macrofile::Ok);
        QCOMPARE(items.size() == 1 ? items[0].id : -99, id);
        QCOMPARE(macrofile::writeMacroFile(m_dir.filePath("written.xml"), id, {list.begin(), list.end()}), macrofile::Ok);
        QTEST(eventText(list), "events");
        QTEST(readFile(m_dir.filePath("written.xml")), "file");
    }

    // A place that cannot be written fails and leaves what is there.
    void unwritablePlaceFailsAndLeavesWhatIsThere()
    {
        QVERIFY(QDir(m_dir.path()).mkpath("folder"));
        QCOMPARE(macrofile::writeMacroFile(m_dir.filePath("folder"), 0, {}), macrofile::Unreadable);
        QVERIFY(QFileInfo(m_dir.filePath("folder")).isDir());
        QCOMPARE(macrofile::writeMacroFile(m_dir.filePath("missing/a.xml"), 0, {}), macrofile::Unreadable);
    }

    // KEY<n> counts when n is below the ITEM's child count; attributes keep 16 bits, a status other than 0
    // reads as 1. Events go after what the list held, none on an error, which logs the parser's line.
    void readsWhatItCan_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("ids");
        const QByteArray key0 = "<KEY0 status=\"1\" code=\"4\" type=\"1\" stype=\"0\" delay=\"5\"/>";
        QTest::newRow("no file") << QByteArray() << -2 << "" << "";
        QTest::newRow("not well-formed") << QByteArray("<MACRO>\n<ITEM id=\"1\">" + key0 + "</MACRO>") << -1 << "" << "";
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
        const QString path = m_dir.filePath("read.xml");
        QVERIFY(content.isNull() ? !QFile::exists(path) || QFile::remove(path) : m_dir.write("read.xml", content));
        if (result == macrofile::NotWellFormed)
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^parse file .*/read\\.xml failed: [12] --- \\d+ : .+"));
        QVector<DataKey*> list{new DataKey(1)};
        QVector<macrofile::Item> items;
        QCOMPARE(macrofile::readMacroFile(path, &list, &items), result);
        QCOMPARE(eventText(list), QString("1:0:0:0:0 " + events).trimmed());
        QStringList ids;
        for (const macrofile::Item& item : items)
            ids << QString::number(item.id);
        QTEST(ids.join(' '), "ids");
    }

    // Names from the keyboard can hold anything: only some may become file names.
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
        QTest::newRow("dot") << "." << false; // item/..xml: hidden
        QTest::newRow("two dots") << ".." << false;
        QTest::newRow("leading dot") << ".x" << false;
        QTest::newRow("a blank") << " " << false; // item/ .xml
        QTest::newRow("all blanks") << " \u3000 " << false;
        QTest::newRow("inner dot and blank") << "a. b" << true;
    }
    void namesFromTheKeyboardMayNotBeFileNames()
    {
        QFETCH(QString, name);
        QTEST(macrofile::isSafeMacroFileName(name), "safe");
    }
};

QTEST_GUILESS_MAIN(MacroFileTest)
#include "test_macrofile.moc"
