// Copies kept of a file that does not read, or of one saved over while an input did not read: an
// earlier copy is never replaced, the next one goes beside it, and the user learns its name.
#include "keyboardfixture.h"
#include "messageboxrecorder.h"
#include "readerharness.h"
#include "shortcut/shortcuts.h"
#include "shortcut/shortcutsitem.h"
#include "widget/filenotice.h"
#include "widget/unreadablefile.h"
#include "timescale.h"

#include <QCheckBox>
#include <QtTest>

namespace {

const QByteArray UserShortcuts = "<?xml version = '1.0' encoding = 'UTF-8'?>\n<shortcuts>\n"
    "    <item0 id=\"0\" btn0=\"A\" btn1=\" \" btn2=\" \" btn3=\" \" hi=\"1\" hitype=\"1\">\n"
    "        <Website web=\"https://tessark.example.org/mine\"/>\n"
    "    </item0>\n"
    "    <item1 id=\"1\" btn0=\" \" btn1=\" \" btn2=\" \" btn3=\" \" hi=\"3\" hitype=\"3\">\n"
    "        <FileFolder dir=\"/home/user/projects\"/>\n"
    "    </item1>\n"
    "</shortcuts>\n";

} // namespace

class BadCopiesTest : public QObject {
    Q_OBJECT
    MessageBoxRecorder m_boxes;

private slots:
    void init()
    {
        filenotice::flush();
        m_boxes.clear();
    }
    void cleanup() { sim::reset(); }

    // Each content in turn is kept; what each copy holds at the end is what was first kept there.
    void eachCopyGoesBesideTheEarlierOnes_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<QByteArrayList>("contents");
        QTest::addColumn<QStringList>("keptAs");
        QTest::newRow("first") << QString() << QByteArrayList{"a"} << QStringList{".bad"};
        QTest::newRow("a different one beside it") << QString() << QByteArrayList{"a", "b", "c"}
                                                   << QStringList{".bad", ".bad.1", ".bad.2"};
        QTest::newRow("the same bytes make no second copy")
            << QString() << QByteArrayList{"a", "b", "a"} << QStringList{".bad", ".bad.1", ".bad"};
        QTest::newRow("a folder holds the name") << "folder" << QByteArrayList{"a"} << QStringList{".bad.1"};
        QTest::newRow("a link to nowhere holds the name") << "link" << QByteArrayList{"a"} << QStringList{".bad.1"};
        // Its bytes are the file's own, which the save that follows replaces: no copy at all.
        QTest::newRow("a link to the file itself is no copy") << "link to the file" << QByteArrayList{"a"}
                                                               << QStringList{".bad.1"};
    }
    void eachCopyGoesBesideTheEarlierOnes()
    {
        QFETCH(QString, obstacle);
        QFETCH(QByteArrayList, contents);
        QFETCH(QStringList, keptAs);
        TempAppDir dir;
        const QString path = dir.filePath("config/menutree.xml");
        if (obstacle == "folder")
            QVERIFY(QDir().mkpath(path + ".bad"));
        QVERIFY(dir.write("config/menutree.xml", "x"));
        if (obstacle == "link")
            QVERIFY(QFile::link(dir.filePath("nowhere"), path + ".bad"));
        if (obstacle == "link to the file")
            QVERIFY(QFile::link(path, path + ".bad"));
        QMap<QString, QByteArray> first;
        for (int i = 0; i < contents.size(); ++i) {
            QVERIFY(dir.write("config/menutree.xml", contents.at(i)));
            QString kept;
            QVERIFY(keepUnreadableFile(path, &kept));
            QCOMPARE(kept, path + keptAs.at(i));
            if (!first.contains(kept))
                first.insert(kept, contents.at(i));
        }
        for (auto it = first.cbegin(); it != first.cend(); ++it)
            QCOMPARE(readFile(it.key()), it.value());
        QCOMPARE(QDir(dir.filePath("config")).entryList({"menutree.xml.bad*"}, QDir::AllEntries | QDir::System).size(),
                 first.size() + !obstacle.isEmpty());
    }

    // With the catalogue unreadable at two starts, the first start's download keeps shortcuts.xml as
    // .bad before saving over it; the second start's save keeps the file it finds as .bad.1. The
    // first copy still holds what the user typed, and each start names its copy.
    void secondStartKeepsTheFirstCopy()
    {
        ReaderAppDir app;
        sim::KeyboardConfig config;
        config.keyFunctions = 16;
        config.sampleKeyFunctions = false;
        KeyboardFixture kb(config);
        kb.kb->edit([](sim::FirmwareState& s) {
            // Slots 0 and 1 as the file has them; slot 2 holds replacement keys it has nothing for.
            const int his[] = {1, 3, 5};
            for (int i = 0; i < int(s.keyFunctions.size()); ++i) {
                const int word = i | (i < 3 ? 0x40 | his[i] << 7 : 0);
                s.keyFunctions[size_t(i)][0] = char(word & 0xFF);
                s.keyFunctions[size_t(i)][1] = char(word >> 8);
            }
        });
        const QString path = app.filePath("kb/shortcuts.xml");
        QVERIFY(app.copyFiles(QFINDTESTDATA("../appdir/images"), "images")
                && app.put("config/kf_tk104.xml", "<key_function><key_func><func name=\"Open")
                && app.put("kb/shortcuts.xml", UserShortcuts) && kb.open() && kb.loadNow());

        QByteArray firstSaved;
        for (const char* copy : {".bad", ".bad.1"}) {
            QVector<KeyBtn*> pictureKeys;
            Shortcuts page(nullptr, nullptr);
            page.load("kf_tk104.xml", path, &pictureKeys, kb.device);
            QTRY_VERIFY_WITH_TIMEOUT(page.initFinished(), timescale::ms(10000));
            QCOMPARE(page.rows().size(), 3);
            QTest::qWait(20);
            m_boxes.clear();
            page.rows().at(1)->checkBox()->setChecked(true);
            page.itemDownloadButtonSlot();
            QTest::qWait(20);
            QCOMPARE(m_boxes.boxes().size(), 1);
            const QString text = m_boxes.boxes()[0].text;
            QVERIFY2(text.contains(QDir::toNativeSeparators(path + copy)), qPrintable(text));
            QVERIFY2(copy == QLatin1String(".bad.1") || !text.contains(".bad.1"), qPrintable(text));
            if (firstSaved.isNull())
                firstSaved = readFile(path);
        }
        QCOMPARE(readFile(path + ".bad"), UserShortcuts);
        QCOMPARE(readFile(path + ".bad.1"), firstSaved);
        // What the rows could not show went back into the file too.
        QVERIFY(readFile(path).contains("https://tessark.example.org/mine"));
    }
};

QTEST_MAIN(BadCopiesTest)
#include "test_badcopies.moc"
