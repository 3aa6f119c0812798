// The lighting page's slot picker and the page that keeps one paint armed, without a keyboard.
#include "tempappdir.h"

#include "color/color.h"
#include "color/mode.h"
#include "color/palette.h"
#include "color/parameter.h"
#include "color/pushbutton.h"
#include "setting/Language.h"
#include "widget/qss.h"

#include <QGroupBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

namespace {

QString warnLook(bool on)
{
    QPushButton b;
    Qss().setWarnButtonStyle(&b, on);
    return b.styleSheet();
}

int selectedCount(const Mode& m)
{
    int n = 0;
    for (const PushButton* b : m.buttons())
        n += b->styleSheet() == warnLook(true);
    return n;
}

} // namespace

class ModePicker : public QObject {
    Q_OBJECT
    TempAppDir m_app;

private slots:
    void initTestCase()
    {
        QVERIFY(m_app.setUpForWindow(QFINDTESTDATA("../appdir")));
        g_language = new Language;
    }
    void cleanupTestCase()
    {
        delete g_language;
        g_language = nullptr;
    }

    void thirtyTwoSlotsInTwoRows()
    {
        Mode m(nullptr, nullptr);
        QCOMPARE(m.buttons().size(), 32);
        for (int i = 0; i < 32; ++i) {
            const PushButton* b = m.buttons()[i];
            QCOMPARE(b->index(), i);
            QCOMPARE(b->text(), QStringLiteral("M%1").arg(i));
            QCOMPARE(b->parentWidget(), m.groupBox());
            QCOMPARE(b->geometry(), QRect(17 + 46 * (i % 16), i < 16 ? 73 : 114, 35, 30));
            QCOMPARE(b->focusPolicy(), Qt::NoFocus);
        }
        QCOMPARE(m.groupBox()->size(), QSize(760, 160));
        QCOMPARE(m.currentIndex(), -1);
        QCOMPARE(selectedCount(m), 0);
    }

    // The page's answer to the first signal unsets the picture's cursor, so it must come first;
    // a press on the selected slot again says both again.
    void pressSelectsAndSignalsInOrder()
    {
        Mode m(nullptr, nullptr);
        QStringList order;
        connect(&m, &Mode::emitButtonPressed, [&] { order << "pressed"; });
        connect(&m, &Mode::emitCursorMode, [&](int slot) { order << QStringLiteral("cursor %1").arg(slot); });
        for (int round = 0; round < 2; ++round)
            emit m.buttons()[9]->pressed();
        QCOMPARE(order, QStringList({"pressed", "cursor 9", "pressed", "cursor 9"}));
        QCOMPARE(m.currentIndex(), 9);
        QCOMPARE(m.buttons()[9]->styleSheet(), warnLook(true));
        QCOMPARE(selectedCount(m), 1);
        emit m.buttons()[20]->pressed();
        QCOMPARE(m.currentIndex(), 20);
        QCOMPARE(selectedCount(m), 1);
        m.clearSelection();
        QCOMPARE(m.currentIndex(), -1);
        QCOMPARE(selectedCount(m), 0);
    }

    // A left double click selects (its first press) and opens one dialog; a right one does nothing.
    void doubleClickOpensOneDialog()
    {
        Mode m(nullptr, nullptr);
        m.show();
        PushButton* slot3 = m.buttons()[3];
        QTest::mouseDClick(slot3, Qt::RightButton);
        QVERIFY(!m.parameter());
        QTest::mousePress(slot3, Qt::LeftButton);
        QTest::mouseRelease(slot3, Qt::LeftButton);
        QTest::mouseDClick(slot3, Qt::LeftButton);
        QCOMPARE(m.currentIndex(), 3);
        QPointer<Parameter> first = m.parameter();
        QVERIFY(first);
        QVERIFY(first->isVisible());
        QTest::ignoreMessage(QtDebugMsg, "parameter is not NULL.");
        QTest::mouseDClick(m.buttons()[4], Qt::LeftButton);
        QCOMPARE(m.parameter(), first.data());

        // Escape goes Cancel's way: the dialog is closed and freed, and a new one may open.
        QTest::keyClick(first.data(), Qt::Key_Escape);
        QVERIFY(!m.parameter());
        QTRY_VERIFY(!first);
        QTest::mouseDClick(m.buttons()[5], Qt::LeftButton);
        QVERIFY(m.parameter());
    }

    void deletingThePickerTakesItsDialog()
    {
        auto* m = new Mode(nullptr, nullptr);
        QTest::mouseDClick(m->buttons()[1], Qt::LeftButton);
        QPointer<Parameter> dialog = m->parameter();
        QVERIFY(dialog);
        delete m;
        QCoreApplication::processEvents();
        QVERIFY(!dialog);
    }

    void titleFollowsLanguage()
    {
        Color page(nullptr, nullptr);
        g_language->setLanguageType(0);
        QCOMPARE(page.modeWidget()->groupBox()->title(), QStringLiteral("LED 模式"));
        g_language->setLanguageType(1);
        QCOMPARE(page.modeWidget()->groupBox()->title(), QStringLiteral("LED MODEL"));
    }

    // Fixed 910 x 350, the palette on top and the picker right under it, both page-wide; choosing
    // one kind of paint drops the other, the picture's cursor going before the slot's own.
    void pageKeepsOnePaintArmed()
    {
        Color page(nullptr, nullptr);
        QCOMPARE(page.objectName(), QStringLiteral("Color"));
        QCOMPARE(page.size(), QSize(910, 350));
        QCOMPARE(page.minimumSize(), page.maximumSize());
        Palette* palette = page.paletteWidget();
        Mode* mode = page.modeWidget();
        QCOMPARE(palette->geometry().topLeft(), QPoint(0, 0));
        QCOMPARE(palette->width(), 910);
        QCOMPARE(mode->geometry(), QRect(0, palette->height(), 910, mode->height()));

        auto* swatch = palette->findChild<QPushButton*>(QStringLiteral("customColor_2"));
        QVERIFY(swatch);
        emit mode->buttons()[7]->pressed();
        QCOMPARE(mode->currentIndex(), 7);
        emit swatch->pressed();
        QVERIFY(palette->getCurrentColor().isValid());
        QCOMPARE(mode->currentIndex(), -1);
        QCOMPARE(selectedCount(*mode), 0);

        QStringList order;
        connect(&page, &Color::emitUnsetCursor, [&] { order << "unset"; });
        connect(mode, &Mode::emitCursorMode, [&] { order << "mode cursor"; });
        emit mode->buttons()[4]->pressed();
        QVERIFY(!palette->getCurrentColor().isValid());
        QCOMPARE(order, QStringList({"unset", "mode cursor"}));
    }
};

QTEST_MAIN(ModePicker)
#include "test_modepicker.moc"
