// The main window's keyboard picture and static key palette against emulated keyboards: geometry,
// key assignment on the wire, layout versions, key colours and table bounds.
#include "keyboardfixture.h"
#include "tempappdir.h"
#include "wire.h"

#include "main/tessark.h"
#include "widget/keybtn.h"
#include "widget/qss.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

// A board whose name fills all 16 bytes of the device information (no terminating zero), drawn
// at 50 pixels per unit with a record x that must not matter. Four keys, the keyboard has three.
const char GeometryBoard[] = "Geometry Board16";
const QByteArray GeometryRecord =
    "        <board name=\"Geometry Board16\" file=\"geometry.json\" kf=\"kf_tk87.xml\" fw=\"1.00\" x=\"300\""
    " y=\"0\" w=\"50\" h=\"50\" key=\"1\" color=\"1\" shortcuts=\"1\" macro=\"1\" setting=\"1\"/>\n";
// A (0,0); B 2 wide with x2 0.5 at (1,0); C (0,1.25); D (1,1.25).
const QByteArray GeometryLayout = R"([["A", {"w": 2, "x2": 0.5}, "B"], [{"y": 0.25}, "C", "D"]])";

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

KeyBtn* paletteKey(const QVector<KeyBtn*>& palette, uint16_t type, uint16_t stype, uint16_t code)
{
    for (KeyBtn* k : palette)
        if (k->type == type && k->stype == stype && k->code == code)
            return k;
    return nullptr;
}

} // namespace

class KeyboardPicture : public QObject {
    Q_OBJECT
    QTemporaryDir m_xdg;
    TempAppDir m_app;
    std::unique_ptr<Tessark> w;
    std::unique_ptr<KeyboardFixture> f;

