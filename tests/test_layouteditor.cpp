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

#include <QDirIterator>
#include <QPointer>
#include <QPushButton>
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
<board name="Too many columns" KLE="1" KLEW="40" KLEH="40" KLER="6" KLEC="257"/>
<board name="No width" KLE="1" KLEW="0" KLEH="40" KLER="6" KLEC="21"/>
</board_type></config>)";

QString look(const Block* b)
{
    const QString s = b->styleSheet();
    return s.contains("#ff4769") ? "high" : s.contains("#2eff23") ? "used" : "free";
}

void mouse(QWidget* w, QEvent::Type type, Qt::MouseButton button, QPoint local)
{
    QMouseEvent e(type, local, w->pos() + local, button, type == QEvent::MouseButtonRelease ? Qt::NoButton : button,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
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

    // The frame takes the layout's size, the keys their units' pixels; the grid, buttons and sliders move down.
    void layoutIsPlacedAboveTheGrid()
    {
        QVERIFY(open("TK104 Dual", "15x5.json"));
        const QList<QRect> placed{QRect(77, 50, 600, 200), QRect(30, 258, 671, 251), QRect(560, 554, 60, 24),
                                  QRect(640, 554, 60, 24), QRect(701, 258, 25, 264), QRect(30, 509, 684, 25)};
        QList<QRect> got;
        for (const char* name : {"keyboardLayout", "scrollArea", "applyButton", "cancelButton", "verticalSlider",
                                 "horizontalSlider"})
            got << child(name)->geometry();
        QCOMPARE(got, placed);
        QCOMPARE(m_dlg->size(), QSize(750, 603));
        QVERIFY(child("keyboardLayout")->isVisible() && !child("importButton")->isVisible());
        QCOMPARE(m_dlg->keyBtns()[5]->keyIndex(), 5);
        QCOMPARE(m_dlg->keyBtns()[5]->geometry(), QRect(0, 160, 38, 38));
        QCOMPARE(m_dlg->keyBtns()[1]->geometry(), QRect(80, 40, 58, 38));
        const QRect l = m_dlg->keyBtns()[2]->geometry();
        QCOMPARE(QRect(l.x(), l.y(), l.width() - 1, l.height()), QRect(140 - 10, 40, 58 + 10, 38)); // +1: L outline
        QVERIFY(m_dlg->keyBtns()[5]->name().trimmed().isEmpty()); // no legend until bound
        m_dlg->fileSelectedSlot(m_app.filePath("15x5.json")); // only one import
        QCOMPARE(m_dlg->keyBtns().size(), 6);
    }

    void gridIsCentredOrScrolled_data()
    {
        QTest::addColumn<QByteArray>("board");
        QTest::addColumn<int>("gridX");
        QTest::addColumn<QSize>("content");
        QTest::newRow("narrow grid centred") << QByteArray("TK104 Dual") << 123 << QSize(670, 155);
        QTest::newRow("wide grid scrolls") << QByteArray("Wide") << 0 << QSize(767, 83);
    }
    void gridIsCentredOrScrolled()
    {
        QFETCH(QByteArray, board);
        QFETCH(int, gridX);
        QVERIFY(open(board));
        QCOMPARE(m_dlg->network()->x(), gridX);
        QTEST(m_dlg->network()->parentWidget()->size(), "content");
        auto* area = static_cast<QScrollArea*>(child("scrollArea"));
        auto* slider = static_cast<QSlider*>(child("horizontalSlider"));
        QCOMPARE(static_cast<QSlider*>(child("verticalSlider"))->maximum(), 0);
        QCOMPARE(slider->maximum() > 0, gridX == 0);
        slider->setValue(slider->maximum());
        QCOMPARE(area->horizontalScrollBar()->value(), slider->maximum());
        const int right = m_dlg->network()->mapTo(area->viewport(), QPoint(m_dlg->network()->width(), 0)).x();
        QVERIFY2(right <= area->viewport()->width() + 1, qPrintable(QString::number(right))); // in view
    }

    // Bind, move to another free cell, refuse a used one, unbind on the key's own cell.
    void bindMoveRefuseUnbind()
    {
        QVERIFY(open("TK104 Dual", "15x5.json"));
        KeyBtn* a = m_dlg->keyBtns()[0];
        KeyBtn* b = m_dlg->keyBtns()[1];
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("Buildng block unchecked key , return\\.$"));
        QTest::mouseClick(cell(0, 0), Qt::LeftButton);
        QTest::mouseClick(a, Qt::LeftButton);
        QCOMPARE(m_dlg->selectedKey(), a);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("Building block: keybtn= 0 Network: row= 0 col= 0 checked= true$"));
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
        QTRY_COMPARE(m_dlg->titleRect(), QRectF(5, 5, 740, 35));
        const QPoint at = m_dlg->pos();
        for (int k : {0, 1}) { // Esc then a right press, then a right press alone
            QTest::mouseClick(m_dlg->keyBtns()[k], Qt::LeftButton);
            m_dlg->networkBlockLeftPressed(cell(2, k));
            if (k == 0) {
                QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
                QVERIFY(!m_dlg->selectedKey());
            }
            mouse(m_dlg.get(), QEvent::MouseButtonPress, Qt::RightButton, {300, 36});
            mouse(m_dlg.get(), QEvent::MouseMove, Qt::RightButton, {340, 66});
            mouse(m_dlg.get(), QEvent::MouseButtonRelease, Qt::RightButton, {340, 66});
            QVERIFY(!m_dlg->selectedKey());
            QCOMPARE(look(cell(2, k)), QStringLiteral("used"));
        }
        QCOMPARE(m_dlg->pos(), at);
        QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
        QVERIFY(m_dlg->isVisible() && closed.isEmpty());
        mouse(m_dlg.get(), QEvent::MouseButtonPress, Qt::LeftButton, {300, 35});
        mouse(m_dlg.get(), QEvent::MouseMove, Qt::LeftButton, {340, 65});
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
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("keybtn ID =  5 network: row= -1 col= -1$"));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("download data finished\\.$"));
        QTest::mouseClick(m_dlg->findChild<QPushButton*>("applyButton"), Qt::LeftButton);
        QTest::qWait(50);
        QCOMPARE(sentCount(f.kb), 0);
        QCOMPARE(filesBelow(m_app.path()), files);
        QVERIFY(m_dlg->isVisible());
        m_dlg.reset(); // before the device
    }

    void noGridWithoutAUsableRecord_data()
    {
        QTest::addColumn<QByteArray>("board"); // empty: no device
        QTest::addColumn<QString>("logged");
        QTest::newRow("no device") << QByteArray() << "no keyboard";
        QTest::newRow("unknown board") << QByteArray("TK60") << "no board record named \"TK60\"";
        QTest::newRow("no rows") << QByteArray("No rows") << "KLER= 0 ";
        QTest::newRow("257 columns") << QByteArray("Too many columns") << "KLEC= 257 ";
        QTest::newRow("no width") << QByteArray("No width") << "KLEW= 0 ";
    }
    void noGridWithoutAUsableRecord()
    {
        QFETCH(QByteArray, board);
        QFETCH(QString, logged);
        const QRegularExpression line(QRegularExpression::escape(logged));
        QTest::ignoreMessage(QtDebugMsg, line);
        QVERIFY(open(board) && !m_dlg->network());
        QTest::ignoreMessage(QtDebugMsg, line);
        m_dlg->fileSelectedSlot(m_app.filePath("15x5.json"));
        QVERIFY(m_dlg->keyBtns().isEmpty() && child("importButton")->isVisible());
        // Every path that would recolour a grid.
        QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
        mouse(m_dlg.get(), QEvent::MouseButtonPress, Qt::RightButton, {300, 300});
        m_dlg->networkBlockRightPressed();
        m_dlg->showNetwordPointSlot(0, 0);
        m_dlg->networkBlockLeftPressed(nullptr);
    }

    void deviceGoneBeforeImport()
    {
        QVERIFY(open("TK104 Dual") && m_dlg->network());
        m_dev.reset();
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("no keyboard"));
        m_dlg->fileSelectedSlot(m_app.filePath("15x5.json"));
        QVERIFY(m_dlg->keyBtns().isEmpty());
    }

    // An unreadable file leaves the import button for another try; a layout without keys ends the import.
    void unreadableThenEmptyLayout()
    {
        QVERIFY(open("TK104 Dual"));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("Parse JSON file error, return\\.$"));
        m_dlg->fileSelectedSlot(m_app.filePath("missing.json"));
        QVERIFY(child("importButton")->isVisible() && !child("keyboardLayout")->isVisible());
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("create keyboard error, keybtn size is zero\\.$"));
        m_dlg->fileSelectedSlot(m_app.filePath("empty.json"));
        QVERIFY(!child("importButton")->isVisible() && child("keyboardLayout")->isVisible());
        QCOMPARE(m_dlg->height(), 575);
    }

    // However the user closes, the page hears it once; its own close and delete don't come back.
    void closeIsAskedOnce_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("close button") << "closeButton";
        QTest::newRow("Cancel") << "cancelButton";
        QTest::newRow("window system") << "";
    }
    void closeIsAskedOnce()
    {
        QFETCH(QString, how);
        QVERIFY(open("TK104 Dual"));
        QPointer<BuildingBlock> dlg = m_dlg.release();
        QSignalSpy closed(dlg.data(), &BuildingBlock::emitClose);
        connect(dlg, &BuildingBlock::emitClose, dlg, [&dlg] { // as the settings page does
            dlg->close();
            dlg->deleteLater();
        });
        if (how.isEmpty())
            dlg->close();
        else
            QTest::mouseClick(dlg->findChild<QPushButton*>(how), Qt::LeftButton);
        QCOMPARE(closed.size(), 1);
        QTRY_VERIFY(!dlg);
    }
};

QTEST_MAIN(LayoutEditor)
#include "test_layouteditor.moc"
