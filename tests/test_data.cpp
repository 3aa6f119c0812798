// config.xml and key layout readers, the facts later code takes from the shipped sample family, and Data's
// file helpers.
#include "macro/key.h"
#include "readerharness.h"
#include "widget/stcts.h"
#include "widget/data.h"
#include "widget/keybtn.h"
#include "widget/smallxml.h"

#include <QDomDocument>
#include <QFontMetrics>
#include <QMap>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

// The result, ids, static fields, then per board its texts, numbers, page flags and KLE numbers.
static QString describe(bool ok, const Data& d)
{
    QString s = QStringLiteral("%1 %2/%3/%4 ").arg(ok).arg(d.vid, 0, 16).arg(d.pid, 0, 16).arg(d.iface);
    s += QStringLiteral("%1|%2|%3 %4,%5,%6,%7").arg(d.json, d.xmlWin, d.xmlMac).arg(d.x).arg(d.y).arg(d.w).arg(d.h);
    for (const BoardInfo* b : d.boards) {
        s += QStringLiteral(" | %1:%2,%3,%4,").arg(b->name, b->file, b->kf).arg(b->fw);
        s += QStringLiteral("%1,%2,%3,%4 ").arg(b->x).arg(b->y).arg(b->w).arg(b->h);
        for (bool f : {b->key, b->color, b->shortcuts, b->macro, b->setting, b->KLE})
            s += QString::number(f);
        s += QStringLiteral(" %1,%2,%3,%4").arg(b->KLEW).arg(b->KLEH).arg(b->KLER).arg(b->KLEC);
    }
    return s;
}

// The number of key caps a layout makes, and the last one's label.
static int layoutKeys(const QString& file, QString* last = nullptr)
{
    QVector<KeyBtn*> keys;
    Data::parseJsonFileForFix(&keys, file, QString());
    if (last && !keys.isEmpty())
        *last = keys.last()->label;
    qDeleteAll(keys);
    return keys.size();
}

// How far each of the five rows below a layout's first (function) row runs from x 0 without a gap, in units.
static QList<double> mainBlockRowWidths(const QString& file)
{
    QVector<KeyBtn*> keys;
    Data::parseJsonFileForFix(&keys, file, QString());
    QMap<double, QMap<double, double>> rows; // y -> x -> w
    for (const KeyBtn* k : keys)
        rows[k->y][k->x] = k->w;
    qDeleteAll(keys);
    QList<double> widths;
    for (const QMap<double, double>& row : rows.values().mid(1, 5)) {
        double end = 0;
        for (auto it = row.cbegin(); it != row.cend() && it.key() == end; ++it)
            end += it.value();
        widths << end;
    }
    return widths;
}
class ConfigFileReadersTest : public QObject {
    Q_OBJECT

