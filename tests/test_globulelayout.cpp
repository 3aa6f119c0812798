// The key-map selector row: one checkable button per key map, at most as many as a map mask holds.
#include "shortcut/globulelayout.h"
#include "widget/qss.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

class KeyMapSelector : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setAppDirPathForTest(QFINDTESTDATA("../appdir")); }
    void cleanupTestCase() { setAppDirPathForTest(QString()); }

    void buttonsFollowTheMask_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("mask");
        QTest::addColumn<QString>("xs");
        QTest::addColumn<QByteArray>("states");
        QTest::newRow("four maps, mask 0xF5") << 4 << 0xF5 << "23 55 87 119" << QByteArray("1010");
        QTest::newRow("eight maps fill the row") << 8 << 0x81 << "23 55 87 119 151 183 215 247" << QByteArray("10000001");
        QTest::newRow("more maps than mask bits") << 11 << 0xFF << "23 55 87 119 151 183 215 247" << QByteArray("11111111");
        QTest::newRow("no maps") << 0 << 0xFF << "" << QByteArray();
    }
    void buttonsFollowTheMask()
    {
        QFETCH(int, count);
        QFETCH(int, mask);
        QWidget row;
        GlobuleLayout selector(&row, count);
        QVector<bool> states;
        for (int i = 0; i < count; ++i)
            states << bool(mask & (1 << i));
        selector.initGlobules(states, 290, 56);
        QStringList xs;
        for (int i = 0; i < selector.buttons().size(); ++i) {
            const QPushButton* b = selector.buttons()[i];
            QCOMPARE(b->text(), QString::number(i));
            QCOMPARE(b->size(), QSize(22, 22));
            QCOMPARE(b->y(), 17);
            QVERIFY(b->isCheckable());
            xs << QString::number(b->x());
        }
        QTEST(xs.join(' '), "xs");
        QByteArray got;
        selector.states(got);
        QTEST(got, "states");
        QVERIFY(selector.styleSheet().contains("/images/shortcut/globule-layout.svg"));
    }

    void clickFlipsOneMapAndTells()
    {
        QWidget row;
        GlobuleLayout selector(&row, 4);
        selector.initGlobules({true, false, true, false}, 290, 56);
        QSignalSpy changed(&selector, &GlobuleLayout::emitGlobuleChange);
        QPushButton* first = selector.buttons()[0];
        QTest::mouseClick(first, Qt::LeftButton);
        QCOMPARE(changed.count(), 1);
        QByteArray got("x"); // appended to
        selector.states(got);
        QCOMPARE(got, QByteArray("x0010"));
        QVERIFY(first->styleSheet().contains("globule-normal.svg"));
        QTest::mouseClick(first, Qt::LeftButton);
        QCOMPARE(changed.count(), 2);
        QVERIFY(first->styleSheet().contains("globule-pressed.svg"));
    }
};

QTEST_MAIN(KeyMapSelector)
#include "test_globulelayout.moc"
