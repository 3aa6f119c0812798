// The keyboard matrix layout editor: placing an imported layout, binding keys to matrix cells, Apply
// (only logs), Esc and the title band drag, closing, and dialogs that can make no grid.
#include "keyboardfixture.h"
#include "tempappdir.h"
#include "wire.h"

#include "device/device.h"
#include "setting/block.h"
#include "setting/buildingblock.h"
#include "setting/network.h"
#include "widget/keybtn.h"
#include "widget/qss.h"
#include "timescale.h"

#include <QDirIterator>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QtTest>
#include <cstring>
#include <memory>

namespace {

const QByteArray Config = R"(<?xml version="1.0" encoding="UTF-8"?><config><board_type>
<board name="TK104 Dual" KLE="1" KLEW="40" KLEH="40" KLER="6" KLEC="21"/>
<board name="Wide" KLE="1" KLEW="40" KLEH="40" KLER="2" KLEC="40"/>
<board name="No rows" KLE="1" KLEW="40" KLEH="40" KLER="0" KLEC="21"/>
<board name="No width" KLE="1" KLEW="0" KLEH="40" KLER="6" KLEC="21"/>
</board_type></config>)";

QString look(const Block* b)
{
    const QString s = b->styleSheet();
    return s.contains("#ff4769") ? "high" : s.contains("#2eff23") ? "used" : "free";
}

// Press at from, move to to, release there; positions in the dialog, which takes what its children pass on.
void drag(QWidget* w, Qt::MouseButton button, QPoint from, QPoint to)
{
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseMove, QEvent::MouseButtonRelease}) {
        const QPoint at = type == QEvent::MouseButtonPress ? from : to;
        QMouseEvent e(type, at, w->pos() + at, button, type == QEvent::MouseButtonRelease ? Qt::NoButton : button,
                      Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    }
}

QStringList filesBelow(const QString& dir)
{
    QStringList out;
    for (QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        out << it.next() + ":" + QString::number(it.fileInfo().size());
    return out;
}

} // namespace

class LayoutEditor : public QObject {
    Q_OBJECT
    TempAppDir m_app;
    std::unique_ptr<Device> m_dev;
    std::unique_ptr<BuildingBlock> m_dlg;

    // A shown editor for a transport-less device with that board name (none when empty), the layout
    // imported when one is named.
    BuildingBlock* open(const QByteArray& board, const QString& file = QString(), Device* device = nullptr)
    {
        if (!board.isEmpty()) {
            m_dev = std::make_unique<Device>(nullptr, nullptr, nullptr, nullptr);
            std::memcpy(m_dev->m_devInfo.boardName, board.constData(), size_t(qMin(board.size(), 16)));
            device = m_dev.get();
        }
        m_dlg = std::make_unique<BuildingBlock>(nullptr, device);
        m_dlg->show();
        if (!QTest::qWaitForWindowExposed(m_dlg.get()))
            return nullptr;
        if (!file.isEmpty())
            m_dlg->fileSelectedSlot(m_app.filePath(file));
        return m_dlg.get();
    }
    QWidget* child(const char* name) const { return m_dlg->findChild<QWidget*>(name); }
    Block* cell(int row, int col) const { return m_dlg->network()->block(row, col); }

private slots:
    void initTestCase()
    {
        setAppDirPathForTest(m_app.path());
        QVERIFY(m_app.write("config/config.xml", Config));
        // 15 x 5 units; a 1.5-unit key at (2, 1), then one L-shaped with x2 = -0.25.
        QVERIFY(m_app.write("15x5.json", R"([[{"w":15},"A"],[{"x":2,"w":1.5},"B",{"w":1.5,"x2":-0.25,"w2":1.75,"h2":1},"C"],
                                              ["D"],["E"],["F"]])"));
        QVERIFY(m_app.write("empty.json", "[]"));
        for (const char* image : {"images/close.svg", "images/close-hover.svg"})
            QVERIFY(m_app.write(image, readFile(QFINDTESTDATA(QString("../appdir/") + image))));
    }
    void cleanup()
    {
        m_dlg.reset();
        m_dev.reset();
    }