    // Plugs and loads a keyboard the window's own scan ignores (another pid), hands it to the
    // window and draws its picture.
    Device* load(sim::KeyboardConfig board)
    {
        board.pid = 0x40FF;
        f.reset(new KeyboardFixture(board));
        if (!f->open())
            return nullptr;
        bool finished = false;
        connect(f->device, &Device::emitFinishLoad, this, [&finished] { finished = true; });
        f->device->loadDevInfoSlot();
        if (!finished)
            return nullptr;
        w->setLoadedDeviceForTest(f->device);
        w->createDynamicKeybtn();
        f->kb->clearLog();
        return f->device;
    }
    int sentSinceLoad() const
    {
        int n = 0;
        for (const sim::LogEntry& e : f->kb->log())
            n += e.direction == sim::LogEntry::ToDevice;
        return n;
    }
    QList<QByteArray> setKCReports() const { return sentReports(f->kb, 0x20, 0x11); }

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", m_xdg.filePath("config").toUtf8());
        qputenv("XDG_RUNTIME_DIR", m_xdg.filePath("run").toUtf8());
        QDir().mkpath(m_xdg.filePath("run"));
        const QString sample = QFINDTESTDATA("../appdir/config");
        for (const QString& name : QDir(sample).entryList(QDir::Files))
            QVERIFY(m_app.write("config/" + name, readAll(sample + "/" + name)));
        QByteArray config = readAll(sample + "/config.xml");
        config.replace("    </board_type>", GeometryRecord + "    </board_type>");
        QVERIFY(m_app.write("config/config.xml", config));
        QVERIFY(m_app.write("config/geometry.json", GeometryLayout));
        setAppDirPathForTest(m_app.path());
        w.reset(new Tessark(nullptr, QStringLiteral("None")));
        QVERIFY(!w->staticKeyBtns().isEmpty());
    }

    void cleanup()
    {
        w->deleteDynamicKeybtn();
        w->setLoadedDeviceForTest(nullptr);
        f.reset();
        sim::reset();
        w->layoutVersionWinSlot();
    }

    void cleanupTestCase() { w.reset(); }

    // Truncation, the gap, x2, the centring that ignores the record's x, and a 16-byte name.
    void pictureGeometry()
    {
        sim::KeyboardConfig board = sim::fullSizeDual();
        board.boardName = GeometryBoard;
        board.keys = board.colourKeys = board.lightingBytes = 3;
        board.keyCodes = board.keyCodes.mid(0, 3);
        QVERIFY(load(board));
        const QVector<KeyBtn*>& keys = w->dynamicKeyBtns();
        QCOMPARE(keys.size(), 4);
        QCOMPARE(keys[0]->geometry(), QRect(0, 0, 48, 48));
        // 50 + 0.5*50; (100 - 2) - 25, and the L-shaped key's own extra pixel (KeyBtn::layoutShape).
        QCOMPARE(keys[1]->geometry(), QRect(75, 0, 73 + 1, 48));
        QCOMPARE(keys[2]->geometry(), QRect(0, 62, 48, 48));
        for (int i = 0; i < keys.size(); ++i) {
            QCOMPARE(keys[i]->keyIndex(), i);
            QVERIFY(!keys[i]->toolTipEnabled);
        }
        // right 3, bottom 2.25: 150 x 112, centred in the 980-pixel window, at the record's y 0.
        QCOMPARE(w->form()->dynamicLayout->geometry(), QRect(490 - 75, 0, 150, 112));
        QCOMPARE(w->dynamicBottom(), 0 + 111 + 9);
        QVERIFY(!w->disconnectedPicture());

        // Building again without a close leaves the picture as it is.
        KeyBtn* first = keys[0];
        w->createDynamicKeybtn();
        QCOMPARE(w->dynamicKeyBtns().size(), 4);
        QCOMPARE(w->dynamicKeyBtns()[0], first);
    }

    // The fourth picture key has no entry in the keyboard's three-key tables.
    void indexesStayInsideTheTables()
    {
        sim::KeyboardConfig board = sim::fullSizeDual();
        board.boardName = GeometryBoard;
        board.keys = board.colourKeys = board.lightingBytes = 3;
        board.keyCodes = board.keyCodes.mid(0, 3);
        QVERIFY(load(board));
        const QVector<KeyBtn*> keys = w->dynamicKeyBtns();
        KeyBtn* extra = keys[3];
        QCOMPARE(extra->name(), QStringLiteral(" "));

        w->clickKeyBtnSlot(extra);
        w->keyCodeSlot(w->staticKeyBtns()[1]);
        QCOMPARE(extra->code, uint16_t(0));
        QCOMPARE(sentSinceLoad(), 0);

        QVERIFY(!w->setKeyColor(-1, Qt::red));
        QVERIFY(!w->setKeyColor(keys.size() + 1, Qt::red));
        QVERIFY(w->setKeyColor(keys.size(), Qt::red)); // no key has that index: nothing changes
        QVERIFY(!w->setKeyMode(0, -1));
        QVERIFY(w->setKeyMode(3, 7)); // the key shows it; the keyboard has no byte for it
        QCOMPARE(extra->macroIndex, 7);
        QCOMPARE(sentSinceLoad(), 0);
        w->applyDeviceKeyValues(1);
        QCOMPARE(extra->macroIndex, 7);
        QCOMPARE(keys[2]->macroIndex, int(f->device->m_pLMMs[2]));
    }

    // Type and sub-type packing, the kept lock flag and fourth byte, the lock toggle, a refusal.
    void assignmentWritesOneEntry()
    {
        Device* d = load(sim::fullSizeDual());
        QVERIFY(d);
        KeyBtn* target = w->dynamicKeyBtns()[5];
        uint8_t* entry = d->m_pKCs.data() + 5 * 4;
        entry[0] |= 1;
        entry[3] = 0x5A;

        // Nothing selected: nothing sent.
        KeyBtn media;
        media.type = 2;
        media.stype = 0x1F;
        media.code = 0x1234;
        media.setName(QStringLiteral("Media"));
        w->keyCodeSlot(&media);
        QCOMPARE(sentSinceLoad(), 0);

        w->clickKeyBtnSlot(target);
        QVERIFY(!target->isNormalState());
        w->keyCodeSlot(&media);
        QCOMPARE(setKCReports().size(), 1);
        const QByteArray sent = setKCReports().last();
        QCOMPARE(sent.mid(2, 2), QByteArray("\x08\x00", 2));
        QByteArray expected("\x00\x05\x05\x00\xF5\x34\x12\x5A", 8); // map, first, last, 0, entry
        expected[0] = char(d->m_curkcm);
        QCOMPARE(sent.mid(8, 8), expected);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(entry), 4), QByteArray("\xF5\x34\x12\x5A", 4));
        QCOMPARE(target->type, uint16_t(2));
        QCOMPARE(target->stype, uint16_t(0xF));
        QCOMPARE(target->code, uint16_t(0x1234));
        QCOMPARE(target->name(), QStringLiteral("Media"));
        QVERIFY(target->locked);

        KeyBtn* lock = paletteKey(w->staticKeyBtns(), 0, 0, 0xF0);
        QVERIFY(lock);
        w->keyCodeSlot(lock);
        w->keyCodeSlot(lock);
        QCOMPARE(setKCReports().size(), 3);
        QCOMPARE(uint8_t(setKCReports()[1][12]), uint8_t(0xF4));
        QCOMPARE(uint8_t(setKCReports()[2][12]), uint8_t(0xF5));
        QCOMPARE(setKCReports()[1].mid(13, 3), QByteArray("\x34\x12\x5A", 3));
        QCOMPARE(setKCReports()[2].mid(13, 3), QByteArray("\x34\x12\x5A", 3));
        QCOMPARE(target->name(), QStringLiteral("Media"));
        QVERIFY(target->locked);

        // A refusal leaves the picture key and the table as they were.
        f->kb->answerStatus(0x20, 0x11, 1, 1);
        KeyBtn* a = paletteKey(w->staticKeyBtns(), 1, 0, 0x04);
        QVERIFY(a);
        w->keyCodeSlot(a);
        QCOMPARE(setKCReports().size(), 4);
        QCOMPARE(target->code, uint16_t(0x1234));
        QCOMPARE(target->name(), QStringLiteral("Media"));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(entry), 4), QByteArray("\xF5\x34\x12\x5A", 4));

        // The selection stays: the next press reassigns the same key.
        w->keyCodeSlot(a);
        QCOMPARE(target->code, uint16_t(0x04));
        QCOMPARE(target->name(), a->name());
        w->unsetCursorKeySlot();
        QVERIFY(target->isNormalState());
        QVERIFY(!w->selectedKeyBtn());
    }

    // Windows (and automatic) and Mac legends come from their own files; the picture follows.
    void layoutVersionSwitchesThePalette()
    {
        QVERIFY(load(sim::fullSizeDual()));
        const QVector<KeyBtn*>& palette = w->staticKeyBtns();
        // PrtSc on Windows is F13 on the Mac (same code).
        KeyBtn* printScreen = nullptr;
        for (KeyBtn* k : palette)
            if (k->name() == QLatin1String("PrtSc"))
                printScreen = k;
        QVERIFY(printScreen);
        KeyBtn* shown = nullptr;
        for (KeyBtn* k : w->dynamicKeyBtns())
            if (k->code == printScreen->code && k->type == printScreen->type)
                shown = k;
        QVERIFY(shown);
        QCOMPARE(shown->name(), QStringLiteral("PrtSc"));

        w->layoutVersionMacSlot();
        QCOMPARE(printScreen->name(), QStringLiteral("F13"));
        QCOMPARE(shown->name(), QStringLiteral("F13"));
        w->layoutVersionAutoSlot();
        QCOMPARE(printScreen->name(), QStringLiteral("PrtSc"));
        QCOMPARE(shown->name(), QStringLiteral("PrtSc"));
    }

    // With colour maps the keys take the keyboard's colours; the wired model has none.
    void keyColours()
    {
        Device* d = load(sim::fullSizeDual());
        QVERIFY(d);
        for (int i : {0, 50, 103})
            QCOMPARE(w->dynamicKeyBtns()[i]->color, d->keyColor(i));
        cleanup();

        QVERIFY(load(sim::tenkeylessWired()));
        QCOMPARE(w->dynamicKeyBtns().size(), 87);
        for (const KeyBtn* k : w->dynamicKeyBtns())
            QCOMPARE(k->color, QColor(QStringLiteral("#f5f5f5")));
    }
};

QTEST_MAIN(KeyboardPicture)
#include "test_keyboardpicture.moc"
