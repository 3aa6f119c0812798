// The user's files survive damaged inputs: a shortcuts.xml, key function catalogue or static key file
// that does not read, a damaged colour file, and item files a new macro's name would replace. Each
// damaged file is named in the log; what the user keeps stays as it was or is kept as .bad.
#include "keyboardfixture.h"
#include "logrecorder.h"
#include "messageboxrecorder.h"
#include "readerharness.h"
#include "color/palette.h"
#include "macro/macro.h"
#include "macro/macroitem.h"
#include "shortcut/shortcuts.h"
#include "widget/colorchooser.h"
#include "widget/fileguard.h"
#include "widget/filenotice.h"
#include "widget/keybtn.h"
#include "widget/data.h"
#include "widget/stcts.h"
#include "timescale.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QPushButton>
#include <QRandomGenerator>
#include <QtTest>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray Catalogue = "<kf><key_func><func name=\"Website\" hi=\"1\" enable=\"1\" control_type=\"1\"/>\n"
    "<func name=\"Document\" hi=\"2\" enable=\"1\" control_type=\"2\"/><func name=\"Folder\" hi=\"3\" enable=\"1\" control_type=\"3\"/>\n"
    "</key_func></kf>";

// What the user keeps for slots 0 to 2: an address, a document and a folder.
const QByteArray UserShortcuts = "<?xml version = '1.0' encoding = 'UTF-8'?>\n"
    "<shortcuts>\n"
    "    <item0 id=\"0\" btn0=\"A\" btn1=\" \" btn2=\" \" btn3=\" \" hi=\"1\" hitype=\"1\"><Website web=\"https://tessark.example.org/mine\"/></item0>\n"
    "    <item1 id=\"1\" btn0=\" \" btn1=\" \" btn2=\" \" btn3=\" \" hi=\"2\" hitype=\"2\"><DocApp dir=\"/home/user/notes.txt\"/></item1>\n"
    "    <item2 id=\"2\" btn0=\" \" btn1=\" \" btn2=\" \" btn3=\" \" hi=\"3\" hitype=\"3\"><FileFolder dir=\"/home/user/projects\"/></item2>\n"
    "</shortcuts>\n";

bool logNames(const QString& path)
{
    const QStringList log = logrecorder::lines(); // the keyboard's reading thread logs too
    return std::any_of(log.begin(), log.end(), [&path](const QString& line) { return line.contains(path); });
}

// What stands at path: a file's bytes, or the kind of entry.
QByteArray snapshot(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return "missing";
    if (info.isDir())
        return "directory";
    if (!info.isFile())
        return "special";
    if (info.isReadable())
        return "file:" + readFile(path);
    // Of mode 000: read as its owner may, and left as it was.
    const QFile::Permissions mode = info.permissions();
    QFile::setPermissions(path, QFile::ReadOwner);
    const QByteArray bytes = readFile(path);
    QFile::setPermissions(path, mode);
    return "file:" + bytes;
}

// Damages the file at path (good: its intact content). Returns the damaged bytes of a regular file,
// or a null array for anything else. Skips the row where the damage would not bite.
bool damage(const QString& kind, const QString& path, const QByteArray& good, QByteArray* bytes)
{
    QFile::remove(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    *bytes = QByteArray();
    if (kind == "directory")
        return QDir().mkpath(path + "/inside");
    if (kind == "FIFO")
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    if (kind == "empty")
        *bytes = QByteArray("");
    else if (kind == "truncated")
        *bytes = good.left(good.size() / 2);
    else if (kind == "random") {
        QRandomGenerator random(22);
        for (int i = 0; i < 700; ++i)
            bytes->append(char(random.bounded(256)));
    } else {
        *bytes = good; // mode 000
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(*bytes) != bytes->size())
        return false;
    f.close();
    return kind != "mode 000" || QFile::setPermissions(path, QFileDevice::Permissions());
}

// Gives the owner back what damage() took, once the row has read what it needs: read and write, and
// search too for a folder, or whoever runs the row could not remove what is inside it.
void undoDamage(const QString& path)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isSymLink())
        QFile::setPermissions(path, info.isDir() ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                 : QFile::ReadOwner | QFile::WriteOwner);
}

