// The lighting page's slot picker and the page that keeps one paint armed, without a keyboard.
#include "tempappdir.h"

#include "color/color.h"
#include "color/mode.h"
#include "color/palette.h"
#include "color/parameter.h"
#include "color/pushbutton.h"
#include "setting/Language.h"
#include "widget/qss.h"
#include "timescale.h"

#include <QGroupBox>
#include <QPointer>
#include <QTest>
#include <utility>

class ModePicker : public QObject {
    Q_OBJECT
    TempAppDir m_app;

    // The slots that look selected.
    static QList<int> selected(const Mode& m)
    {
        QPushButton on;
        Qss().setWarnButtonStyle(&on, true);
        QList<int> out;
        for (const PushButton* b : m.buttons())
            if (b->styleSheet() == on.styleSheet())
                out << b->index();
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_app.setUpForWindow(QFINDTESTDATA("../appdir")));
        g_language = new Language;
    }
    void cleanupTestCase() { delete std::exchange(g_language, nullptr); }

    // Two rows of 16, left to right, column under column.
    void thirtyTwoSlotsInTwoRows()
    {
        Mode m(nullptr, nullptr);
        QCOMPARE(m.buttons().size(), 32);
        for (int i = 0; i < 32; ++i) {
            const PushButton* b = m.buttons()[i];
            QVERIFY(b->index() == i && b->text() == QStringLiteral("M%1").arg(i) && b->parentWidget() == m.groupBox());
            QCOMPARE(b->pos(), QPoint(m.buttons()[i % 16]->x(), m.buttons()[i / 16 * 16]->y()));
            QVERIFY(i % 16 == 0 || b->x() > m.buttons()[i - 1]->geometry().right());
        }
        QVERIFY(m.buttons()[16]->y() > m.buttons()[0]->geometry().bottom());
        QVERIFY(m.currentIndex() == -1 && selected(m).isEmpty());
    }

    // A left double click selects (its first press) and opens one dialog, a right one nothing. Escape goes
    // Cancel's way: the dialog is freed and a new one may open. The picker takes its dialog along.
    void doubleClickOpensOneDialog()
    {
        auto* m = new Mode(nullptr, nullptr);
        m->show();
        QTest::mouseDClick(m->buttons()[3], Qt::RightButton);
        QVERIFY(!m->parameter());
        QTest::mouseClick(m->buttons()[3], Qt::LeftButton);
        QTest::mouseDClick(m->buttons()[3], Qt::LeftButton);
        QPointer<Parameter> first = m->parameter();
        QVERIFY(m->currentIndex() == 3 && first && first->isVisible());
        QTest::ignoreMessage(QtDebugMsg, "parameter is not NULL.");
        QTest::mouseDClick(m->buttons()[4], Qt::LeftButton);
        QCOMPARE(m->parameter(), first.data());
        QTest::keyClick(first.data(), Qt::Key_Escape);
        QVERIFY(!m->parameter());
        QTRY_VERIFY_WITH_TIMEOUT(!first, timescale::ms(10000));
        QTest::mouseDClick(m->buttons()[5], Qt::LeftButton);
        QPointer<Parameter> second = m->parameter();
        QVERIFY(second);
        delete m;
        QCoreApplication::processEvents();
        QVERIFY(!second);
    }

    // On the page, the picker's pressed signal comes before its cursor (the page's answer to it unsets the
    // picture's cursor), also on the selected slot again; choosing one kind of paint drops the other. Both
    // titles follow the language.
    void pressesKeepOnePaintArmed()
    {
        Color page(nullptr, nullptr);
        Palette* palette = page.paletteWidget();
        Mode* mode = page.modeWidget();
        QStringList order;
        connect(&page, &Color::emitUnsetCursor, [&] { order << "unset"; });
        connect(mode, &Mode::emitCursorMode, [&](int slot) { order << QStringLiteral("cursor %1").arg(slot); });
        emit mode->buttons()[9]->pressed();
        emit mode->buttons()[9]->pressed();
        QCOMPARE(order, QStringList({"unset", "cursor 9", "unset", "cursor 9"}));
        QVERIFY(mode->currentIndex() == 9 && selected(*mode) == QList<int>{9});
        emit palette->findChild<QPushButton*>(QStringLiteral("customColor_2"))->pressed();
        QVERIFY(palette->getCurrentColor().isValid() && mode->currentIndex() == -1 && selected(*mode).isEmpty());
        emit mode->buttons()[20]->pressed();
        QVERIFY(!palette->getCurrentColor().isValid() && selected(*mode) == QList<int>{20});
        g_language->setLanguageType(0);
        QCOMPARE(palette->findChild<QGroupBox*>()->title() + '|' + mode->groupBox()->title(),
                 QStringLiteral("LED 颜色|LED 模式"));
    }
};

QTEST_MAIN(ModePicker)
#include "test_modepicker.moc"
