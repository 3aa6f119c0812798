// The popup frame that holds a column of widgets, its once-per-process window class change, and the
// set-up functions for digit-only edits and text labels.
#include "macro/popup.h"
#include "platform/windowclassstyle.h"
#include "widget/qss.h"
#include "widget/widgetsetup.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

class PopupFrame : public QObject {
    Q_OBJECT

private slots:
    // Runs first: no popup of this process has a native window yet.
    void classStyleChangesOncePerProcess()
    {
        QVERIFY(!Popup::shadowRemoved());
        {
            Popup first;
            first.winId();
            QVERIFY(Popup::shadowRemoved());
        }
        bool done = true;
        QVERIFY(!windowclassstyle::removeDropShadowOnce(0, &done)); // a second popup or opening: no change
        done = false;
        QVERIFY(windowclassstyle::removeDropShadowOnce(0, &done) && done);
    }

    void widgetsStackInAColumn()
    {
        Popup popup;
        QCOMPARE(popup.size(), QSize(300, 150));
        QPushButton import, exportButton;
        import.resize(80, 25);
        exportButton.resize(80, 25);
        popup.setContentWidget(&import);
        QCOMPARE(import.pos(), QPoint(5, 5));
        QCOMPARE(popup.size(), QSize(90, 35));
        popup.setContentWidget(&exportButton);
        QCOMPARE(exportButton.pos(), QPoint(5, 30));
        QCOMPARE(popup.size(), QSize(90, 60));
        QCOMPARE(popup.innerFrame()->size(), popup.size());
        QCOMPARE(exportButton.parentWidget(), popup.innerFrame());
        popup.setContentWidget(nullptr);
        QCOMPARE(popup.contentCount(), 2);
        popup.show();
        QVERIFY(QTest::qWaitForWindowExposed(&popup));
        QVERIFY(import.isVisible() && exportButton.isVisible());
    }

    void digitsOnlyEdits_data()
    {
        QTest::addColumn<int>("digits");
        QTest::addColumn<bool>("enable");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::newRow("five") << 5 << true << "12a34567" << "12345";
        QTest::newRow("two") << 2 << true << "987" << "98";
        QTest::newRow("nine") << 9 << true << "1234567890" << "123456789";
        QTest::newRow("three keeps the validator it had") << 3 << true << "1234567" << "12";
        QTest::newRow("disabled") << 5 << false << "1234567" << "12";
    }
    void digitsOnlyEdits()
    {
        QFETCH(int, digits);
        QFETCH(bool, enable);
        QFETCH(QString, typed);
        QLineEdit edit;
        setLineEditDigits(&edit, 2, true);
        setLineEditDigits(&edit, digits, enable);
        QTest::keyClicks(&edit, typed);
        QTEST(edit.text(), "kept");
    }

    void labelsArePlacedAndStyled()
    {
        QWidget parent;
        QLabel plain, styled;
        const Qss qss;
        placeTextLabel(&parent, &plain, 120, 20, 10, 30, "Delay", 11, QColor(90, 90, 90));
        placeTextLabel(&qss, &parent, &styled, 120, 20, 10, 60, "Period", 11, QColor(90, 90, 90));
        for (QLabel* label : {&plain, &styled}) {
            QCOMPARE(label->parentWidget(), &parent);
            QCOMPARE(label->size(), QSize(120, 20));
            QVERIFY(!label->isHidden() && label->font().pointSize() == 11 && label->font().weight() == 50);
            QVERIFY(label->styleSheet().contains("rgb(90,90,90)"));
        }
        QCOMPARE(plain.pos(), QPoint(10, 30));
        QCOMPARE(styled.text(), QStringLiteral("Period"));
    }
};

QTEST_MAIN(PopupFrame)
#include "test_popup.moc"
