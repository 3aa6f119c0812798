// The popup menu, the clickable label and the clickable line edit: the menu still works without
// QMenu's own event handling; the label and line edit report only a left press and do nothing else.
#include "widget/label.h"
#include "widget/lineedit.h"
#include "widget/menu.h"

#include <QtTest>

class PopupWidgets : public QObject {
    Q_OBJECT

private slots:
    void menuShowsSizesAndTakesArrowsAndEscape()
    {
        Menu menu;
        QAction* first = menu.addAction(QStringLiteral("First entry"));
        QAction* second = menu.addAction(QStringLiteral("Second"));
        Menu sub(QStringLiteral("Submenu title"), &menu);
        menu.addMenu(&sub);

        menu.popup(QPoint(50, 50));
        QVERIFY(QTest::qWaitForWindowExposed(&menu));
        QCOMPARE(menu.size(), menu.sizeHint());
        QVERIFY(menu.rect().contains(menu.actionGeometry(sub.menuAction())));

        QTest::keyClick(&menu, Qt::Key_Down);
        QTest::keyClick(&menu, Qt::Key_Down);
        QCOMPARE(menu.activeAction(), second);
        QTest::keyClick(&menu, Qt::Key_Up);
        QCOMPARE(menu.activeAction(), first);
        QTest::keyClick(&menu, Qt::Key_Escape);
        QVERIFY(!menu.isVisible());
    }

    // A drag over the label and a press in the line edit: neither selects nor moves the cursor.
    void onlyTheLeftPressIsReported()
    {
        for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
            QWidget window;
            Label label(&window);
            label.setText(QStringLiteral("https://tessark.example.org"));
            label.setTextInteractionFlags(Qt::TextSelectableByMouse);
            label.setGeometry(0, 0, 300, 30);
            LineEdit edit(&window);
            edit.setText(QStringLiteral("2000 ms"));
            edit.setGeometry(0, 40, 300, 30);
            edit.setCursorPosition(2);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QSignalSpy labelPressed(&label, &Label::emitPressed), editPressed(&edit, &LineEdit::emitPressed);
            QTest::mousePress(&label, button, Qt::NoModifier, QPoint(5, 10));
            QTest::mouseMove(&label, QPoint(200, 10));
            QTest::mouseRelease(&label, button, Qt::NoModifier, QPoint(200, 10));
            QTest::mousePress(&edit, button, Qt::NoModifier, QPoint(250, 15));
            QCOMPARE(labelPressed.count() + editPressed.count(), button == Qt::LeftButton ? 2 : 0);
            QVERIFY(!label.hasSelectedText() && !edit.hasSelectedText() && edit.cursorPosition() == 2);
        }
    }
};

QTEST_MAIN(PopupWidgets)
#include "test_popupwidgets.moc"