    // An unreadable file leaves the import button for another try. The frame takes the layout's size, the
    // keys their units' pixels; the grid and Apply move down. Only one import per dialog.
    void layoutIsPlacedAboveTheGrid()
    {
        QVERIFY(open("TK104 Dual", "missing.json"));
        QVERIFY(child("importButton")->isVisible() && !child("keyboardLayout")->isVisible());
        m_dlg->fileSelectedSlot(m_app.filePath("15x5.json"));
        QCOMPARE(child("keyboardLayout")->geometry(), QRect(77, 50, 600, 200));
        QCOMPARE(child("scrollArea")->y(), 258);
        QCOMPARE(m_dlg->network()->pos(), QPoint(123, 0)); // centred: 670 / 2 - 425 / 2
        QCOMPARE(child("applyButton")->y(), 554);
        QCOMPARE(m_dlg->size(), QSize(750, 603));
        QVERIFY(child("keyboardLayout")->isVisible() && !child("importButton")->isVisible());
        QCOMPARE(m_dlg->keyBtns()[1]->geometry(), QRect(80, 40, 58, 38));
        const QRect l = m_dlg->keyBtns()[2]->geometry();
        QCOMPARE(QRect(l.x(), l.y(), l.width() - 1, l.height()), QRect(140 - 10, 40, 58 + 10, 38)); // +1: L outline
        m_dlg->fileSelectedSlot(m_app.filePath("15x5.json"));
        QCOMPARE(m_dlg->keyBtns().size(), 6);
    }

    // A grid wider than the scroll area starts at its left edge; the slider scrolls it. A layout without
    // keys ends the import and leaves the dialog's height.
    void wideGridAndEmptyLayout()
    {
        QVERIFY(open("Wide", "empty.json"));
        QVERIFY(!child("importButton")->isVisible() && child("keyboardLayout")->isVisible());
        QCOMPARE(m_dlg->height(), 575);
        QCOMPARE(m_dlg->network()->pos(), QPoint(0, 0));
        auto* slider = static_cast<QSlider*>(child("horizontalSlider"));
        QVERIFY(slider->maximum() > 0);
        slider->setValue(slider->maximum());
        QCOMPARE(static_cast<QScrollArea*>(child("scrollArea"))->horizontalScrollBar()->value(), slider->maximum());
    }

    // Bind, move to another free cell, refuse a used one, unbind on the key's own cell.
    void bindMoveRefuseUnbind()
    {
        QVERIFY(open("TK104 Dual", "15x5.json"));
        KeyBtn* a = m_dlg->keyBtns()[0];
        KeyBtn* b = m_dlg->keyBtns()[1];
        QTest::mouseClick(cell(0, 0), Qt::LeftButton); // nothing selected
        QVERIFY(!cell(0, 0)->isInUse());
        QTest::mouseClick(a, Qt::LeftButton);
        QCOMPARE(m_dlg->selectedKey(), a);
        QTest::mouseClick(cell(0, 0), Qt::LeftButton);
        QCOMPARE(a->name() + look(cell(0, 0)), QStringLiteral("A0high"));
        QTest::mouseClick(cell(1, 2), Qt::LeftButton); // still selected: the binding moves
        QCOMPARE(a->name() + look(cell(0, 0)) + look(cell(1, 2)), QStringLiteral("C1freehigh"));
        QVERIFY(!cell(0, 0)->isInUse() && cell(1, 2)->isInUse());

        QTest::mouseClick(b, Qt::LeftButton);
        QCOMPARE(look(cell(1, 2)), QStringLiteral("used"));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("Point in other uses\\.$"));
        QTest::mouseClick(cell(1, 2), Qt::LeftButton);
        QCOMPARE(b->networkRow(), -1);

