// The main window's keyboard picture and static key palette against emulated keyboards: geometry,
// key assignment on the wire, layout versions, key colours and table bounds.
#include "tempappdir.h"
#include "windowkeyboard.h"
#include "wire.h"

#include "main/tessark.h"
#include "widget/keybtn.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <memory>

namespace {

// A board whose name fills all 16 bytes of the device information (no terminating zero), drawn
// at 50 pixels per unit with a record x that must not matter. Four keys, the keyboard has three.
const QByteArray GeometryRecord =
    "        <board name=\"Geometry Board16\" file=\"geometry.json\" kf=\"kf_tk87.xml\" fw=\"1.00\" x=\"300\""
    " y=\"0\" w=\"50\" h=\"50\" key=\"1\" color=\"1\" shortcuts=\"1\" macro=\"1\" setting=\"1\"/>\n";
// A (0,0); B 2 wide with x2 0.5 at (1,0), L-shaped; C (0,1.25); D (1,1.25).
const QByteArray GeometryLayout = R"([["A", {"w": 2, "x2": 0.5}, "B"], [{"y": 0.25}, "C", "D"]])";

template <typename Pred> KeyBtn* findKey(const QVector<KeyBtn*>& keys, Pred pred)
{
    const auto it = std::find_if(keys.begin(), keys.end(), pred);
    return it == keys.end() ? nullptr : *it;
}

} // namespace

class KeyboardPicture : public QObject {
    Q_OBJECT
    TempAppDir m_app;
    std::unique_ptr<Tessark> w;
    std::unique_ptr<KeyboardFixture> f;

    Device* load(sim::KeyboardConfig board) { return handKeyboardToWindow(*w, f, std::move(board)); }
    bool nothingSent() const { return sentCount(f->kb) == 0; }

private slots:
    void initTestCase()
    {
        const QString sample = QFINDTESTDATA("../appdir");
        QVERIFY(m_app.setUpForWindow(sample));
        QByteArray config = readFile(sample + "/config/config.xml");
        config.replace("    </board_type>", GeometryRecord + "    </board_type>");
        QVERIFY(m_app.write("config/config.xml", config));
        QVERIFY(m_app.write("config/geometry.json", GeometryLayout));
        w.reset(new Tessark(nullptr, QStringLiteral("None")));
    }

    void cleanup()
    {
        w->deleteDynamicKeybtn();
        WindowTestAccess::setLoadedDevice(*w, nullptr);
        f.reset();
        sim::reset();
        w->layoutVersionWinSlot();
    }

    void cleanupTestCase() { w.reset(); }

    // A layout longer than the keyboard's tables (four keys, three entries) whose 16-byte name still
    // finds its record: truncation, the gap, x2, centring that ignores the record's x; the extra
    // key gets no code and nothing reaches the keyboard.
    void longerLayoutDrawsEveryKeyButWritesOnlyTheTables()
    {
        sim::KeyboardConfig board = sim::fullSizeDual();
        board.boardName = "Geometry Board16";
        board.keys = board.colourKeys = board.lightingBytes = 3;
        board.keyCodes = board.keyCodes.mid(0, 3);
        QVERIFY(load(board));
        const QVector<KeyBtn*> keys = w->dynamicKeyBtns();
        QCOMPARE(keys.size(), 4);
        // B: 50 + 0.5*50; (100 - 2) - 25, and the L-shaped key's own extra pixel (KeyBtn::layoutShape).
        const QRect drawn[] = {{0, 0, 48, 48}, {75, 0, 73 + 1, 48}, {0, 62, 48, 48}, {50, 62, 48, 48}};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(keys[i]->geometry(), drawn[i]);
            QVERIFY(!keys[i]->toolTipEnabled);
        }
        // right 3, bottom 2.25: 150 x 112, centred in the 980-pixel window, at the record's y 0.
        QCOMPARE(w->form()->dynamicLayout->geometry(), QRect(490 - 75, 0, 150, 112));