    ReaderAppDir m_app;

private slots:
    // Read into a Data holding vid 7 and json "kept": a file that can't be loaded changes nothing. Its file
    // names stay in config/ and its placements in the window: a board naming another file is skipped, a static
    // name dropped, a number out of range clamped; each with a line.
    void readsConfig_data()
    {
        QTest::addColumn<QByteArray>("xml"); // null: no file
        QTest::addColumn<QString>("read");
        QTest::addColumn<QStringList>("logs");
        const auto usb = [](const char* a) { return "<c><tools_info><usb " + QByteArray(a) + "/></tools_info></c>"; };
        const QStringList failed{"^Open XML file failed: .*config\\.xml\" \\d+ --- \\d+ :"};
        const auto file = [](const char* element, const char* attribute, const char* name) {
            return QStringLiteral("^config\\.xml: %1 %2 is not a plain file name in config/, skipped: \"%3\"$")
                .arg(element, attribute, QRegularExpression::escape(name));
        };
        const auto clamp = [](const char* element, const char* attribute, const char* from, int to) {
            return QStringLiteral("^config\\.xml: %1 %2 %3 out of range, clamped to %4$").arg(element, attribute, from).arg(to);
        };
        QTest::newRow("missing") << QByteArray() << "0 7/0/0 kept|| 0,0,0,0" << QStringList();
        QTest::newRow("empty") << QByteArray("") << "0 7/0/0 kept|| 0,0,0,0" << failed;
        QTest::newRow("malformed") << QByteArray(R"(<c><tools_info><usb vid="1"></c>)") << "0 7/0/0 kept|| 0,0,0,0" << failed;
        QTest::newRow("binary") << QByteArray("\x00\xff\x10<", 4) << "0 7/0/0 kept|| 0,0,0,0" << failed;
        QTest::newRow("hex ids, decimal iface")
            << usb(R"(vid="1a2b" pid="0c" iface="10")") << "1 1a2b/c/10 kept|| 0,0,0,0" << QStringList();
        QTest::newRow("ids keep 16 bits")
            << usb(R"(vid="12345" pid="fffff0c" iface="65538")") << "1 2345/ff0c/2 kept|| 0,0,0,0" << QStringList();
        QTest::newRow("unparsable ids read 0") << usb(R"(vid="zz" iface="0x2")") << "1 0/0/0 kept|| 0,0,0,0" << QStringList();
        QTest::newRow("static fields, decimal integers only")
            << QByteArray(R"(<c><tools_info><static json="p.json" x="3" y="470" w="36" h="1.5"/></tools_info></c>)")
            << "1 7/0/0 p.json|| 3,470,36,1" << QStringList(); // h clamped to 1 pixel
        QTest::newRow("any root; boards only inside board_type, flags any non-zero number")
            << QByteArray(R"(<any><board name="Stray"/><board_type><!-- c --><other name="No"/>)"
                          R"(<board name="Full" file="f.json" kf="kf.xml" fw="1.05" x="1.5" y="96" key="2" color="abc")"
                          R"( shortcuts="1" setting="-1" KLE="1" KLEW="23" KLEH="7" KLER="6" KLEC="21"/></board_type>)"
                          R"(text<board_type><board name="Bare"/></board_type></any>)")
            << "1 7/0/0 kept|| 0,0,0,0 | Full:f.json,kf.xml,1.05,0,96,1,1 101011 23,7,6,21 | Bare:,,0,0,0,1,1 000000 0,0,0,0"
            << QStringList();
        QTest::newRow("board with a path in file or kf skipped")
            << QByteArray(R"(<c><board_type><board name="A" file="../../outside/f.json" w="40" h="40"/>)"
                          R"(<board name="B" kf="sub/kf.xml" w="40" h="40"/><board name="C" file="c.json" kf="kf.xml")"
                          R"( w="40" h="40"/></board_type></c>)")
            << "1 7/0/0 kept|| 0,0,0,0 | C:c.json,kf.xml,0,0,0,40,40 000000 0,0,0,0"
            << QStringList{file("board", "file", "../../outside/f.json"), file("board", "kf", "sub/kf.xml")};
        QTest::newRow("static names with a path dropped, plain ones kept")
            << QByteArray("<c><tools_info><static json=\"..\\p.json\" xmlWin=\"w.xml\" xmlMac=\"m&#9;.xml\"")
                   + QByteArray(" x=\"0\" y=\"0\" w=\"1\" h=\"1\"/></tools_info></c>")
            << "1 7/0/0 |w.xml| 0,0,1,1" // the log escapes the backslash and the tab
            << QStringList{file("static", "json", "..\\\\p.json"), file("static", "xmlMac", "m\\t.xml")};
        QTest::newRow("placement limits are in range")
            << QByteArray(R"(<c><tools_info><static x="980" y="750" w="1" h="200"/></tools_info>)"
                          R"(<board_type><board name="A" x="0" y="750" w="200" h="1"/></board_type></c>)")
            << "1 7/0/0 || 980,750,1,200 | A:,,0,0,750,200,1 000000 0,0,0,0" << QStringList();
        QTest::newRow("placements beyond the limits clamped")
            << QByteArray(R"(<c><tools_info><static x="-1" y="751" w="0" h="201"/></tools_info><board_type>)"
                          R"(<board name="A" x="981" y="-2147483648" w="-2147483648" h="2147483647"/></board_type></c>)")
            << "1 7/0/0 || 0,750,1,200 | A:,,0,980,0,1,200 000000 0,0,0,0"
            << QStringList{clamp("static", "x", "-1", 0),       clamp("static", "y", "751", 750),
                           clamp("static", "w", "0", 1),        clamp("static", "h", "201", 200),
                           clamp("board", "x", "981", 980),     clamp("board", "y", "-2147483648", 0),
                           clamp("board", "w", "-2147483648", 1), clamp("board", "h", "2147483647", 200)};
    }
    void readsConfig()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, read);
        QFETCH(QStringList, logs);
        QVERIFY(m_app.put("config/config.xml", xml));
        for (const QString& log : logs)
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(log));
        Data data;
        data.vid = 7;
        data.json = "kept";
        QCOMPARE(describe(data.parseConfigXML(&data.boards, "config.xml"), data), read);
    }

    // Key caps with label and key-unit geometry from the layout editor's raw format. The file's name,
    // holding "%1", is logged as it stands.
    void readsLayout_data()
    {
        QTest::addColumn<QByteArray>("json"); // null: no file
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("keys"); // label@x,y,w,h[,x2,y2,w2,h2] per key
        const QString range = "^Layout value out of range, read as 0:", parse = "^Parse JSON failed: \".*/layout %1\\.json\": .+ at offset \\d+$";
        QTest::newRow("missing") << QByteArray() << "^Open JSON failed: \".*/layout %1\\.json\": no such file$" << "unreadable";
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
        QTest::newRow("64 units is in range") << QByteArray(R"([[{"x":63,"w":64,"y2":-64},"A"]])") << ""
                                              << "A@63,0,64,1,0,-64,0,0";
        QTest::newRow("huge width") << QByteArray(R"([[{"w":1e300},"A"]])") << range << "A@0,0,0,1";
        QTest::newRow("a key of 999.999 units") << QByteArray(R"([[{"w":999.999,"h2":"999.999"},"A"]])") << range
                                                << "A@0,0,0,1";
        QTest::newRow("beyond 64 units") << QByteArray(R"([[{"x":-64.5},"A"]])") << range << "A@0,0,1,1";
        QTest::newRow("text infinity") << QByteArray(R"([[{"h":"inf","y2":"nan"},"A"]])") << range << "A@0,0,1,0";
        QTest::newRow("sum beyond 64 units")
            << QByteArray(R"([[{"x":40},"A",{"x":40},"B"]])") << range << "A@40,0,1,1 B@0,0,1,1";
    }
    void readsLayout()
    {
        QFETCH(QByteArray, json);
        QVERIFY(m_app.put("config/layout %1.json", json));
        QFETCH(QString, log);
        if (!log.isEmpty())
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(log));
        QVector<KeyBtn*> keys;
        QStringList read;
        if (!Data::parseJsonFileForFix(&keys, QString(), m_app.filePath("config/layout %1.json")))
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

    // A layout makes at most Data::MaxLayoutKeys key caps: the first ones, with a line saying the rest
    // were skipped.
    void layoutKeepsOnlyTheFirstKeys_data()
    {
        QTest::addColumn<int>("inFile");
        QTest::newRow("at the limit: all") << Data::MaxLayoutKeys;
        QTest::newRow("one over: one skipped") << Data::MaxLayoutKeys + 1;
        QTest::newRow("100000: the first ones") << 100000;
    }
    void layoutKeepsOnlyTheFirstKeys()
    {
        QFETCH(int, inFile);
        QByteArray json = "[[";
        for (int i = 0; i < inFile; ++i) // 40 keys a row, so that no position leaves the board
            json += (i == 0 ? "" : i % 40 ? "," : "],[") + ("\"k" + QByteArray::number(i) + '"');
        QVERIFY(m_app.write("config/many.json", json + "]]"));
        if (inFile > Data::MaxLayoutKeys)
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Layout has more than %1 keys, the rest "
                                                                               "skipped: .*many\\.json\"$")
                                                                    .arg(Data::MaxLayoutKeys)));
        QString last;
        QCOMPARE(layoutKeys("many.json", &last), Data::MaxLayoutKeys);
        QCOMPARE(last, QStringLiteral("k%1").arg(Data::MaxLayoutKeys - 1));
    }

    // Every reader takes its file through one guard: a folder, a device, a file over 1 MiB or XML nested
    // deeper than 64 elements is refused with a line naming the file and the reason. A reader given a name in
    // config/ takes only a plain one, nothing that could reach another file, with a line. Either way it fails as
    // for a file it can't read.
    void readersTakeOnlyPlainNamesOfSmallRegularFiles_data()
    {
        // xml at config/<name> and config/customcolor/<name>, a key padded to its size at config/<name>.json;
        // null: a folder (target "folder") or a link to the test's own /dev/zero ("device") at each. read: 1 or
        // 0 per reader, two given a path, then six given a name; log: once for each 0.
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("read");
        QTest::addColumn<QString>("log");
        const int mib = 1024 * 1024;
        const auto nested = [](int depth) { return QByteArray("<a>").repeated(depth) + QByteArray("</a>").repeated(depth); };
        const auto refused = [](const char* why) { return QStringLiteral("^File refused: \".*/f(\\.json)?\": ") + why + '$'; };
        const QString deep = refused("elements nested deeper than 64 levels"), irregular = refused("not a regular file"),
                      named = "^Not a plain file name, not read: ";
        QTest::newRow("XML 64 levels deep") << "f" << nested(64) << "" << "11111111" << "";
        QTest::newRow("XML 65 levels deep") << "f" << nested(65) << "" << "00000001" << deep;
        QTest::newRow("XML 25000 levels deep") << "f" << nested(25000) << "" << "00000001" << deep;
        QTest::newRow("1 MiB") << "f" << "<a>" + QByteArray(mib - 7, ' ') + "</a>" << "" << "11111111" << "";
        QTest::newRow("1 MiB and a byte") << "f" << "<a>" + QByteArray(mib - 6, ' ') + "</a>" << ""
                                          << "00000000" << refused("larger than 1048576 bytes");
        QTest::newRow("folder") << "f" << QByteArray() << "folder" << "00000000" << irregular;
        QTest::newRow("link to a device") << "f" << QByteArray() << "device" << "00000000" << irregular;
        QTest::newRow("name of a parent folder") << "../outside" << QByteArray("<a/>") << "" << "11000000" << named;
        QTest::newRow("name of a folder below") << "sub/inside" << QByteArray("<a/>") << "" << "11000000" << named;
        QTest::newRow("name with a backslash") << "sub\\inside" << QByteArray("<a/>") << "" << "11000000" << named;
        QTest::newRow("name with a control character") << "a\tb" << QByteArray("<a/>") << "" << "11000000" << named;
    }
    void readersTakeOnlyPlainNamesOfSmallRegularFiles()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, xml);
        QFETCH(QString, target);
        QFETCH(QString, read);
        QFETCH(QString, log);
        const QByteArray json = R"([["A"]])" + QByteArray(qMax(0, xml.size() - 7), ' ');
        if (target == "device" && (target = deviceStandIn(m_app.path(), "/dev/zero")).isEmpty())
            QSKIP("root cannot make a device node that opens in its temporary folder");
        for (const QString& file : {"config/" + name, "config/customcolor/" + name, "config/" + name + ".json"}) {
            const QString path = m_app.filePath(file);
            QVERIFY(QFile::remove(path) || QDir(path).removeRecursively()); // what an earlier row left
            if (!xml.isNull())
                QVERIFY(m_app.write(file, file.endsWith(".json") ? json : xml));
            else if (target == "folder")
                QVERIFY(QDir().mkpath(path));
            else
                QVERIFY(QDir().mkpath(QFileInfo(path).path()) && QFile::link(target, path));
        }
        for (int i = read.count('0'); i > 0; --i)
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(log));
        Data data;
        KeyBtn cap;
        QVector<KeyBtn*> caps{&cap}, keys;
        Key chip;
        QPushButton button;
        QVector<QPushButton*> buttons{&button};
        MenuTreeData menu;
        QVector<STCTS*> texts;
        QDomDocument doc;
        const QString path = m_app.filePath("config/" + name);
        QString bits;
        for (bool ok : {Data::parseShortcutsXML(path, &texts), readSmallXml(path, &doc) == 0,
                        data.parseConfigXML(&data.boards, name), Data::parseMenutreeXML(name, &menu),
                        Data::parseStaticXML(&caps, name), Data::parseStaticXML(&chip, name),
                        data.parseStaticColorXML(&buttons, name), Data::parseJsonFileForFix(&keys, name + ".json", {})})
            bits += QString::number(ok);
        qDeleteAll(keys);
        QCOMPARE(bits, read);
    }

    // The shipped appdir/ as later code relies on it. In each layout the five rows from the number row to the
    // space bar run from x 0 without a gap to 15 units: a key too narrow or too wide shows as a short or long
    // row. Each palette legend, line by line, fits its key at the palette's size, the smallest the family
    // draws keys at (the pictures take their legends from the palette).
    void sampleFamilyFilesAgree()
    {
        setAppDirPathForTest(QFINDTESTDATA("../appdir"));
        const auto back = qScopeGuard([this] { setAppDirPathForTest(m_app.path()); });
        Data data;
        QVERIFY(data.parseConfigXML(&data.boards, "config.xml"));
        QCOMPARE(data.boards.size(), 2);
        QCOMPARE(data.boards[1]->name.toUtf8().size(), 16); // exactly the bytes the keyboard reports
        QCOMPARE(layoutKeys(data.boards[0]->file), 104);
        QCOMPARE(layoutKeys(data.boards[1]->file), 87);
        for (const QString& file : {data.json, data.boards[0]->file, data.boards[1]->file})
            QVERIFY2(mainBlockRowWidths(file) == QList<double>({15, 15, 15, 15, 15}), qPrintable(file));
        const QRegularExpression key("<key code=\"[0-9a-f]+\"");
        // The cap's legend font; a legend with a space goes on two lines, but for Caps Lock.
        const QFontMetrics metrics(QFont(QStringLiteral("Arial"), 8));
        for (const QString& file : {data.xmlWin, data.xmlMac}) { // a static key element per palette key
            QCOMPARE(QString(readFile(QFINDTESTDATA("../appdir/config/" + file))).count(key), layoutKeys(data.json));
            QVector<KeyBtn*> keys;
            QVERIFY(Data::parseJsonFileForFix(&keys, data.json, QString()) && Data::parseStaticXML(&keys, file));
            QStringList cut;
            for (const KeyBtn* k : keys) {
                const int room = int(data.w * k->w - data.gap + 1.0) - 1; // the key's width less the legend's edge
                const QString name = k->name();
                for (const QString& line : name == "Caps Lock" ? QStringList{name} : name.split(' '))
                    if (metrics.horizontalAdvance(line) > room)
                        cut << name;
            }
            qDeleteAll(keys);
            QVERIFY2(cut.isEmpty(), qPrintable(file + ": " + cut.join(", ")));
        }
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

        // One level, below a folder that stands: one gone (the tool's folder moved away) is not made again.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Make dir failed: .*a/b\"$"));
        QVERIFY(Data::makeDir(base + "a/b") && !Data::dirExists(base + "a"));
        QVERIFY(Data::makeDir(base + "a") && Data::makeDir(base + "a/b") && Data::dirExists(base + "a/b"));
        QVERIFY(!Data::makeDir(base)); // already there
        QVERIFY(m_app.write("items/one.xml", "a file where a folder should go"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Make dir failed: .*one\\.xml/sub\"$"));
        QVERIFY(Data::makeDir(base + "one.xml/sub"));
    }
};

QTEST_MAIN(ConfigFileReadersTest)
#include "test_data.moc"
