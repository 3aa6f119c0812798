// The lighting page inside the main window against emulated keyboards: where it sits, the paint
// a picture key takes and what goes on the wire, and the page's end.
#include "keyboardfixture.h"
#include "logrecorder.h"
#include "messageboxrecorder.h"
#include "tempappdir.h"
#include "windowkeyboard.h"
#include "wire.h"

#include "color/color.h"
#include "color/mode.h"
#include "color/palette.h"
#include "color/parameter.h"
#include "color/pushbutton.h"
#include "device/device.h"
#include "main/tessark.h"
#include "widget/keybtn.h"
#include "timescale.h"

#include <QFrame>
#include <QPointer>
#include <QTest>
#include <memory>

class ColorPage : public QObject {
    Q_OBJECT
    TempAppDir m_app;
    std::unique_ptr<Tessark> w;
    std::unique_ptr<KeyboardFixture> f;

    Device* load(sim::KeyboardConfig board = sim::fullSizeDual())
    {
        Device* d = handKeyboardToWindow(*w, f, std::move(board));
        if (d)
            w->labelPageClickSlot(QStringLiteral("Color"));
        f->kb->clearLog();
        return d;
    }
    KeyBtn* key(int i) const { return w->dynamicKeyBtns()[i]; }
    void armColour(int k)
    {
        const Palette* palette = w->colorPage()->paletteWidget();
        emit palette->findChild<QPushButton*>(QStringLiteral("customColor_%1").arg(k))->pressed();
    }
    void armSlot(int slot) { emit w->colorPage()->modeWidget()->buttons()[slot]->pressed(); }
    void paint(int i) { emit key(i)->emitRequestColorSignal(i); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_app.setUpForWindow(QFINDTESTDATA("../appdir")));
        w.reset(new Tessark(nullptr, QStringLiteral("None")));
        QTRY_VERIFY_WITH_TIMEOUT(w->initFinished(), timescale::ms(10000));
        logrecorder::start(); // after the window's own handler
    }
    void cleanup()
    {
        w->labelPageClickSlot(QStringLiteral("staticLayout"));
        w->closeDevice();
        WindowTestAccess::setLoadedDevice(*w, nullptr);
        f.reset();
        sim::reset();
    }
    void cleanupTestCase()
    {
        logrecorder::stop();
        w.reset();
    }

    // Under the picture, centred in what is left of the window, the rows at y 33 of their panels and every
    // key showing its slot. A key pressed with nothing armed writes nothing and forbids until a slot is armed.
    void pageSitsUnderThePictureAndWantsAPaint()
    {
        Device* d = load();
        QVERIFY(d);
        const Color* page = w->colorPage();
        const QFrame* picture = w->findChild<QFrame*>(QStringLiteral("dynamicLayout"));
        const int b = picture->y() + picture->height() + 8;
        QCOMPARE(page->pos(), QPoint(w->width() / 2 - 455, b + (w->height() - b) / 2 - 15 - 175));
        QVERIFY(w->globuleColorFrame()->parentWidget() == page->paletteWidget() && !w->globuleColorFrame()->isHidden());
        QVERIFY(w->globuleModeFrame()->parentWidget() == page->modeWidget() && !w->globuleModeFrame()->isHidden());
        QCOMPARE(QList<int>({w->globuleColorFrame()->y(), w->globuleModeFrame()->y()}), QList<int>({33, 33}));
        QVERIFY(key(4)->displayMode == 1 && key(4)->macroIndex == int(d->m_pLMMs[4]));

        logrecorder::start(); // what was kept so far goes
        paint(4);
        QVERIFY(logrecorder::lines().contains(QStringLiteral("Please select a color or mode.")));
        QCOMPARE(sentCount(f->kb), 0);
        QVERIFY(key(0)->cursor().shape() == Qt::ForbiddenCursor && key(50)->cursor().shape() == Qt::ForbiddenCursor);
        armSlot(2);
        QVERIFY(key(4)->cursor().shape() != Qt::ForbiddenCursor);
    }

    // An armed colour goes out as one entry of the current colour map (B, G, R), an armed slot (the colour
    // dropped) as one byte of the current lighting mode; the keyboard holds it and the key shows it. What
    // the keyboard did not take is not shown, and a box says so.
    void paintOnAKeyGoesOutAsOneEntry_data()
    {
        QTest::addColumn<bool>("slot");
        QTest::addColumn<int>("refused"); // 1: failed write, 2: no reply
        QTest::newRow("colour") << false << 0;
        QTest::newRow("slot 7") << true << 0;
        QTest::newRow("colour, failed write") << false << 1;
        QTest::newRow("colour, no reply") << false << 2;
        QTest::newRow("slot 7, failed write") << true << 1;
    }
    void paintOnAKeyGoesOutAsOneEntry()
    {
        QFETCH(bool, slot);
        QFETCH(int, refused);
        Device* d = load();
        QVERIFY(d);
        const QColor colour = key(4)->color;
        const int mode = key(4)->macroIndex;
        armColour(1); // red, green and blue all differ
        const QColor c = w->colorPage()->paletteWidget()->getCurrentColor();
        if (slot)
            armSlot(7);
        MessageBoxRecorder boxes;
        if (refused)
            refused == 1 ? f->kb->failWrite(1) : f->kb->silence(0x30, 0x11);
        paint(4);
        QTest::qWait(20);
        QCOMPARE(boxes.boxes().size(), int(refused != 0));
        if (refused) {
            QVERIFY(key(4)->color == colour && key(4)->macroIndex == mode);
            return;
        }
        QCOMPARE(sentCount(f->kb), 1);
        const QList<QByteArray> sent = slot ? sentReports(f->kb, 0x60, 0x04) : sentReports(f->kb, 0x30, 0x11);
        QCOMPARE(sent.size(), 1);
        const QByteArray payload = slot ? bytes(std::vector<uint8_t>{d->m_curlm, 4, 4, 0, 7})
                                        : bytes(std::vector<uint8_t>{d->m_curkrm, 4, 4, 0, uint8_t(c.blue()),
                                                                     uint8_t(c.green()), uint8_t(c.red()), 0});
        QCOMPARE(sent[0].mid(2, 2), QByteArray(1, char(payload.size())) + '\0');
        QCOMPARE(sent[0].mid(8, payload.size()), payload);
        if (slot)
            QVERIFY(uint8_t(f->kb->state().lightingModes[d->m_curlm][4]) == 7 && key(4)->macroIndex == 7);
        else
            QVERIFY(f->kb->state().colourMaps[d->m_curkrm].mid(16, 4) == payload.mid(4) && key(4)->color == c);
    }

    void noColourMapsNoRowsNoPainting()
    {
        QVERIFY(load(sim::tenkeylessWired()) && w->colorPage());
        QVERIFY(!w->globuleColorFrame() || w->globuleColorFrame()->isHidden());
        QVERIFY(!w->globuleModeFrame() || w->globuleModeFrame()->isHidden());
        armColour(0);
        QTest::mouseClick(key(4), Qt::LeftButton);
        QCOMPARE(sentCount(f->kb), 0);
    }

    // Another tab or an unplug frees page, dialog and rows once (the sanitizer build checks the once).
    void pageGoesWithItsDialog_data()
    {
        QTest::addColumn<bool>("unplug");
        QTest::newRow("another tab") << false;
        QTest::newRow("unplug") << true;
    }
    void pageGoesWithItsDialog()
    {
        QFETCH(bool, unplug);
        QVERIFY(load());
        QPointer<Color> page = w->colorPage();
        QTest::mouseDClick(page->modeWidget()->buttons()[3], Qt::LeftButton);
        QPointer<Parameter> dialog = page->modeWidget()->parameter();
        QVERIFY(dialog);
        QFrame* rows = w->globuleColorFrame();
        unplug ? void(w->closeDevice()) : w->labelPageClickSlot(QStringLiteral("staticLayout"));
        QCoreApplication::processEvents();
        QVERIFY(!page && !dialog && !w->colorPage() && !w->pageList().contains(page.data()));
        QVERIFY(unplug || (rows->parentWidget() == w.get() && key(4)->displayMode == 0));
    }
};

QTEST_MAIN(ColorPage)
#include "test_colorpage.moc"
