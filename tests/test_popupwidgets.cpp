// The popup menu, the clickable label and the clickable line edit: the menu still works without
// QMenu's own event handling; the label and line edit report only a left press and do nothing else.
#include "widget/label.h"
#include "widget/lineedit.h"
#include "widget/menu.h"

#include <QSignalSpy>
#include <QTest>

class PopupWidgets : public QObject {
    Q_OBJECT

private slots:
    void menuShowsSizesAndTakesArrowsAndEscape()
    {
        Menu menu;
        QCOMPARE(menu.windowFlags(), Qt::Popup | Qt::FramelessWindowHint);
        QVERIFY(menu.testAttribute(Qt::WA_TranslucentBackground));
        QAction* first = menu.addAction(QStringLiteral("First entry"));
        QAction* second = menu.addAction(QStringLiteral("Second"));
        Menu sub(QStringLiteral("Submenu title"), &menu);
        sub.addAction(QStringLiteral("Inner"));
        menu.addMenu(&sub);
        QCOMPARE(sub.menuAction()->text(), QStringLiteral("Submenu title"));

        menu.popup(QPoint(50, 50));
        QVERIFY(QTest::qWaitForWindowExposed(&menu));
        QCOMPARE(menu.size(), menu.sizeHint());
        QVERIFY(menu.actionGeometry(second).top() >= menu.actionGeometry(first).bottom());
        QVERIFY(menu.rect().contains(menu.actionGeometry(sub.menuAction())));

        QTest::keyClick(&menu, Qt::Key_Down);
        QCOMPARE(menu.activeAction(), first);
        QTest::keyClick(&menu, Qt::Key_Down);
        QCOMPARE(menu.activeAction(), second);
        QTest::keyClick(&menu, Qt::Key_Up);
        QCOMPARE(menu.activeAction(), first);
        QTest::keyClick(&menu, Qt::Key_Escape);
        QVERIFY(!menu.isVisible());
    }

    void onlyTheLeftPressIsReported_data()
    {
        QTest::addColumn<int>("buttonValue");
        QTest::addColumn<int>("emitted");
        QTest::newRow("left") << int(Qt::LeftButton) << 1;
        QTest::newRow("right") << int(Qt::RightButton) << 0;
        QTest::newRow("middle") << int(Qt::MiddleButton) << 0;
    }
    void onlyTheLeftPressIsReported()
    {
        QFETCH(int, buttonValue);
        const auto button = Qt::MouseButton(buttonValue);
        QFETCH(int, emitted);
        QWidget window;
        window.resize(300, 100);
        Label label(&window);
        label.setText(QStringLiteral("https://tessark.example.org"));
        label.setTextInteractionFlags(Qt::TextSelectableByMouse);
        label.setGeometry(0, 0, 300, 30);
        LineEdit edit(&window);
        edit.setGeometry(0, 40, 300, 30);
        edit.setText(QStringLiteral("2000 ms"));
        edit.setCursorPosition(2);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QSignalSpy labelPressed(&label, &Label::emitPressed);
        QSignalSpy editPressed(&edit, &LineEdit::emitPressed);
        QTest::mousePress(&label, button, Qt::NoModifier, QPoint(5, 10));
        QTest::mouseMove(&label, QPoint(200, 10));
        QTest::mouseRelease(&label, button, Qt::NoModifier, QPoint(200, 10));
        QTest::mousePress(&edit, button, Qt::NoModifier, QPoint(250, 15));
        QCOMPARE(labelPressed.count(), emitted);
        QCOMPARE(editPressed.count(), emitted);
        QVERIFY(!label.hasSelectedText());
        QCOMPARE(edit.cursorPosition(), 2);
        QVERIFY(!edit.hasSelectedText());
    }
};

QTEST_MAIN(PopupWidgets)
#include "test_popupwidgets.moc"