void addDamageRows(const QStringList& inputs)
{
    for (const QString& input : inputs)
        for (const char* kind : {"empty", "truncated", "random", "directory", "FIFO", "mode 000"})
            QTest::newRow(qPrintable(input + ", " + kind)) << input << QString(kind);
}

// Answers every colour dialog with one colour.
struct Chooser : ColorChooserHandler {
    Chooser() : before(colorchooser::setHandler(this)) {}
    ~Chooser() override { colorchooser::setHandler(before); }
    QColor choose(const ColorChooserRequest&) override { return QColor("#123456"); }
    ColorChooserHandler* before;
};

QByteArray macroHead(int slot, bool used, const QByteArray& name)
{
    const uint32_t word = uint32_t(slot & 0x3F) | (used ? 0x40u : 0u);
    QByteArray h(24, '\0');
    for (int i = 0; i < 4; ++i)
        h[i] = char(word >> (8 * i));
    return h.replace(8, qMin(name.size(), 16), name.left(16));
}

// A keyboard of 48 key function slots, none filled from the samples.
sim::KeyboardConfig fortyEightSlots()
{
    sim::KeyboardConfig config;
    config.keyFunctions = 48;
    config.sampleKeyFunctions = false;
    return config;
}
// Slots 0 to 2 hold functions 1 to 3 (the catalogue's); the application folder holds the sample model's
// files, this catalogue and the given shortcuts.xml.
bool firstSlotsHoldFunctions(KeyboardFixture& kb, ReaderAppDir& app, const QByteArray& shortcuts)
{
    kb.kb->edit([](sim::FirmwareState& s) {
        for (int i = 0; i < int(s.keyFunctions.size()); ++i) {
            const int word = i < 3 ? i | 0x40 | (i + 1) << 7 : i;
            s.keyFunctions[size_t(i)][0] = char(word & 0xFF);
            s.keyFunctions[size_t(i)][1] = char(word >> 8);
        }
    });
    return app.copyFiles(QFINDTESTDATA("../appdir/config"), "config")
           && app.copyFiles(QFINDTESTDATA("../appdir/images"), "images") && app.put("config/kf_test.xml", Catalogue)
           && app.put("kb/shortcuts.xml", shortcuts);
}

} // namespace

class DamagedFilesTest : public QObject {
    Q_OBJECT
    MessageBoxRecorder m_boxes;