        w->createDynamicKeybtn(); // building again without a close leaves the picture as it is
        QCOMPARE(w->dynamicKeyBtns(), keys);

        w->clickKeyBtnSlot(keys[3]);
        w->keyCodeSlot(w->staticKeyBtns()[1]);
        QCOMPARE(keys[3]->code, uint16_t(0));

        QVERIFY(!w->setKeyColor(-1, Qt::red) && !w->setKeyColor(keys.size() + 1, Qt::red));
        QVERIFY(w->setKeyMode(3, 7)); // the keyboard has no byte for it: the key keeps what it had
        QVERIFY(nothingSent());
        w->applyDeviceKeyValues(1);
        QCOMPARE(keys[3]->macroIndex, -1);
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
        KeyBtn media;
        media.type = 2;
        media.stype = 0x1F; // only the low four bits fit
        media.code = 0x1234;
        media.setName(QStringLiteral("Media"));
        KeyBtn* lock = findKey(w->staticKeyBtns(), [](KeyBtn* k) { return !k->type && !k->stype && k->code == 0xF0; });
        QVERIFY(lock);

        w->keyCodeSlot(&media); // nothing selected: nothing sent
        QVERIFY(nothingSent());
        w->clickKeyBtnSlot(target);
        // Media, then the lock toggled off and on: one report each; the code and fourth byte stay.
        for (const auto& step : {std::make_pair(&media, '\xF5'), {lock, '\xF4'}, {lock, '\xF5'}}) {
            w->keyCodeSlot(step.first);
            const QByteArray sent = sentReports(f->kb, 0x20, 0x11).last();
            const QByteArray packed = step.second + QByteArray("\x34\x12\x5A", 3);
            QCOMPARE(sent.mid(2, 2), QByteArray("\x08\x00", 2)); // length
            QCOMPARE(sent.mid(8, 8), char(d->m_curkcm) + QByteArray("\x05\x05\x00", 3) + packed); // map, i, i, 0
            QCOMPARE(bytes(entry, 4), packed);
        }
        QCOMPARE(sentReports(f->kb, 0x20, 0x11).size(), 3);

        // The picture key took the media key; a refusal then leaves it and the table as they were.
        f->kb->answerStatus(0x20, 0x11, 1, 1);
        w->keyCodeSlot(findKey(w->staticKeyBtns(), [](KeyBtn* k) { return k->type == 1 && k->code == 0x04; }));
        QCOMPARE(sentReports(f->kb, 0x20, 0x11).size(), 4);
        QCOMPARE(target->code, uint16_t(0x1234));
        QCOMPARE(target->name(), QStringLiteral("Media"));
        QCOMPARE(bytes(entry, 4), QByteArray("\xF5\x34\x12\x5A", 4));
    }

    // Windows (and automatic) and Mac legends come from their own files; the picture follows.
    void layoutVersionSwitchesThePalette()
    {
        QVERIFY(load(sim::fullSizeDual()));
        // PrtSc on Windows is F13 on the Mac (same code).
        KeyBtn* printScreen = findKey(w->staticKeyBtns(), [](KeyBtn* k) { return k->name() == "PrtSc"; });
        QVERIFY(printScreen);
        KeyBtn* shown = findKey(w->dynamicKeyBtns(),
                                [=](KeyBtn* k) { return k->code == printScreen->code && k->type == printScreen->type; });
        QVERIFY(shown);
        using Slot = void (Tessark::*)();
        for (const auto& [slot, name] : {std::make_pair<Slot, QString>(&Tessark::layoutVersionMacSlot, "F13"),
                                         {&Tessark::layoutVersionAutoSlot, "PrtSc"},
                                         {&Tessark::layoutVersionMacSlot, "F13"},
                                         {&Tessark::layoutVersionWinSlot, "PrtSc"}}) {
            (w.get()->*slot)();
            QCOMPARE(printScreen->name(), name);
            QCOMPARE(shown->name(), name);
        }
    }

    // With colour maps the keys take the keyboard's colours; the wired model has none.
    void keyColoursComeFromTheKeyboard()
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