        QTest::mouseClick(a, Qt::LeftButton);
        QCOMPARE(look(cell(1, 2)), QStringLiteral("high")); // the selected key's cell shows
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("相等处理  \"C1\"$"));
        QTest::mouseClick(cell(1, 2), Qt::LeftButton);
        QVERIFY(a->name().isEmpty() && a->networkColumn() == -1 && !cell(1, 2)->isInUse());
        QCOMPARE(look(cell(1, 2)), QStringLiteral("free"));
    }

    // Esc and a right press deselect and recolour, and close nothing; only the title band drags.
    void escapeRightPressAndDrag()
    {
        QVERIFY(open("TK104 Dual", "15x5.json"));
        QSignalSpy closed(m_dlg.get(), &BuildingBlock::emitClose);
        QTRY_COMPARE_WITH_TIMEOUT(m_dlg->titleRect(), QRectF(5, 5, 740, 35), timescale::ms(10000));
        const QPoint at = m_dlg->pos();
        QTest::mouseClick(m_dlg->keyBtns()[0], Qt::LeftButton);
        m_dlg->networkBlockLeftPressed(cell(2, 0));
        QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
        QVERIFY(!m_dlg->selectedKey() && look(cell(2, 0)) == "used" && m_dlg->isVisible() && closed.isEmpty());
        QTest::mouseClick(m_dlg->keyBtns()[0], Qt::LeftButton);
        drag(m_dlg.get(), Qt::RightButton, {300, 36}, {340, 66});
        QVERIFY(!m_dlg->selectedKey() && look(cell(2, 0)) == "used" && m_dlg->pos() == at);
        drag(m_dlg.get(), Qt::LeftButton, {300, 35}, {340, 65});
        QCOMPARE(m_dlg->pos(), at + QPoint(40, 30));
    }

    // Apply logs every binding; nothing goes to the keyboard or to disk, and the dialog stays.
    void applyOnlyLogs()
    {
        KeyboardFixture f;
        QVERIFY(f.open() && f.loadNow());
        QVERIFY(open({}, "15x5.json", f.device));
        QTest::mouseClick(m_dlg->keyBtns()[3], Qt::LeftButton);
        QTest::mouseClick(cell(5, 20), Qt::LeftButton);
        f.kb->clearLog();
        const QStringList files = filesBelow(m_app.path());
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("keybtn ID =  3 network: row= 5 col= 20$"));
        QTest::mouseClick(m_dlg->findChild<QPushButton*>("applyButton"), Qt::LeftButton);
        QTest::qWait(50);
        QCOMPARE(sentCount(f.kb), 0);
        QCOMPARE(filesBelow(m_app.path()), files);
        QVERIFY(m_dlg->isVisible());
        m_dlg.reset(); // before the device
    }

    // No device, no matching or usable record, or the device deleted before the import: no grid and
    // no keys, and nothing that would recolour a grid crashes.
    void noGridWithoutAUsableRecord_data()
    {
        QTest::addColumn<QByteArray>("board"); // empty: no device
        QTest::addColumn<bool>("deleted");     // the device goes after the dialog made its grid
        QTest::addColumn<QString>("logged");
        QTest::newRow("no device") << QByteArray() << false << "no keyboard";
        QTest::newRow("device deleted") << QByteArray("TK104 Dual") << true << "no keyboard";
        QTest::newRow("unknown board") << QByteArray("TK60") << false << "no board record named \"TK60\"";
        QTest::newRow("no rows") << QByteArray("No rows") << false << "KLER= 0 ";
        QTest::newRow("no width") << QByteArray("No width") << false << "KLEW= 0 ";
    }
    void noGridWithoutAUsableRecord()
    {
        QFETCH(QByteArray, board);
        QFETCH(bool, deleted);
        QFETCH(QString, logged);
        QVERIFY(open(board));
        QCOMPARE(m_dlg->network() != nullptr, deleted);
        if (deleted)
            m_dev.reset();
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QRegularExpression::escape(logged)));
        m_dlg->fileSelectedSlot(m_app.filePath("15x5.json"));
        QVERIFY(m_dlg->keyBtns().isEmpty() && child("importButton")->isVisible());
        QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
        drag(m_dlg.get(), Qt::RightButton, {300, 300}, {300, 300});
        m_dlg->networkBlockRightPressed();
        m_dlg->showNetwordPointSlot(0, 0);
        m_dlg->networkBlockLeftPressed(nullptr);
    }

    // However the user closes, the page hears it once; its own close and delete don't come back.
    void closeIsAskedOnce()
    {
        for (const QString how : {"closeButton", "cancelButton", "window system"}) {
            QVERIFY(open("TK104 Dual"));
            QPointer<BuildingBlock> dlg = m_dlg.release();
            QSignalSpy closed(dlg.data(), &BuildingBlock::emitClose);
            connect(dlg, &BuildingBlock::emitClose, dlg, [&dlg] { // as the settings page does
                dlg->close();
                dlg->deleteLater();
            });
            auto* button = dlg->findChild<QPushButton*>(how);
            button ? QTest::mouseClick(button, Qt::LeftButton) : void(dlg->close());
            QVERIFY2(closed.size() == 1, qPrintable(how));
            QTRY_VERIFY_WITH_TIMEOUT(!dlg, timescale::ms(10000));
        }
    }
};

QTEST_MAIN(LayoutEditor)
#include "test_layouteditor.moc"
