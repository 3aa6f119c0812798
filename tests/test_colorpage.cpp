// The lighting page inside the main window against emulated keyboards: where it sits, the paint
// a picture key takes and what goes on the wire, and the page's end.
#include "keyboardfixture.h"
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
#include "setting/Language.h"
#include "widget/colorchooser.h"
#include "widget/keybtn.h"

#include <QFrame>
#include <QPointer>
#include <QTest>
#include <memory>

namespace {
// The window logs through its own handler, so the test listens after it and passes lines on.
QStringList g_logged;
QtMessageHandler g_next = nullptr;
void listen(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    g_logged << text;
    if (g_next)
        g_next(type, context, text);
}
} // namespace

class ColorPage : public QObject {
    Q_OBJECT
    TempAppDir m_app;
    std::unique_ptr<Tessark> w;
    std::unique_ptr<KeyboardFixture> f;

    Device* load(sim::KeyboardConfig board)
    {
        Device* d = handKeyboardToWindow(*w, f, std::move(board));
        if (d)
            w->labelPageClickSlot(QStringLiteral("Color"));
        f->kb->clearLog();
        return d;
    }
    QPushButton* swatch(int k) const
    {
        return w->colorPage()->paletteWidget()->findChild<QPushButton*>(QStringLiteral("customColor_%1").arg(k));
    }
    KeyBtn* key(int i) const { return w->dynamicKeyBtns()[i]; }
    void armColour(int k)
    {
        QTest::qWait(210); // a second press within 200 ms would open the colour dialog
        emit swatch(k)->pressed();
    }
    void armSlot(int slot) { emit w->colorPage()->modeWidget()->buttons()[slot]->pressed(); }
    void paint(int i) { emit key(i)->emitRequestColorSignal(i); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_app.setUpForWindow(QFINDTESTDATA("../appdir")));
        w.reset(new Tessark(nullptr, QStringLiteral("None")));
        QTRY_VERIFY(w->initFinished());
        g_next = qInstallMessageHandler(listen);
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
        qInstallMessageHandler(g_next);
        w.reset();
    }

    // Under the picture, centred in what is left of the window; the rows at y 33 of their panels;
    // every key shows its lighting slot.
    void pageSitsUnderThePictureWithTheRows()
    {
        Device* d = load(sim::fullSizeDual());
        QVERIFY(d);
        Color* page = w->colorPage();
        QVERIFY(page && !page->isHidden());
        QCOMPARE(page->size(), QSize(910, 350));
        const QFrame* picture = w->findChild<QFrame*>(QStringLiteral("dynamicLayout"));
        const int b = picture->y() + picture->height() + 8;
        QCOMPARE(page->pos(), QPoint(w->width() / 2 - 455, b + (w->height() - b) / 2 - 15 - 175));
        QCOMPARE(w->globuleColorFrame()->parentWidget(), page->paletteWidget());
        QCOMPARE(w->globuleColorFrame()->y(), 33);
        QCOMPARE(w->globuleModeFrame()->parentWidget(), page->modeWidget());
        QCOMPARE(w->globuleModeFrame()->y(), 33);
        QVERIFY(!w->globuleColorFrame()->isHidden() && !w->globuleModeFrame()->isHidden());
        QCOMPARE(key(4)->displayMode, 1);
        QCOMPARE(key(4)->macroIndex, int(d->m_pLMMs[4]));

        // The tab again keeps the page.
        w->labelPageClickSlot(QStringLiteral("Color"));
        QCOMPARE(w->colorPage(), page);
        QCOMPARE(w->pageList().count(page), 1);
    }

    void colourOnAKeyGoesOutAsOneEntry()
    {
        Device* d = load(sim::fullSizeDual());
        QVERIFY(d);
        armColour(6);
        const QColor c = w->colorPage()->paletteWidget()->getCurrentColor();
        QVERIFY(c.isValid());
        QCOMPARE(w->findChild<QFrame*>(QStringLiteral("dynamicLayout"))->cursor().shape(), Qt::BitmapCursor);
        paint(4);
        const QList<QByteArray> sent = sentReports(f->kb, 0x30, 0x11);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sentCount(f->kb), 1);
        const QByteArray expected = QByteArray::fromRawData("\x00\x04\x04\x00", 4)
                                    + QByteArray(1, char(c.blue())) + char(c.green()) + char(c.red()) + '\0';
        QByteArray payload = expected;
        payload[0] = char(d->m_curkrm);
        QCOMPARE(uint8_t(sent[0][2]) | (uint8_t(sent[0][3]) << 8), 8);
        QCOMPARE(sent[0].mid(8, 8), payload);
        QCOMPARE(f->kb->state().colourMaps[d->m_curkrm].mid(16, 4), payload.mid(4, 4));
        QCOMPARE(key(4)->color, c);
    }

    void slotOnAKeyGoesOutAsOneByte()
    {
        Device* d = load(sim::fullSizeDual());
        QVERIFY(d);
        armColour(1);
        armSlot(7); // drops the colour: only the slot is written
        paint(4);
        QCOMPARE(sentCount(f->kb), 1);
        const QList<QByteArray> sent = sentReports(f->kb, 0x60, 0x04);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(uint8_t(sent[0][2]), uint8_t(5));
        QCOMPARE(sent[0].mid(8, 5), QByteArray("\x00\x04\x04\x00\x07", 5).replace(0, 1, QByteArray(1, char(d->m_curlm))));
        QCOMPARE(uint8_t(f->kb->state().lightingModes[d->m_curlm][4]), uint8_t(7));
        QCOMPARE(key(4)->macroIndex, 7);
    }

    void nothingArmedSendsNothingAndForbids()
    {
        QVERIFY(load(sim::fullSizeDual()));
        g_logged.clear();
        paint(4);
        QVERIFY(g_logged.contains(QStringLiteral("Please select a color or mode.")));
        QCOMPARE(sentCount(f->kb), 0);
        for (int i : {0, 4, 50})
            QCOMPARE(key(i)->cursor().shape(), Qt::ForbiddenCursor);
        armSlot(2);
        QVERIFY(key(4)->cursor().shape() != Qt::ForbiddenCursor);
    }

    // A colour or slot the keyboard did not take is not shown on the key.
    void refusedWritesLeaveTheKeyAsItWas_data()
    {
        QTest::addColumn<bool>("slot");
        QTest::addColumn<int>("fault"); // 0 failed write, 1 no reply
        QTest::newRow("colour, failed write") << false << 0;
        QTest::newRow("colour, no reply") << false << 1;
        QTest::newRow("slot, failed write") << true << 0;
    }
    void refusedWritesLeaveTheKeyAsItWas()
    {
        QFETCH(bool, slot);
        QFETCH(int, fault);
        QVERIFY(load(sim::fullSizeDual()));
        const QColor colour = key(4)->color;
        const int before = key(4)->macroIndex;
        slot ? armSlot(9) : armColour(3);
        if (fault == 0)
            f->kb->failWrite(1);
        else
            f->kb->silence(0x30, 0x11);
        paint(4);
        QCOMPARE(key(4)->color, colour);
        QCOMPARE(key(4)->macroIndex, before);
    }

    void noColourMapsNoRowsNoPainting()
    {
        QVERIFY(load(sim::tenkeylessWired()));
        QVERIFY(w->colorPage());
        QVERIFY(!w->globuleColorFrame() || w->globuleColorFrame()->isHidden());
        QVERIFY(!w->globuleModeFrame() || w->globuleModeFrame()->isHidden());
        armColour(0);
        QTest::mouseClick(key(4), Qt::LeftButton);
        QCOMPARE(sentCount(f->kb), 0);
    }

    // Every way the page goes frees page, dialog and rows once (the sanitizer build checks the once).
    void pageGoesWithItsDialog_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("another tab") << "KEY";
        QTest::newRow("unplug") << "close";
    }
    void pageGoesWithItsDialog()
    {
        QFETCH(QString, how);
        QVERIFY(load(sim::fullSizeDual()));
        QPointer<Color> page = w->colorPage();
        QTest::mouseDClick(page->modeWidget()->buttons()[3], Qt::LeftButton);
        QPointer<Parameter> dialog = page->modeWidget()->parameter();
        QVERIFY(dialog);
        QFrame* rows = w->globuleColorFrame();
        if (how == "KEY")
            w->labelPageClickSlot(QStringLiteral("staticLayout"));
        else
            w->closeDevice();
        QCoreApplication::processEvents();
        QVERIFY(!page && !dialog && !w->colorPage());
        QVERIFY(!w->pageList().contains(page.data()));
        if (how == "KEY") {
            QCOMPARE(rows->parentWidget(), w.get());
            QCOMPARE(key(4)->displayMode, 0);
        }
    }
};

QTEST_MAIN(ColorPage)
#include "test_colorpage.moc"
