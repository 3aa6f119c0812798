// A key function catalogue that reads but no longer describes a function the keyboard holds: the row
// of that function keeps what shortcuts.xml holds for it through every save, and the user is told
// once, naming the catalogue. Rows the catalogue knows are written as ever.
#include "keyboardfixture.h"
#include "messageboxrecorder.h"
#include "readerharness.h"
#include "shortcut/shortcuts.h"
#include "shortcut/shortcutsitem.h"
#include "widget/filenotice.h"
#include "wire.h"
#include "timescale.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QtTest>
#include <memory>

namespace {

const QByteArray WebsiteFunction =
    R"(<func name="Open website" hi="1" enable="1" control_type="1" tips="Opens a web address in the browser"/>)";

// As the page writes it: slot 0 opens a typed address, slot 1 a folder.
const QByteArray UserShortcuts = "<?xml version = '1.0' encoding = 'UTF-8'?>\n<shortcuts>\n"
    "    <item0 btn3=\" \" hitype=\"1\" id=\"0\" btn0=\"A\" hi=\"1\" btn1=\" \" btn2=\" \">\n"
    "        <Website web=\"https://tessark.example.org/m\xc3\xbcller?a=1&amp;b=2\"/>\n"
    "    </item0>\n"
    "    <item1 id=\"1\" btn0=\" \" btn1=\" \" btn2=\" \" btn3=\" \" hi=\"3\" hitype=\"3\">\n"
    "        <FileFolder dir=\"/home/user/projects\"/>\n"
    "    </item1>\n"
    "</shortcuts>\n";

// The file as written when the address was in slot 1 and the folder in slot 0, in the other order.
QByteArray withSlotsSwapped(QByteArray file)
{
    return file.replace("id=\"0\"", "id=\"x\"").replace("id=\"1\"", "id=\"0\"").replace("id=\"x\"", "id=\"1\"");
}

// The element of the file named tag, from its '<' to its end tag; empty when there is none.
QByteArray element(const QByteArray& file, const QByteArray& tag)
{
    const int start = file.indexOf("<" + tag + " ");
    const int end = file.indexOf("</" + tag + ">", start);
    return start < 0 || end < 0 ? QByteArray() : file.mid(start, end - start + tag.size() + 3);
}

// A keyboard whose slots hold the given function numbers from slot 0, and a page on it.
struct Start {
    ReaderAppDir app;
    std::unique_ptr<KeyboardFixture> kb;
    QVector<KeyBtn*> pictureKeys;
    std::unique_ptr<Shortcuts> page;
    QString path = app.filePath("kb/shortcuts.xml");
    QByteArray shipped = readFile(QFINDTESTDATA("../appdir/config/kf_tk104.xml"));

    bool plug(const QList<int>& his)
    {
        sim::KeyboardConfig config;
        config.keyFunctions = 16;
        config.sampleKeyFunctions = false;
        kb = std::make_unique<KeyboardFixture>(config);
        kb->kb->edit([&](sim::FirmwareState& s) {
            for (int i = 0; i < int(s.keyFunctions.size()); ++i) {
                const int word = i | (i < his.size() ? 0x40 | his.at(i) << 7 : 0);
                s.keyFunctions[size_t(i)][0] = char(word & 0xFF);
                s.keyFunctions[size_t(i)][1] = char(word >> 8);
            }
        });
        return !shipped.isEmpty() && app.copyFiles(QFINDTESTDATA("../appdir/images"), "images")
               && app.put("kb/shortcuts.xml", UserShortcuts) && kb->open() && kb->loadNow();
    }
    bool load(const QByteArray& catalogue)
    {
        if (!page)
            page = std::make_unique<Shortcuts>(nullptr, nullptr);
        page->deleteKF();
        if (!app.put("config/kf_tk104.xml", catalogue))
            return false;
        page->load("kf_tk104.xml", path, &pictureKeys, kb->device);
        return QTest::qWaitFor([this] { return page->initFinished(); }, timescale::ms(10000));
    }
};

} // namespace