    // Boxes shown once the event loop has run the notices queued so far.
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
        logrecorder::start();
    }
    void cleanup()
    {
        logrecorder::stop();
        sim::reset();
    }

    // A damaged shortcuts.xml is kept as .bad and left as it is; a damaged catalogue or static key file
    // leaves shortcuts.xml as it is, and the first save the user makes keeps it as .bad before replacing
    // it. Either way the user is told once, naming the file, and the log names it. An empty
    // shortcuts.xml holds nothing: the page writes its rows as for a new keyboard. None of it waits on
    // a FIFO.
    void shortcutsSurviveDamagedInputs_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("kind");
        QTest::newRow("nothing damaged") << QString() << QString();
        addDamageRows({"shortcuts", "catalogue", "static keys"});
    }
    void shortcutsSurviveDamagedInputs()
    {
        QFETCH(QString, input);
        QFETCH(QString, kind);
        ReaderAppDir app;
        KeyboardFixture kb(fortyEightSlots());
        const QString shortcuts = app.filePath("kb/shortcuts.xml");
        QVERIFY(firstSlotsHoldFunctions(kb, app, UserShortcuts));
        const QString damaged = input == "shortcuts"   ? shortcuts
                                : input == "catalogue" ? app.filePath("config/kf_test.xml")
                                                       : app.filePath("config/staticWin.xml");
        QByteArray bytes;
        if (kind == "mode 000" && ::geteuid() == 0)
            QSKIP("root reads a file of mode 000 anyway");
        if (!input.isEmpty())
            QVERIFY(damage(kind, damaged, readFile(damaged), &bytes));
        const QByteArray before = snapshot(shortcuts);
        QVERIFY(kb.open() && kb.loadNow());

        QVector<KeyBtn*> statics, picture;
        Shortcuts page(nullptr, &statics);
        QElapsedTimer clock;
        clock.start();
        page.load("kf_test.xml", shortcuts, &picture, kb.device);
        // It ends: nothing waits on a FIFO for a writer that never comes.
        QVERIFY2(clock.elapsed() < timescale::ms(20000), qPrintable(QString::number(clock.elapsed())));
        QTRY_VERIFY_WITH_TIMEOUT(page.initFinished(), timescale::ms(10000));
        QCOMPARE(page.rows().size(), 3);
        const QList<MessageBoxRequest> boxes = boxesShown();
        undoDamage(damaged);

        const bool nothingToLose = input.isEmpty() || (input == "shortcuts" && kind == "empty");
        if (nothingToLose) {
            // Written at load: the texts that were there came back into the rows and went out again.
            QVERIFY(boxes.isEmpty());
            QVERIFY(readFile(shortcuts).contains(input.isEmpty() ? "https://tessark.example.org/mine" : "<shortcuts"));
            QVERIFY(!QFile::exists(shortcuts + ".bad"));
            return;
        }
        QCOMPARE(snapshot(shortcuts), before);
        QVERIFY2(logNames(damaged), qPrintable(logrecorder::lines().join('\n')));
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].text.contains(QFileInfo(damaged).fileName()), qPrintable(boxes[0].text));
        if (input == "shortcuts") {
            // The copy exists only of a regular file with something in it that can be read.
            QCOMPARE(readFile(shortcuts + ".bad"), bytes.isEmpty() || kind == "mode 000" ? QByteArray() : bytes);
            return;
        }
        // The user's next save replaces the file, and keeps it as it was first, naming the copy.
        page.requestSaveSlot();
        QCOMPARE(readFile(shortcuts + ".bad"), UserShortcuts);
        const QList<MessageBoxRequest> afterSave = boxesShown();
        QCOMPARE(afterSave.size(), 2);
        QVERIFY2(afterSave[1].text.contains(shortcuts + ".bad"), qPrintable(afterSave[1].text));
        QVERIFY(readFile(shortcuts).startsWith("<?xml"));
        page.requestSaveSlot(); // kept once: the copy stays the user's file
        QCOMPARE(readFile(shortcuts + ".bad"), UserShortcuts);
    }

    // Each number of shortcuts.xml has one range, the check's and the readers': a value just outside it
    // or a word is damage (kept as .bad, told once, the file left as it is), the values at its ends
    // read and the texts come back. A text on an entry whose slot or function is -1 belongs to no row.
    void numberOutsideItsRangeIsDamage_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<bool>("damaged");
        // item0 holds the address of slot 0, item3 and item4 the file's other numbers.
        const struct {
            const char* attribute; // with the value it has in the file, which names it once
            const char* lowest;
            const char* highest;
        } numbers[] = {{" id=\"9\"", "-1", "63"},
                       {"hi=\"4\"", "-1", "2147483647"},
                       {"hitype=\"1\"", "-1", "2147483647"},
                       {"index=\"1\"", "0", "2147483647"},
                       {"number=\"1\"", "-1", "2147483647"}};
        for (const auto& n : numbers) {
            const QByteArray from(n.attribute);
            const QByteArray name = from.left(from.indexOf('=') + 1);
            const auto set = [&name](const QByteArray& v) { return name + '"' + v + '"'; };
            const QByteArray below = QByteArray::number(QByteArray(n.lowest).toLongLong() - 1);
            const QByteArray above = QByteArray::number(QByteArray(n.highest).toLongLong() + 1);
            QTest::newRow(name.trimmed() + below) << from << set(below) << true;
            QTest::newRow(name.trimmed() + above) << from << set(above) << true;
            QTest::newRow(name.trimmed() + "a word") << from << set("one") << true;
            QTest::newRow(name.trimmed() + n.lowest) << from << set(n.lowest) << false;
            QTest::newRow(name.trimmed() + n.highest) << from << set(n.highest) << false;
        }
        QTest::newRow("address with hi -1") << QByteArray("hi=\"1\"") << QByteArray("hi=\"-1\"") << true;
        QTest::newRow("address with hi 4294967297") << QByteArray("hi=\"1\"") << QByteArray("hi=\"4294967297\"") << true;
        QTest::newRow("address with id 4294967296") << QByteArray(" id=\"0\"") << QByteArray(" id=\"4294967296\"")
                                                    << true;
        QTest::newRow("address with id -1") << QByteArray(" id=\"0\"") << QByteArray(" id=\"-1\"") << true;
    }
    void numberOutsideItsRangeIsDamage()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(bool, damaged);
        const QByteArray others =
            "    <item3 id=\"9\" btn0=\" \" btn1=\" \" btn2=\" \" btn3=\" \" hi=\"4\" hitype=\"4\"><LEDBrightness index=\"1\"/></item3>\n"
            "    <item4 id=\"10\" btn0=\" \" btn1=\" \" btn2=\" \" btn3=\" \" hi=\"8\" hitype=\"7\"><Macro menuid=\"M\" number=\"1\"/></item4>\n";
        QByteArray bytes = QByteArray(UserShortcuts).replace("</shortcuts>", others + "</shortcuts>");
        QCOMPARE(bytes.count(from), 1);
        bytes.replace(from, to);
        ReaderAppDir app;
        KeyboardFixture kb(fortyEightSlots());
        const QString shortcuts = app.filePath("kb/shortcuts.xml");
        QVERIFY(firstSlotsHoldFunctions(kb, app, bytes));
        QVERIFY(kb.open() && kb.loadNow());
        QVector<KeyBtn*> statics, picture;
        Shortcuts page(nullptr, &statics);
        page.load("kf_test.xml", shortcuts, &picture, kb.device);
        QTRY_VERIFY_WITH_TIMEOUT(page.initFinished(), timescale::ms(10000));
        const QList<MessageBoxRequest> boxes = boxesShown();
        if (damaged) {
            QCOMPARE(readFile(shortcuts), bytes);
            QCOMPARE(readFile(shortcuts + ".bad"), bytes);
            QCOMPARE(boxes.size(), 1);
            QVERIFY2(boxes[0].text.contains("shortcuts.xml"), qPrintable(boxes[0].text));
            // Nor does the texts' reader take what the check refused: a refused address goes to no slot.
            STCTS function0{0, 0, 0, QString()}, function1{0, 1, 1, QString()};
            QVector<STCTS*> records{&function0, &function1};
            Data::parseShortcutsXML(shortcuts, &records);
            QVERIFY(function0.str.isEmpty());
            const bool addressRefused = from == "hi=\"1\"" || from == " id=\"0\"";
            QCOMPARE(function1.str.isEmpty(), addressRefused);
            return;
        }
        // Read whole: the load wrote the rows back with every text.
        QVERIFY(boxes.isEmpty());
        QVERIFY(!QFile::exists(shortcuts + ".bad"));
        for (const char* text : {"https://tessark.example.org/mine", "/home/user/notes.txt", "/home/user/projects"})
            QVERIFY2(readFile(shortcuts).contains(text), readFile(shortcuts).constData());
    }

    // A damaged colour file keeps every colour that still reads, and the user is told it did not read;
    // the first colour edit keeps the file as .bad before writing all colours back. A folder in its place
    // cannot be replaced, and one that cannot be read cannot be kept: it stays, and the user is told.
    void colourFileSurvivesDamage_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("kind");
        addDamageRows({"colours"});
    }
    void colourFileSurvivesDamage()
    {
        QFETCH(QString, kind);
        TempAppDir app;
        setAppDirPathForTest(app.path());
        const QString file = app.filePath("config/customcolor/color_btn_32.json");
        const QByteArray shipped = readFile(QFINDTESTDATA("../appdir/config/customcolor/color_btn_32.json"));
        QByteArray bytes;
        if (kind == "mode 000" && ::geteuid() == 0)
            QSKIP("root reads a file of mode 000 anyway");
        QVERIFY(damage(kind, file, shipped, &bytes));
        {
            Chooser chooser;
            QElapsedTimer clock;
            clock.start();
            Palette palette(nullptr);
            QVERIFY2(clock.elapsed() < timescale::ms(20000), qPrintable(QString::number(clock.elapsed()))); // it ends
            QPushButton* last = palette.findChild<QPushButton*>("customColor_37");
            emit last->pressed();
            emit last->pressed(); // a double press: the dialog, then the write
        }
        const QList<MessageBoxRequest> boxes = boxesShown();
        undoDamage(file);
        setAppDirPathForTest(QString());
        QVERIFY2(logNames(file), qPrintable(logrecorder::lines().join('\n')));
        if (kind == "directory" || kind == "mode 000") {
            // Not replaceable, or not readable so no copy of it can be kept: it stays as it is.
            QCOMPARE(snapshot(file), kind == "directory" ? QByteArray("directory") : "file:" + bytes);
            QCOMPARE(boxes.size(), 1);
            QVERIFY(boxes[0].text.contains("color_btn_32.json"));
            return;
        }
        if (kind == "FIFO")
            return; // no user data in it: replaced or not, nothing is lost
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].text.contains("color_btn_32.json"), qPrintable(boxes[0].text));
        QCOMPARE(readFile(file + ".bad"), bytes.isEmpty() || bytes == shipped ? QByteArray() : bytes);
        // Every colour of the damaged file that was whole is in the new one.
        const QByteArray written = readFile(file);
        QVERIFY(written.contains("\"customColor_37\": \"#123456\""));
        const QRegularExpression pair("\"customColor_(\\d+)\": \"(#[0-9a-f]{6})\"");
        for (auto it = pair.globalMatch(QString::fromLatin1(bytes)); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            if (m.captured(1) != "37")
                QVERIFY2(written.contains(m.captured(0).toLatin1()), qPrintable(m.captured(0)));
        }
    }

    // A new macro never takes the name of an item file on disk, whatever that file holds: the file
    // stays as it was.
    void newMacroLeavesItemFilesAlone_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("kind");
        QTest::newRow("a macro of the user") << "item" << "intact";
        addDamageRows({"item"});
    }
    void newMacroLeavesItemFilesAlone()
    {
        QFETCH(QString, kind);
        ReaderAppDir app;
        sim::KeyboardConfig config;
        config.macros = 16;
        config.sampleKeyFunctions = false;
        KeyboardFixture kb(config);
        kb.kb->edit([](sim::FirmwareState& s) {
            for (size_t i = 0; i < s.macroHeads.size(); ++i)
                s.macroHeads[i] = macroHead(int(i), i == 0, i == 0 ? "first" : "");
        });
        QVERIFY(kb.open() && kb.loadNow());
        // The name a new macro in slot 1 gets by default, and the one after it.
        const QString taken = app.filePath("dev/item/Macro1.xml");
        QVERIFY(app.put("dev/item/Macro0.xml", "<MACRO><ITEM id=\"5\"/></MACRO>"));
        const QByteArray users = "<MACRO><ITEM id=\"1\"><KEY0 status=\"1\" code=\"4\" type=\"1\" stype=\"0\" delay=\"1\"/>"
                                 "</ITEM></MACRO>";
        QByteArray bytes;
        if (kind == "mode 000" && ::geteuid() == 0)
            QSKIP("root reads a file of mode 000 anyway");
        if (kind == "intact")
            QVERIFY(app.put("dev/item/Macro1.xml", users));
        else
            QVERIFY(damage(kind, taken, users, &bytes));
        const QByteArray before = snapshot(taken), other = snapshot(app.filePath("dev/item/Macro0.xml"));

        Macro page(nullptr, 0);
        page.setDevice(app.filePath("dev/"), kb.device);
        QTRY_VERIFY_WITH_TIMEOUT(page.isListReady(), timescale::ms(10000));
        page.addItemSlot();
        MacroItem* added = page.items().last();
        QVERIFY2(added->name() != "Macro1" && added->name() != "Macro0", qPrintable(added->name()));
        QVERIFY(page.saveMacroItem(added));
        undoDamage(taken);
        QCOMPARE(snapshot(taken), before);
        QCOMPARE(snapshot(app.filePath("dev/item/Macro0.xml")), other);
        QVERIFY(QFile::exists(app.filePath("dev/item/" + added->name() + ".xml")));
    }

    // Every reader goes through the file guard: a file that is there and does not open is logged with
    // its path and the reason, not taken silently for a missing one.
    void unopenableFileIsLoggedWithItsReason()
    {
        if (::geteuid() == 0)
            QSKIP("root opens a file of mode 000 anyway");
        TempAppDir app;
        const QString path = app.filePath("config/locked.xml");
        QVERIFY(app.write("config/locked.xml", "<COMMAND/>")
                && QFile::setPermissions(path, QFileDevice::Permissions()));
        QByteArray content;
        QCOMPARE(FileGuard::readFile(path, &content), FileGuard::Result::Unreadable);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(logrecorder::lines(), QStringList("File refused: \"" + path + "\": Permission denied"));
    }
};

QTEST_MAIN(DamagedFilesTest)
#include "test_damagedfiles.moc"
