// config.xml and key layout readers, the facts later code takes from the shipped sample family, and Data's
// file helpers.
#include "readerharness.h"
#include "widget/data.h"
#include "widget/keybtn.h"

#include <QFontMetrics>
#include <QMap>
#include <QRegularExpression>
#include <QtTest>

// The result, ids, static fields, then per board its texts, numbers, page flags and KLE numbers.
static QString describe(bool ok, const Data& d)
{
    QString s = QStringLiteral("%1 %2/%3/%4 %5 ").arg(ok).arg(d.vid, 0, 16).arg(d.pid, 0, 16).arg(d.iface).arg(d.json);
    s += QStringLiteral("%1,%2,%3,%4").arg(d.x).arg(d.y).arg(d.w).arg(d.h);
    for (const BoardInfo* b : d.boards) {
        s += QStringLiteral(" | %1:%2,%3,%4,%5,%6 ").arg(b->name, b->file, b->kf).arg(b->fw).arg(b->x).arg(b->y);
        for (bool f : {b->key, b->color, b->shortcuts, b->macro, b->setting, b->KLE})
            s += QString::number(f);
        s += QStringLiteral(" %1,%2,%3,%4").arg(b->KLEW).arg(b->KLEH).arg(b->KLER).arg(b->KLEC);
    }
    return s;
}

static int layoutKeys(const QString& file)
{
    QVector<KeyBtn*> keys;
    Data::parseJsonFileForFix(&keys, file, QString());
    qDeleteAll(keys);
    return keys.size();
}

class ConfigFileReadersTest : public QObject {
    Q_OBJECT

