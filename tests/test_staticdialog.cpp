// The static key picker on the sample palette, and the dialog frame it shares with the About and Help
// dialogs: size, where the keys go, which keys can be picked, the close button, painting and dragging.
#include "widget/keybtn.h"
#include "widget/qss.h"
#include "widget/staticdialog.h"

#include <QtTest>

// A move to the global position, as the window system delivers it while the left button is down.
static void moveMouseTo(QWidget& w, const QPoint& global)
{
    QMouseEvent e(QEvent::MouseMove, w.mapFromGlobal(global), global, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &e);
}

class StaticKeyPicker : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<KeyBtn*>();
        setAppDirPathForTest(QFINDTESTDATA("../appdir")); // only read
    }
    void cleanupTestCase() { setAppDirPathForTest(QString()); }

    // TESSARK_PICKER_SHOT=<file.png> saves the picker.
    void samplePaletteSizesTheDialog()
    {
        StaticDialog picker;
        QVERIFY(picker.isVisible() && picker.isModal());
        // static.json spans 22.5 x 7.75 key units at 36 px per unit.
        QCOMPARE(picker.size(), QSize(22.5 * 36 + 40, 7.75 * 36 + 78));
        QVERIFY(picker.minimumSize() == picker.size() && picker.maximumSize() == picker.size());
        QVERIFY(!picker.keyBtns.isEmpty());
        const KeyBtn* esc = picker.keyBtns.first();
        QCOMPARE(esc->parentWidget(), &picker);
        QCOMPARE(esc->geometry(), QRect(20, 58, 35, 35));
        QCOMPARE(esc->name() + QString::number(esc->code, 16), QStringLiteral("Esc29"));

        // The frame: dark title band, white body down to 5 px above the bottom, a translucent ring below.
        const QImage shot = picker.grab().toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(shot.pixelColor(picker.width() / 2, 25), QColor("#272939"));
        QCOMPARE(shot.pixelColor(picker.width() / 2, picker.height() - 7), QColor("#ffffff"));
        QVERIFY(qAlpha(shot.pixel(picker.width() / 2, picker.height() - 2)) % 255 != 0);

        if (qEnvironmentVariableIsSet("TESSARK_PICKER_SHOT"))
            QVERIFY(picker.grab().save(qEnvironmentVariable("TESSARK_PICKER_SHOT")));
    }

    // A double click picks a key only while it shows the choosable border; the picker stays open.
    void onlyChoosableKeysArePicked()
    {
        StaticDialog picker;
        KeyBtn* key = picker.keyBtns.value(1);
        QVERIFY(key);
        QSignalSpy picked(&picker, &StaticDialog::emitKeyBtnDoubleClicked);
        key->updateBorderStyle(false);
        QTest::mouseDClick(key, Qt::LeftButton);
        QCOMPARE(picked.count(), 0);

        key->updateBorderStyle(true);
        QTest::mouseDClick(key, Qt::LeftButton);
        QCOMPARE(picked.count(), 1);
        QCOMPARE(picked.at(0).at(0).value<KeyBtn*>(), key);
        QVERIFY(picker.isVisible());
    }

    // The close button (the one push button that is no key) takes its press from the frame and hides
    // the picker at the click, telling once; only a press on the frame itself starts a drag.
    void closeButtonHidesAndOnlyAPressOnTheFrameStartsADrag()
    {
        StaticDialog picker;
        QVERIFY(QTest::qWaitForWindowExposed(&picker));
        QSignalSpy hidden(&picker, &StaticDialog::emitHide);
        QPushButton* close = nullptr;
        for (QPushButton* b : picker.findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly))
            close = qobject_cast<KeyBtn*>(b) ? close : b;
        QVERIFY(close);
        const QPoint grip(300, 20), start = picker.pos(), moved = picker.mapToGlobal(grip) + QPoint(30, 0);
        moveMouseTo(picker, moved);
        QCOMPARE(picker.pos(), start); // no press yet

        QTest::mousePress(close, Qt::LeftButton);
        moveMouseTo(picker, moved);
        QCOMPARE(picker.pos(), start);
        QTest::mouseRelease(close, Qt::LeftButton);
        QVERIFY(!picker.isVisible() && hidden.count() == 1);
        picker.show();

        QCursor::setPos(picker.mapToGlobal(grip));
        QTest::mousePress(&picker, Qt::LeftButton, {}, grip);
        moveMouseTo(picker, moved);
        QCOMPARE(picker.pos(), start + QPoint(30, 0));
        QTest::mouseRelease(&picker, Qt::LeftButton, {}, grip);
        moveMouseTo(picker, moved + QPoint(30, 0));
        QCOMPARE(picker.pos(), start + QPoint(30, 0)); // released
        QTest::mouseClick(close, Qt::LeftButton);
        QVERIFY(!picker.isVisible() && hidden.count() == 2);
    }
};

QTEST_MAIN(StaticKeyPicker)
#include "test_staticdialog.moc"
