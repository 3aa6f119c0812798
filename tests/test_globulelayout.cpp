// The key-map selector row: one checkable button per key map, at most as many as a map mask holds.
#include "shortcut/globulelayout.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

class KeyMapSelector : public QObject {
    Q_OBJECT

private slots:
    // Button i, labelled i, stands for bit i of the mask; eight fill the row, further maps get none. A click
    // flips a button, restyles it and tells once; the state string follows at once.
    void buttonsFollowTheMask_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("buttons"); // text@x, checked ones starred, for a record mask of 0xF5
        QTest::addColumn<QString>("states");  // after clicking button 0, appended to "x"
        QTest::newRow("4 maps") << 4 << "0@23* 1@55 2@87* 3@119" << "x0010";
        QTest::newRow("8 maps") << 8 << "0@23* 1@55 2@87* 3@119 4@151* 5@183* 6@215* 7@247*" << "x00101111";
        QTest::newRow("11 maps") << 11 << "0@23* 1@55 2@87* 3@119 4@151* 5@183* 6@215* 7@247*" << "x00101111";
        QTest::newRow("no maps") << 0 << "" << "x";
    }
    void buttonsFollowTheMask()
    {
        QFETCH(int, count);
        GlobuleLayout selector(nullptr, count);
        selector.initGlobules({true, false, true, false, true, true, true, true, true, true, true}, 290, 56);
        QStringList shown;
        for (const QPushButton* b : selector.buttons())
            shown << QString("%1@%2%3").arg(b->text()).arg(b->x()).arg(b->isChecked() ? "*" : "");
        QTEST(shown.join(' '), "buttons");
        QSignalSpy changed(&selector, &GlobuleLayout::emitGlobuleChange);
        if (count)
            QTest::mouseClick(selector.buttons()[0], Qt::LeftButton);
        QByteArray got("x");
        selector.states(got);
        QTEST(QString(got), "states");
        QCOMPARE(changed.count(), count ? 1 : 0);
        QVERIFY(!count || selector.buttons()[0]->styleSheet().contains("globule-normal.svg"));
    }
};

QTEST_MAIN(KeyMapSelector)
#include "test_globulelayout.moc"