    ReaderAppDir m_app;

private slots:
    // Read into a Data holding vid 7 and json "kept": a file that can't be loaded changes nothing.
    void readsConfig_data()
    {
        QTest::addColumn<QByteArray>("xml"); // null: no file
        QTest::addColumn<QString>("read");
        const auto usb = [](const char* a) { return "<c><tools_info><usb " + QByteArray(a) + "/></tools_info></c>"; };
        QTest::newRow("missing") << QByteArray() << "0 7/0/0 kept 0,0,0,0";
        QTest::newRow("empty") << QByteArray("") << "0 7/0/0 kept 0,0,0,0";
        QTest::newRow("malformed") << QByteArray(R"(<c><tools_info><usb vid="1"></c>)") << "0 7/0/0 kept 0,0,0,0";
        QTest::newRow("binary") << QByteArray("\x00\xff\x10<", 4) << "0 7/0/0 kept 0,0,0,0";
        QTest::newRow("hex ids, decimal iface") << usb(R"(vid="1a2b" pid="0c" iface="10")") << "1 1a2b/c/10 kept 0,0,0,0";
        QTest::newRow("ids keep 16 bits") << usb(R"(vid="12345" pid="fffff0c" iface="65538")") << "1 2345/ff0c/2 kept 0,0,0,0";
        QTest::newRow("unparsable ids read 0") << usb(R"(vid="zz" iface="0x2")") << "1 0/0/0 kept 0,0,0,0";
        QTest::newRow("static fields, decimal integers only")
            << QByteArray(R"(<c><tools_info><static json="p.json" x="3" y="470" w="36" h="1.5"/></tools_info></c>)")
            << "1 7/0/0 p.json 3,470,36,0";
        QTest::newRow("any root; boards only inside board_type, flags any non-zero number")
            << QByteArray(R"(<any><board name="Stray"/><board_type><!-- c --><other name="No"/>)"
                          R"(<board name="Full" file="f.json" kf="kf.xml" fw="1.05" x="1.5" y="96" key="2" color="abc")"
                          R"( shortcuts="1" setting="-1" KLE="1" KLEW="23" KLEH="7" KLER="6" KLEC="21"/></board_type>)"
                          R"(text<board_type><board name="Bare"/></board_type></any>)")
            << "1 7/0/0 kept 0,0,0,0 | Full:f.json,kf.xml,1.05,0,96 101011 23,7,6,21 | Bare:,,0,0,0 000000 0,0,0,0";
    }
    void readsConfig()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, read);
        QVERIFY(m_app.put("config/config.xml", xml));
        if (!xml.isNull() && read.startsWith('0'))
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Open XML file failed: .*config\\.xml\" \\d+ --- \\d+ :"));
        Data data;
        data.vid = 7;
        data.json = "kept";
        QCOMPARE(describe(data.parseConfigXML(&data.boards, "config.xml"), data), read);
    }

    // Key caps with label and key-unit geometry from the layout editor's raw format.
    void readsLayout_data()
    {
        QTest::addColumn<QByteArray>("json"); // null: no file
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("keys"); // label@x,y,w,h[,x2,y2,w2,h2] per key
        const QString range = "^Layout value out of range, read as 0:", parse = "^Parse JSON failed\\.$";
        QTest::newRow("missing") << QByteArray() << "^Open JSON failed: .*layout\\.json\"$" << "unreadable";
        QTest::newRow("empty") << QByteArray("") << parse << "unreadable";
        QTest::newRow("malformed") << QByteArray(R"([["A",)") << parse << "unreadable";
        QTest::newRow("bare number") << QByteArray("5") << parse << "unreadable";
        QTest::newRow("object document: no keys") << QByteArray(R"({"a":["A"]})") << "" << "";
        QTest::newRow("width for the next key only") << QByteArray(R"([[{"w":2},"A","B"]])") << "" << "A@0,0,2,1 B@2,0,1,1";
        QTest::newRow("x offset moves only its row") << QByteArray(R"([[{"x":0.5},"A"],["B"]])") << "" << "A@0.5,0,1,1 B@0,1,1,1";
        QTest::newRow("y offset shifts every later row")
            << QByteArray(R"([["A",{"y":0.5},"B"],["C"]])") << "" << "A@0,0,1,1 B@1,0.5,1,1 C@0,1.5,1,1";
        QTest::newRow("metadata object counts as a row") << QByteArray(R"([{"name":"kb"},["A"]])") << "" << "A@0,1,1,1";
        QTest::newRow("second rectangle, then reset")
            << QByteArray(R"([[{"w":1.25,"h":2,"x2":-0.25,"w2":1.5,"h2":1},"Enter","X"]])") << ""
            << "Enter@0,0,1.25,2,-0.25,0,1.5,1 X@1.25,0,1,1";
        QTest::newRow("unused properties forgotten at the next row, except y")
            << QByteArray(R"([["A",{"w":3,"y":1}],["B"]])") << "" << "A@0,0,1,1 B@0,2,1,1";
        QTest::newRow("other items add nothing") << QByteArray(R"([[1,true,null,["n"],"A"]])") << "" << "A@0,0,1,1";
        QTest::newRow("numbers in text, other values read 0")
            << QByteArray(R"([[{"w":"2.5","h":true,"x":"a"},"A"]])") << "" << "A@0,0,2.5,0";
        QTest::newRow("1000 units is in range") << QByteArray(R"([[{"x":999,"w":1000},"A"]])") << "" << "A@999,0,1000,1";
        QTest::newRow("huge width") << QByteArray(R"([[{"w":1e300},"A"]])") << range << "A@0,0,0,1";
        QTest::newRow("beyond 1000 units") << QByteArray(R"([[{"x":-1000.5},"A"]])") << range << "A@0,0,1,1";
        QTest::newRow("text infinity") << QByteArray(R"([[{"h":"inf","y2":"nan"},"A"]])") << range << "A@0,0,1,0";
        QTest::newRow("sum beyond 1000 units")
            << QByteArray(R"([[{"x":600},"A",{"x":600},"B"]])") << range << "A@600,0,1,1 B@0,0,1,1";
    }
    void readsLayout()
    {
        QFETCH(QByteArray, json);
        QVERIFY(m_app.put("config/layout.json", json));
        QFETCH(QString, log);
        if (!log.isEmpty())
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(log));
        QVector<KeyBtn*> keys;
        QStringList read;
        if (!Data::parseJsonFileForFix(&keys, QString(), m_app.filePath("config/layout.json")))
            read << "unreadable";
        for (const KeyBtn* k : keys) {
            QStringList g;
            for (double v : {k->x, k->y, k->w, k->h, k->x2, k->y2, k->w2, k->h2})
                g << QString::number(v);
            if (g.mid(4) == QStringList{"0", "0", "0", "0"})
                g = g.mid(0, 4);
            read << k->label + '@' + g.join(',');
        }
        qDeleteAll(keys);
        QTEST(read.join(' '), "keys");
    }

    // The shipped appdir/ as later code relies on it.
    void sampleFamilyFilesAgree()
    {
        setAppDirPathForTest(QFINDTESTDATA("../appdir"));
        Data data;
        QVERIFY(data.parseConfigXML(&data.boards, "config.xml"));
        QCOMPARE(data.boards.size(), 2);
        QCOMPARE(data.boards[1]->name.toUtf8().size(), 16); // exactly the bytes the keyboard reports
        QCOMPARE(layoutKeys(data.boards[0]->file), 104);
        QCOMPARE(layoutKeys(data.boards[1]->file), 87);
        const QRegularExpression key("<key code=\"[0-9a-f]+\"");
        for (const QString& file : {data.xmlWin, data.xmlMac}) // a static key element per palette key
            QCOMPARE(QString(readFile(QFINDTESTDATA("../appdir/config/" + file))).count(key), layoutKeys(data.json));
        setAppDirPathForTest(m_app.path());
    }

    // The five rows below the function row (number row to space bar) each run from x 0 without a
    // gap to the same 15 units: a key too narrow or too wide shows as a short or long row.
    void sampleMainBlockRowsAreEquallyWide_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("palette") << "static.json";
        QTest::newRow("full-size board") << "tk104.json";
        QTest::newRow("tenkeyless board") << "tk87.json";
    }
    void sampleMainBlockRowsAreEquallyWide()
    {
        QFETCH(QString, file);
        setAppDirPathForTest(QFINDTESTDATA("../appdir"));
        QVector<KeyBtn*> keys;
        QVERIFY(Data::parseJsonFileForFix(&keys, file, QString()));
        setAppDirPathForTest(m_app.path());
        QMap<double, QMap<double, double>> rows; // y -> x -> w
        for (const KeyBtn* k : keys)
            rows[k->y][k->x] = k->w;
        qDeleteAll(keys);
        QVERIFY(rows.size() >= 6);
        QList<double> widths;
        for (int r = 1; r <= 5; ++r) {
            double end = 0;
            const QMap<double, double> row = rows.value(rows.keys().at(r));
            for (auto it = row.cbegin(); it != row.cend() && it.key() == end; ++it)
                end += it.value();
            widths << end;
        }
        QCOMPARE(widths, QList<double>({15, 15, 15, 15, 15}));
    }

    // Each legend of a palette key, line by line, fits the key at the palette's size, the smallest the
    // sample family draws keys at (the pictures take their legends from the palette).
    void samplePaletteLegendsFitTheirKeys_data()
    {
        QTest::addColumn<bool>("mac");
        QTest::newRow("Windows") << false;
        QTest::newRow("Mac") << true;
    }
    void samplePaletteLegendsFitTheirKeys()
    {
        QFETCH(bool, mac);
        setAppDirPathForTest(QFINDTESTDATA("../appdir"));
        Data data;
        QVERIFY(data.parseConfigXML(&data.boards, "config.xml"));
        QVector<KeyBtn*> keys;
        QVERIFY(Data::parseJsonFileForFix(&keys, data.json, QString()));
        QVERIFY(Data::parseStaticXML(&keys, mac ? data.xmlMac : data.xmlWin));
        setAppDirPathForTest(m_app.path());
        // The cap's legend font; a legend with a space goes on two lines, but for Caps Lock.
        const QFontMetrics metrics(QFont(QStringLiteral("Arial"), 8));
        QStringList cut;
        for (const KeyBtn* k : keys) {
            const int room = int(data.w * k->w - data.gap + 1.0) - 1; // the key's width, less the legend rect's edge
            const QString name = k->name();
            for (const QString& line : name == "Caps Lock" ? QStringList{name} : name.split(' '))
                if (metrics.horizontalAdvance(line) > room)
                    cut << name;
        }
        qDeleteAll(keys);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(", ")));
    }

    void columnNamesGoOnLikeASpreadsheet()
    {
        for (const auto& [column, name] :
             QVector<QPair<int, QString>>{{25, "Z"}, {26, "AA"}, {52, "BA"}, {701, "ZZ"}, {702, "AAA"}, {-1, ""}})
            QCOMPARE(Data::columnName(column), name);
    }

    // Only an exact name the filter also matches is removed; a failure is logged, the result is true all the same.
    void fileHelpers()
    {
        QVERIFY(m_app.write("items/two.xml/inner", "a folder that can't go: it isn't empty"));
        QVERIFY(m_app.write("items/one.xml", "1"));
        const QString base = m_app.filePath("items/");
        QVERIFY(Data::removeFileInDir(base, "ONE.xml", "*.xml"));
        QVERIFY(Data::removeFileInDir(base, "one.xml", "*.json"));
        QVERIFY(Data::isFileExist(base + "one.xml"));
        QVERIFY(Data::removeFileInDir(base, "one.xml", "*.xml"));
        QVERIFY(!Data::dirExists(base + "one.xml"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Remove file failed: .*two\\.xml\"$"));
        QVERIFY(Data::removeFileInDir(base, "two.xml", "*.xml"));
        QVERIFY(Data::dirExists(base + "two.xml/inner"));

        QVERIFY(Data::makeDir(base + "a/b") && Data::dirExists(base + "a/b"));
        QVERIFY(!Data::makeDir(base)); // already there
        QVERIFY(m_app.write("items/one.xml", "a file where a folder should go"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Make dir failed: .*one\\.xml/sub\"$"));
        QVERIFY(Data::makeDir(base + "one.xml/sub"));
    }
};

QTEST_MAIN(ConfigFileReadersTest)
#include "test_data.moc"
