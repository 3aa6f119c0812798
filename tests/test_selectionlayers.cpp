// The key-map, colour-map and mode layers of the main window against emulated keyboards: the
// buttons, what a press sends, and a current map the keyboard counts past its maps.
#include "keyboardfixture.h"
#include "tempappdir.h"
#include "windowkeyboard.h"
#include "wire.h"

#include "color/color.h"
#include "color/mode.h"
#include "color/palette.h"
#include "main/tessark.h"
#include "setting/setting.h"
#include "shortcut/shortcuts.h"
#include "widget/keybtn.h"
#include "widget/tablabel.h"

#include <QDir>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <functional>
#include <memory>

namespace {

bool pressedLook(const QPushButton* b)
{
    return b->styleSheet().contains(QLatin1String("globule-pressed.svg"));
}

int pressedCount(const QVector<QPushButton*>& row)
{
    return int(std::count_if(row.begin(), row.end(), pressedLook));
}

} // namespace

class SelectionLayers : public QObject {
    Q_OBJECT
    TempAppDir m_app;
    std::unique_ptr<Tessark> w;
    std::unique_ptr<KeyboardFixture> f;

    Device* load(sim::KeyboardConfig board, const std::function<void(sim::FirmwareState&)>& change = {})
    {
        return handKeyboardToWindow(*w, f, std::move(board), change);
    }
    // Group and command of every report sent since the load.
    QList<QPair<int, int>> sent() const
    {
        QList<QPair<int, int>> out;
        for (const sim::LogEntry& e : f->kb->log()) {
            if (e.direction == sim::LogEntry::ToDevice && e.report.size() >= 2)
                out << qMakePair(int(uint8_t(e.report[0])), int(uint8_t(e.report[1])));
        }
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_app.setUpForWindow(QFINDTESTDATA("../appdir")));
        w.reset(new Tessark(nullptr, QStringLiteral("None")));
    }

    void cleanup()
    {
        w->deleteGlobuleKeyLayer();
        w->deleteGlobuleColorLayer();
        w->deleteGlobuleModeLayer();
        w->deleteDynamicKeybtn();
        WindowTestAccess::setLoadedDevice(*w, nullptr);
        f.reset();
        sim::reset();
    }

    void cleanupTestCase() { w.reset(); }

    // A keyboard newer than the board records: no picture, so no key-map layer in its place at the
    // window's top; a click on each tab reaches the tab and opens its page. First, so that no picture
    // of another row was drawn in this window before.
    void unknownBoardLeavesEveryTabOpening_data()
    {
        QTest::addColumn<QString>("key"); // what the tab's click reports
        QTest::addColumn<bool>("knownFirst"); // a known keyboard's picture was drawn before
        QTest::newRow("key") << "staticLayout" << false;
        QTest::newRow("shortcuts") << "Shortcuts" << false;
        QTest::newRow("setting") << "Setting" << false;
        QTest::newRow("setting, after a known board") << "Setting" << true;
    }
    void unknownBoardLeavesEveryTabOpening()
    {
        QFETCH(QString, key);
        QFETCH(bool, knownFirst);
        if (knownFirst) {
            QVERIFY(load(sim::fullSizeDual()));
            QVERIFY(w->globuleKeyFrame());
            cleanup();
        }
        sim::KeyboardConfig board = sim::fullSizeDual();
        board.boardName = "TK999 Newer";
        QVERIFY(load(board));
        QVERIFY(w->dynamicKeyBtns().isEmpty());
        QVERIFY(!w->globuleKeyFrame()); // nothing to place it under
        w->show();
        w->labelPageClickSlot(QStringLiteral("staticLayout"));
        QVector<TabLabel*> tabs = w->tabList();
        tabs << w->macroTab();
        TabLabel* tab = nullptr;
        for (TabLabel* t : qAsConst(tabs)) {
            if (t->text2() == key)
                tab = t;
        }
        QVERIFY(tab && tab->isVisibleTo(w.get()));
        const QPoint centre = tab->mapTo(w.get(), tab->rect().center());
        QWidget* hit = w->childAt(centre);
        QVERIFY(hit == tab || tab->isAncestorOf(hit));
        QTest::mouseClick(hit, Qt::LeftButton, {}, hit->mapFrom(w.get(), centre));
        QWidget* page = key == "Setting"     ? static_cast<QWidget*>(w->settingPage())
                        : key == "Shortcuts" ? static_cast<QWidget*>(w->shortcutsPage())
                                             : nullptr;
        if (key != "staticLayout")
            QVERIFY(page && page->isVisibleTo(w.get()));
        w->labelPageClickSlot(QStringLiteral("staticLayout"));
        w->hide();
    }

    // Four key maps: "0" to "3" in a 350-pixel frame centred under the picture, map 0 pressed; a
    // press sends the map, then reads its key codes and redraws the legends.
    void keyMapLayerSelectsAndRedraws()
    {
        Device* d = load(sim::fullSizeDual(), [](sim::FirmwareState& s) {
            s.curKeyMap = 0;
            s.keyMaps[2].replace(0, 4, s.keyMaps[0].mid(4, 4)); // map 2: key 0 is key 1
        });
        QVERIFY(d);
        const QVector<QPushButton*> row = w->globuleKeys();
        QCOMPARE(row.size(), 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(row[i]->text(), QString::number(i));
            QCOMPARE(row[i]->size(), QSize(26, 26));
        }
        QVERIFY(pressedLook(row[0]));
        QCOMPARE(pressedCount(row), 1);
        QCOMPARE(w->globuleKeyFrame()->geometry(), QRect(w->width() / 2 - 175, w->dynamicBottom(), 350, 40));

        const QVector<KeyBtn*> keys = w->dynamicKeyBtns();
        const QString second = keys[1]->name();
        QVERIFY(keys[0]->name() != second);
        emit row[2]->pressed();
        const auto wire = sent();
        QVERIFY(!wire.isEmpty());
        QCOMPARE(wire.first(), qMakePair(0x20, 0x02));
        QCOMPARE(uint8_t(sentReports(f->kb, 0x20, 0x02).first()[8]), uint8_t(2));
        QVERIFY(wire.mid(1).contains(qMakePair(0x20, 0x10)));
        QCOMPARE(d->m_curkcm, uint8_t(2));
        QCOMPARE(keys[0]->name(), second);
        QVERIFY(pressedLook(row[2]));
        QCOMPARE(pressedCount(row), 1);
    }

    // The current colour map's and mode's buttons send nothing; another mode sends and fills in
    // the keys' mode numbers.
    void colourAndModeLayers()
    {
        Device* d = load(sim::fullSizeDual());
        QVERIFY(d);
        QCOMPARE(w->globuleColors().size(), int(d->m_nkrm));
        QCOMPARE(w->globuleModes().size(), int(d->m_nlmm));
        QVERIFY(w->globuleColorFrame()->isHidden() && w->globuleModeFrame()->isHidden());
        emit w->globuleColors()[d->m_curkrm]->pressed();
        emit w->globuleModes()[d->m_curlm]->pressed();
        QVERIFY(sent().isEmpty());

        const int other = d->m_curlm == 1 ? 2 : 1;
        emit w->globuleModes()[other]->pressed();
        const auto wire = sent();
        QVERIFY(!wire.isEmpty());
        QCOMPARE(wire.first(), qMakePair(0x60, 0x02));
        QVERIFY(wire.contains(qMakePair(0x60, 0x03)));
        QCOMPARE(int(d->m_curlm), other);
        QCOMPARE(pressedCount(w->globuleModes()), 1);
        QCOMPARE(w->dynamicKeyBtns()[3]->macroIndex, int(d->m_pLMMs[3]));
    }

    // The wired model has no colour maps and so no colour layer.
    void wiredModelHasNoColourLayer()
    {
        QVERIFY(load(sim::tenkeylessWired()));
        QVERIFY(w->globuleColors().isEmpty());
        QVERIFY(!w->globuleColorFrame());
        QCOMPARE(w->globuleKeys().size(), 4);
    }

    // Map 7 of 4, colour map 9 of 2 and mode 40 of 32 press no button; a table counted longer than it is read only
    // as far as it goes. Pressing a map then works as usual.
    void currentPastTheCountPressesNothing()
    {
        Device* d = load(sim::fullSizeDual(), [](sim::FirmwareState& s) {
            s.curKeyMap = 7;
            s.curColourMap = 9;
            s.curLightingMode = 40;
        });
        QVERIFY(d);
        QCOMPARE(int(d->m_curkcm), 7);
        QCOMPARE(w->globuleKeys().size(), 4);
        QCOMPARE(pressedCount(w->globuleKeys()), 0);
        QCOMPARE(w->globuleColors().size(), 2);
        QCOMPARE(pressedCount(w->globuleColors()), 0);
        QCOMPARE(pressedCount(w->globuleModes()), 0);

        d->m_nlm = 200; // more than the 104 bytes held
        w->onLMMChange();
        w->applyDeviceKeyValues(0);
        QCOMPARE(w->dynamicKeyBtns()[103]->macroIndex, int(d->m_pLMMs[103]));

        emit w->globuleKeys()[1]->pressed();
        QCOMPARE(sentReports(f->kb, 0x20, 0x02).size(), 1);
        QCOMPARE(pressedCount(w->globuleKeys()), 1);
        QVERIFY(pressedLook(w->globuleKeys()[1]));
    }
    // However many maps or modes the keyboard counts, every globule lies inside the window, clear
    // of the panel's own buttons, on top where it is pressed, and a press selects its number. Up to
    // a row's worth the layer keeps its one-row frame.
    void everyGlobuleInsideTheWindowAndPressable_data()
    {
        QTest::addColumn<int>("layer"); // 0 key maps, 1 colour maps, 2 lighting modes
        QTest::addColumn<int>("count");
        QTest::addColumn<QSize>("frame");
        QTest::newRow("4 modes") << 2 << 4 << QSize(4 * 36, 40);
        QTest::newRow("24 modes") << 2 << 24 << QSize(21 * 36, 72);
        QTest::newRow("32 modes") << 2 << 32 << QSize(21 * 36, 72);
        QTest::newRow("24 colour maps") << 1 << 24 << QSize(21 * 36, 72);
        QTest::newRow("16 key maps") << 0 << 16 << QSize(350, 72);
    }
    void everyGlobuleInsideTheWindowAndPressable()
    {
        QFETCH(int, layer);
        QFETCH(int, count);
        QFETCH(QSize, frame);
        sim::KeyboardConfig board = sim::fullSizeDual();
        (layer == 0 ? board.keyMaps : layer == 1 ? board.colourMaps : board.lightingModes) = uint8_t(count);
        Device* d = load(board, [](sim::FirmwareState& s) {
            s.curKeyMap = 0;
            s.curColourMap = 0;
            s.curLightingMode = 0;
        });
        QVERIFY(d);
        w->show();
        if (layer > 0)
            w->labelPageClickSlot(QStringLiteral("Color"));
        const QVector<QPushButton*> row =
            layer == 0 ? w->globuleKeys() : layer == 1 ? w->globuleColors() : w->globuleModes();
        QCOMPARE(row.size(), count);
        QFrame* host = layer == 0 ? w->globuleKeyFrame() : layer == 1 ? w->globuleColorFrame() : w->globuleModeFrame();
        QCOMPARE(host->size(), frame);
        QVERIFY(host->isVisibleTo(w.get()));

        const auto inWindow = [this](const QWidget* widget) {
            return QRect(widget->mapTo(w.get(), QPoint(0, 0)), widget->size());
        };
        QList<QRect> panelButtons;
        QRect box = w->rect();
        if (layer > 0) {
            QWidget* panel = host->parentWidget();
            QGroupBox* group = panel->findChild<QGroupBox*>(QStringLiteral("groupBoxCustom"));
            QVERIFY(group);
            box = inWindow(group);
            for (const QPushButton* b : group->findChildren<QPushButton*>())
                panelButtons << inWindow(b);
            QVERIFY(!panelButtons.isEmpty());
            QVERIFY(w->rect().contains(inWindow(w->colorPage())));
        }
        for (int i = 0; i < count; ++i) {
            const QRect r = inWindow(row[i]);
            QVERIFY2(w->rect().contains(r) && box.contains(r), qPrintable(QString::number(i)));
            for (const QRect& b : qAsConst(panelButtons))
                QVERIFY2(!r.intersects(b), qPrintable(QString::number(i)));
            QCOMPARE(w->childAt(r.center()), row[i]);
            QTest::mouseClick(row[i], Qt::LeftButton);
            const int selected = layer == 0 ? d->m_curkcm : layer == 1 ? d->m_curkrm : d->m_curlm;
            QCOMPARE(selected, i);
            QCOMPARE(pressedCount(row), 1);
        }
        w->labelPageClickSlot(QStringLiteral("staticLayout"));
        w->hide();
    }
};

QTEST_MAIN(SelectionLayers)
#include "test_selectionlayers.moc"