class KfCatalogueChangeTest : public QObject {
    Q_OBJECT
    MessageBoxRecorder m_boxes;

    QList<MessageBoxRequest> boxesShown()
    {
        QTest::qWait(20);
        return m_boxes.boxes();
    }

private slots:
    void init()
    {
        filenotice::flush();
        m_boxes.clear();
    }
    void cleanup() { sim::reset(); }

    void rowOfAnUnknownFunctionKeepsItsStoredEntry_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::newRow("its number changed") << QByteArray(R"(name="Open website" hi="1")")
                                            << QByteArray(R"(name="Open website" hi="-1")");
        QTest::newRow("its entry removed") << WebsiteFunction << QByteArray();
        QTest::newRow("its type unknown") << QByteArray(R"(hi="1" enable="1" control_type="1")")
                                          << QByteArray(R"(hi="1" enable="1" control_type="999")");
        QTest::newRow("catalogue as shipped") << QByteArray() << QByteArray();
    }
    void rowOfAnUnknownFunctionKeepsItsStoredEntry()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        Start s;
        QVERIFY(s.plug({1, 3}));
        QByteArray catalogue = s.shipped;
        if (!from.isEmpty()) {
            QVERIFY(catalogue.contains(from));
            catalogue.replace(from, to);
        }
        QVERIFY(s.load(catalogue));
        QCOMPARE(s.page->rows().size(), 2);

        // The user downloads the other row.
        s.kb->kb->clearLog();
        s.page->rows().at(1)->checkBox()->setChecked(true);
        s.page->itemDownloadButtonSlot();
        QCOMPARE(sentReports(s.kb->kb, 0x40, 0x20).size(), 1);
        const QList<MessageBoxRequest> boxes = boxesShown();

        const QByteArray file = readFile(s.path);
        QVERIFY2(file.contains("<FileFolder dir=\"/home/user/projects\"/>"), file.constData());
        if (from.isEmpty()) {
            QVERIFY2(boxes.isEmpty(), qPrintable(boxes.value(0).text));
            QVERIFY(file.contains("web=\"https://tessark.example.org/m\xc3\xbcller?a=1&amp;b=2\""));
            return;
        }
        QCOMPARE(element(file, "item0"), element(UserShortcuts, "item0"));
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].text.contains("kf_tk104.xml"), qPrintable(boxes[0].text));
    }

    // A row whose function the catalogue knows is written as the user left it, not as the file held it:
    // an edited address and an edited folder both go out with a download and read back.
    void editedRowTheCatalogueKnowsIsWrittenAsEdited_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QByteArray>("edited");
        QTest::newRow("address") << 0 << QByteArray("web=\"https://tessark.example.org/m\xc3\xbcller?a=1&amp;b=2\"")
                                 << QByteArray("web=\"https://tessark.example.org/edited\"");
        QTest::newRow("folder") << 1 << QByteArray("dir=\"/home/user/projects\"")
                                << QByteArray("dir=\"/home/user/edited\"");
    }
    void editedRowTheCatalogueKnowsIsWrittenAsEdited()
    {
        QFETCH(int, row);
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, edited);
        Start s;
        QVERIFY(s.plug({1, 3}));
        QVERIFY(s.load(s.shipped));
        QCOMPARE(s.page->rows().size(), 2);
        QVERIFY(readFile(s.path).contains(stored)); // the load's save kept what was there

        ShortcutsItem* item = s.page->rows().at(row);
        QLineEdit* edit = row == 0 ? item->websiteEdit() : item->folderEdit();
        QVERIFY(edit);
        const QString typed = QString::fromUtf8(edited.mid(edited.indexOf('"') + 1).chopped(1));
        edit->setText(typed);
        item->checkBox()->setChecked(true);
        s.kb->kb->clearLog();
        s.page->itemDownloadButtonSlot();
        QCOMPARE(sentReports(s.kb->kb, 0x40, 0x20).size(), 1);

        const QByteArray file = readFile(s.path);
        QVERIFY2(file.contains(edited) && !file.contains(stored), file.constData());
        QVERIFY2(boxesShown().isEmpty(), qPrintable(m_boxes.boxes().value(0).text));
        // Read back as edited.
        QVERIFY(s.load(s.shipped));
        ShortcutsItem* again = s.page->rows().at(row);
        QCOMPARE((row == 0 ? again->websiteEdit() : again->folderEdit())->text(), typed);
    }

    // An entry is written for a slot and a function: a slot that now holds another function the
    // catalogue does not know gets no entry back (not the address), and its row is written as it stands.
    void storedEntryComesBackOnlyForItsOwnFunction()
    {
        Start s;
        QVERIFY(s.plug({7, 3})); // slot 0 held the address (function 1) when the file was written
        const QByteArray seventh = "hi=\"7\"";
        QVERIFY(s.shipped.contains(seventh));
        QVERIFY(s.load(QByteArray(s.shipped).replace(seventh, "hi=\"-7\""))); // a function it does not know
        QCOMPARE(s.page->rows().size(), 2);
        const QByteArray file = readFile(s.path);
        QVERIFY2(file.contains("<item0") && !file.contains("tessark.example.org"), file.constData());
        QVERIFY2(file.contains("<FileFolder dir=\"/home/user/projects\"/>"), file.constData());
        QVERIFY2(boxesShown().isEmpty(), qPrintable(m_boxes.boxes().value(0).text));
    }

    // The load's own save puts a kept entry under its row's name: the reader takes item0, item1, ... in
    // row order, so the file then holds each name once.
    void keptEntryTakesItsRowsNameAtTheFirstSave()
    {
        Start s;
        QVERIFY(s.plug({3, 1}));
        const QByteArray swapped = withSlotsSwapped(UserShortcuts);
        QVERIFY(s.app.put("kb/shortcuts.xml", swapped));
        QVERIFY(s.load(QByteArray(s.shipped).replace(WebsiteFunction, "")));
        QCOMPARE(s.page->rows().size(), 2);

        const QByteArray file = readFile(s.path);
        QCOMPARE(file.count("<item0"), 1);
        QCOMPARE(file.count("<item1"), 1);
        QVERIFY2(element(file, "item0").contains("<FileFolder dir=\"/home/user/projects\"/>"), file.constData());
        const QByteArray address = element(swapped, "item0");
        QCOMPARE(element(file, "item1"), "<item1" + address.mid(6, address.size() - 6 - 8) + "</item1>");
    }

    // A row below a deleted one moves up: its kept entry goes with it, under its new name, and gives
    // the row its address back once the catalogue knows the function again.
    void keptEntryFollowsItsRowAndReadsBack()
    {
        Start s;
        QVERIFY(s.plug({3, 1}));
        QVERIFY(s.app.put("kb/shortcuts.xml", withSlotsSwapped(UserShortcuts)));
        QVERIFY(s.load(QByteArray(s.shipped).replace(WebsiteFunction, "")));
        QCOMPARE(s.page->rows().size(), 2);

        s.page->rows().at(0)->checkBox()->setChecked(true);
        s.page->itemDeleteButtonSlot();
        QCOMPARE(s.page->rows().size(), 1);
        const QByteArray file = readFile(s.path);
        QVERIFY2(!file.contains("<item1"), file.constData());
        QCOMPARE(element(file, "item0"),
                 QByteArray(element(UserShortcuts, "item0")).replace("id=\"0\"", "id=\"1\""));

        QVERIFY(s.load(s.shipped));
        QCOMPARE(s.page->rows().size(), 1);
        QCOMPARE(s.page->rows().at(0)->websiteEdit()->text(),
                 QString::fromUtf8("https://tessark.example.org/m\xc3\xbcller?a=1&b=2"));
    }
};

QTEST_MAIN(KfCatalogueChangeTest)
#include "test_kfcataloguechange.moc"
