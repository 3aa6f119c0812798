// config.xml and key layout readers, the facts later code takes from the shipped sample family, and Data's
// file helpers.
#include "macro/key.h"
#include "readerharness.h"
#include "shortcut/stcts.h"
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

// Elements nested depth levels deep.
static QByteArray nested(int depth)
{
    return QByteArray("<a>").repeated(depth) + QByteArray("</a>").repeated(depth);
}

// Removes whatever is at path: file, folder or link.
static bool clear(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        return QDir(path).removeRecursively();
    return !info.exists() && !info.isSymLink() ? true : QFile::remove(path);
}

// Each reader of a file in config/ given its name: config.xml's, the menu file's, the three static key
// readers (the colour one reads config/customcolor/), then the layout reader with ".json" added to the name.
// 1 or 0 per reader, in that order.
static QString runNamedReaders(const QString& xml)
{
    Data data;
    KeyBtn cap;
    QVector<KeyBtn*> caps{&cap};
    Key chip;
    QPushButton button;
    QVector<QPushButton*> buttons{&button};
    MenuTreeData menu;
    QVector<KeyBtn*> keys;
    const QList<bool> read{data.parseConfigXML(&data.boards, xml),
                           Data::parseMenutreeXML(xml, &menu),
                           Data::parseStaticXML(&caps, xml),
                           Data::parseStaticXML(&chip, xml),
                           data.parseStaticColorXML(&buttons, xml),
                           Data::parseJsonFileForFix(&keys, xml + ".json", QString())};
    qDeleteAll(keys);
    QString out;
    for (bool r : read)
        out += QString::number(r);
    return out;
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
            << "1 7/0/0 p.json 3,470,36,1"; // h clamped to 1 pixel
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

    // A layout makes at most 512 key caps: the first ones, with a line saying the rest were skipped.
    void layoutKeepsTheFirst512Keys_data()
    {
        QTest::addColumn<int>("inFile");
        QTest::newRow("512: all") << 512;
        QTest::newRow("513: one skipped") << 513;
        QTest::newRow("100000: the first 512") << 100000;
    }
    void layoutKeepsTheFirst512Keys()
    {
        QFETCH(int, inFile);
        QByteArrayList rows; // 40 keys a row, so that no position leaves the board
        for (int k = 0; k < inFile; k += 40) {
            QByteArrayList row;
            for (int i = k; i < qMin(inFile, k + 40); ++i)
                row << "\"k" + QByteArray::number(i) + '"';
            rows << '[' + row.join(',') + ']';
        }
        QVERIFY(m_app.write("config/many.json", '[' + rows.join(',') + ']'));
        if (inFile > 512)
            QTest::ignoreMessage(QtDebugMsg,
                                 QRegularExpression("^Layout has more than 512 keys, the rest skipped: .*many\\.json\"$"));
        QVector<KeyBtn*> keys;
        QVERIFY(Data::parseJsonFileForFix(&keys, "many.json", QString()));
        const QString last = keys.isEmpty() ? QString() : keys.last()->label;
        const int count = keys.size();
        qDeleteAll(keys);
        QCOMPARE(count, 512);
        QCOMPARE(last, QStringLiteral("k511"));
    }

    // Every XML reader, and the layout reader, takes its file through one guard: a folder, a device, a
    // file over 1 MiB or XML nested deeper than 64 elements is refused with a line naming the file and
    // the reason, and the reader fails as for a file it can't read.
    void readersTakeTheirFilesThroughTheGuard_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file but what target says
        QTest::addColumn<QString>("target");     // "folder", or what a link points to
        QTest::addColumn<bool>("json");
        QTest::addColumn<QString>("refusal"); // empty: read
        const int mib = 1024 * 1024;
        const QString deep = "elements nested deeper than 64 levels", large = "larger than 1048576 bytes",
                      irregular = "not a regular file";
        QTest::newRow("XML 64 levels deep") << nested(64) << "" << false << "";
        QTest::newRow("XML 65 levels deep") << nested(65) << "" << false << deep;
        QTest::newRow("XML 25000 levels deep") << nested(25000) << "" << false << deep;
        QTest::newRow("XML of 1 MiB") << "<a>" + QByteArray(mib - 7, ' ') + "</a>" << "" << false << "";
        QTest::newRow("XML of 1 MiB and a byte") << "<a>" + QByteArray(mib - 6, ' ') + "</a>" << "" << false << large;
        QTest::newRow("XML folder") << QByteArray() << "folder" << false << irregular;
        QTest::newRow("XML link to a device") << QByteArray() << "/dev/zero" << false << irregular;
        QTest::newRow("JSON of 1 MiB") << "[[\"A\"]]" + QByteArray(mib - 7, ' ') << "" << true << "";
        QTest::newRow("JSON of 1 MiB and a byte") << "[[\"A\"]]" + QByteArray(mib - 6, ' ') << "" << true << large;
        QTest::newRow("JSON folder") << QByteArray() << "folder" << true << irregular;
        QTest::newRow("JSON link to a device") << QByteArray() << "/dev/zero" << true << irregular;
    }
    void readersTakeTheirFilesThroughTheGuard()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, target);
        QFETCH(bool, json);
        QFETCH(QString, refusal);
        for (const QString relative : {"config/f", "config/customcolor/f"}) {
            const QString path = m_app.filePath(relative);
            QVERIFY(clear(path));
            if (!content.isNull())
                QVERIFY(m_app.write(relative, content));
            else if (target == "folder")
                QVERIFY(QDir().mkpath(path));
            else
                QVERIFY(QDir().mkpath(QFileInfo(path).path()) && QFile::link(target, path));
        }
        const auto expectRefusal = [&refusal] {
            if (!refusal.isEmpty())
                QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^File refused: \".*/f\": " + refusal + '$'));
        };
        QString read;
        if (json) {
            expectRefusal();
            QVector<KeyBtn*> keys;
            read += QString::number(Data::parseJsonFileForFix(&keys, "f", QString()));
            qDeleteAll(keys);
        } else {
            Data data;
            KeyBtn cap;
            QVector<KeyBtn*> caps{&cap};
            Key chip;
            QPushButton button;
            QVector<QPushButton*> buttons{&button};
            MenuTreeData menu;
            QVector<STCTS*> texts;
            QDomDocument doc;
            for (int i = 0; i < 7; ++i)
                expectRefusal();
            for (bool ok : {data.parseConfigXML(&data.boards, "f"), Data::parseMenutreeXML("f", &menu),
                            Data::parseShortcutsXML(m_app.filePath("config/f"), &texts),
                            Data::parseStaticXML(&caps, "f"), Data::parseStaticXML(&chip, "f"),
                            data.parseStaticColorXML(&buttons, "f"), readSmallXml(m_app.filePath("config/f"), &doc) == 0})
                read += QString::number(ok);
        }
        QCOMPARE(read, QString(read.size(), refusal.isEmpty() ? '1' : '0'));
    }

    // A file name a reader takes is a plain name in config/: anything that could reach another file is
    // not read, with a line, even when that file is there and well-formed.
    void readersTakeOnlyPlainNamesInConfig_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("read"); // see runNamedReaders
        QTest::newRow("plain") << "ok" << "111111";
        QTest::newRow("parent folder") << "../outside" << "000000";
        QTest::newRow("folder below") << "sub/inside" << "000000";
        QTest::newRow("backslash") << "sub\\inside" << "000000";
        QTest::newRow("control character") << "a\tb" << "000000";
    }
    void readersTakeOnlyPlainNamesInConfig()
    {
        QFETCH(QString, name);
        for (const QString folder : {"config/", "config/customcolor/"})
            QVERIFY(m_app.write(folder + name, "<c><tools_info/></c>"));
        QVERIFY(m_app.write("config/" + name + ".json", R"([["A"]])"));
        QFETCH(QString, read);
        if (read.startsWith('0')) {
            for (int i = 0; i < 6; ++i)
                QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Not a plain file name, not read: "));
        }
        QCOMPARE(runNamedReaders(name), read);
    }

    // config.xml's file names stay in config/ and its placements in the window: a board naming another
    // file is skipped, a static name dropped, a number out of range clamped; each with a line.
    void configNamesAndPlacementsAreChecked_data()
    {
        QTest::addColumn<QByteArray>("elements"); // inside the root
        QTest::addColumn<QString>("read");        // static names and numbers, then per board
        QTest::addColumn<QStringList>("logs");
        const auto file = [](const char* element, const char* attribute, const char* name) {
            return QStringLiteral("^config\\.xml: %1 %2 is not a plain file name in config/, skipped: \"%3\"$")
                .arg(element, attribute, QRegularExpression::escape(name));
        };
        const auto clamp = [](const char* element, const char* attribute, const char* from, int to) {
            return QStringLiteral("^config\\.xml: %1 %2 %3 out of range, clamped to %4$")
                .arg(element, attribute, from)
                .arg(to);
        };
        QTest::newRow("board with a path in file or kf skipped")
            << QByteArray(R"(<board_type><board name="A" file="../../../../dev/zero" w="40" h="40"/>)"
                          R"(<board name="B" kf="sub/kf.xml" w="40" h="40"/><board name="C" file="c.json" kf="kf.xml")"
                          R"( w="40" h="40"/></board_type>)")
            << "|| 0,0,0,0 | C c.json kf.xml 0,0,40,40"
            << QStringList{file("board", "file", "../../../../dev/zero"), file("board", "kf", "sub/kf.xml")};
        QTest::newRow("static names with a path dropped, plain ones kept")
            << QByteArray("<tools_info><static json=\"..\\p.json\" xmlWin=\"w.xml\" xmlMac=\"m&#9;.xml\"")
                   + QByteArray(" x=\"0\" y=\"0\" w=\"1\" h=\"1\"/></tools_info>")
            << "|w.xml| 0,0,1,1" // the log escapes the backslash and the tab
            << QStringList{file("static", "json", "..\\\\p.json"), file("static", "xmlMac", "m\\t.xml")};
        QTest::newRow("limits are in range")
            << QByteArray(R"(<tools_info><static x="980" y="750" w="1" h="200"/></tools_info>)"
                          R"(<board_type><board name="A" x="0" y="750" w="200" h="1"/></board_type>)")
            << "|| 980,750,1,200 | A   0,750,200,1" << QStringList();
        QTest::newRow("beyond the limits clamped")
            << QByteArray(R"(<tools_info><static x="-1" y="751" w="0" h="201"/></tools_info><board_type>)"
                          R"(<board name="A" x="981" y="-2147483648" w="-2147483648" h="2147483647"/></board_type>)")
            << "|| 0,750,1,200 | A   980,0,1,200"
            << QStringList{clamp("static", "x", "-1", 0),       clamp("static", "y", "751", 750),
                           clamp("static", "w", "0", 1),        clamp("static", "h", "201", 200),
                           clamp("board", "x", "981", 980),     clamp("board", "y", "-2147483648", 0),
                           clamp("board", "w", "-2147483648", 1), clamp("board", "h", "2147483647", 200)};
    }
    void configNamesAndPlacementsAreChecked()
    {
        QFETCH(QByteArray, elements);
        QFETCH(QStringList, logs);
        QVERIFY(m_app.write("config/config.xml", "<c>" + elements + "</c>"));
        for (const QString& log : logs)
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(log));
        Data data;
        QVERIFY(data.parseConfigXML(&data.boards, "config.xml"));
        const auto numbers = [](double x, double y, double w, double h) {
            return QStringLiteral("%1,%2,%3,%4").arg(x).arg(y).arg(w).arg(h);
        };
        QString read = QStringList{data.json, data.xmlWin, data.xmlMac}.join('|') + ' '
                       + numbers(data.x, data.y, data.w, data.h);
        for (const BoardInfo* b : qAsConst(data.boards))
            read += QStringList{" |", b->name, b->file, b->kf, numbers(b->x, b->y, b->w, b->h)}.join(' ');
        QTEST(read, "read");
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
