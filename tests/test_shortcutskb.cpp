// The launcher panel: one button per web, document or folder row, in record order, four to a row from
// the bottom; labels, tooltips, what a click opens, where the panel shows and how it is dragged.
#include "shortcut/shortcutsitem.h"
#include "shortcut/shortcutskb.h"
#include "widget/combobox.h"
#include "widget/keybtn.h"
#include "widget/qss.h"

#include <QDesktopServices>
#include <QLineEdit>
#include <QMap>
#include <QScreen>
#include <QtTest>

#include <deque>

namespace {

// Rows as the page makes them for a keyboard, without the keyboard: each with its own record, one
// function of a small catalogue (function number = type) and the text shortcuts.xml gave it.
class Rows {
public:
    ~Rows() { qDeleteAll(list); }
    ShortcutsItem* add(int id, int type, const QString& text = QString())
    {
        m_records.push_back(kf_t{});
        kf_t& record = m_records.back();
        record.bytes[0] = uint8_t(id);
        record.setUsed(true);
        record.setHi(type);
        auto* row = new ShortcutsItem(nullptr, &record, nullptr, &m_catalogue, &m_pictureKeys, QString(), nullptr);
        STCTS stored{uint32_t(id), uint32_t(type), uint32_t(type), text};
        row->showFunctionEditor(type, &stored);
        list.append(row);
        return row;
    }
    QList<ShortcutsItem*> list;

private:
    kffunc_t m_web{"Web", E_SCT_WEB, true, E_SCT_WEB, "", {}}, m_doc{"Doc", E_SCT_EDIT, true, E_SCT_EDIT, "", {}},
        m_folder{"Folder", E_SCT_FOLDER, true, E_SCT_FOLDER, "", {}}, m_led{"LED", E_SCT_LED, true, E_SCT_LED, "", {}};
    QVector<kffunc_t*> m_catalogue{&m_web, &m_doc, &m_folder, &m_led};
    QVector<KeyBtn*> m_pictureKeys;
    std::deque<kf_t> m_records; // the rows point into it
};

QStringList texts(const ShortcutsKB& panel)
{
    QStringList out;
    for (const CPushButton* b : panel.buttons())
        out << b->text();
    return out;
}

// A mouse event as the window system delivers it: `held` are the buttons down after it.
void sendMouse(QWidget& w, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held, const QPoint& global)
{
    QMouseEvent e(type, w.mapFromGlobal(global), global, button, held, Qt::NoModifier);
    QApplication::sendEvent(&w, &e);
}

} // namespace

class LauncherPanelTest : public QObject {
    Q_OBJECT
    QStringList m_opened; // what the desktop was asked to open

public slots:
    void openUrl(const QUrl& url) { m_opened << url.toString(); }

private slots:
    void initTestCase()
    {
        setAppDirPathForTest(QFINDTESTDATA("../appdir")); // only read
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openUrl");
    }
    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        setAppDirPathForTest(QString());
    }

    // The width allows for rows of four, the height counts rows of three.
    void sizeAndRowsFollowTheButtons_data()
    {
        QTest::addColumn<QString>("types"); // function type of each row; 4 (LED) gets no button
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("rows"); // buttons per row, bottom row first
        QTest::newRow("none") << "4" << QSize(150, 50) << "";
        QTest::newRow("one") << "1 4" << QSize(250, 90) << "1";
        QTest::newRow("two") << "1 2" << QSize(350, 90) << "2";
        QTest::newRow("three") << "1 2 3" << QSize(450, 90) << "3";
        QTest::newRow("four: one row") << "1 4 2 3 1" << QSize(450, 130) << "4";
        QTest::newRow("five: a second row above") << "1 2 3 1 2" << QSize(450, 130) << "4 1";
    }
    void sizeAndRowsFollowTheButtons()
    {
        QFETCH(QString, types);
        QFETCH(QSize, size);
        QFETCH(QString, rows);
        Rows page;
        int id = 0;
        for (const QString& type : types.split(' '))
            page.add(id++, type.toInt(), QStringLiteral("x"));
        ShortcutsKB panel;
        panel.addButtons(&page.list);
        panel.addButtons(&page.list); // a rebuild replaces the buttons
        QCOMPARE(panel.minimumSize(), size);
        QCOMPARE(panel.maximumSize(), size);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QMap<int, int> perRow; // by y, bottom row last
        for (const CPushButton* b : panel.buttons()) {
            QCOMPARE(b->size(), QSize(100, 40));
            ++perRow[b->mapTo(&panel, QPoint()).y()];
        }
        QStringList counts;
        for (auto it = perRow.constEnd(); it != perRow.constBegin();)
            counts << QString::number(*--it);
        QCOMPARE(counts.join(' '), rows);
        // Left to right within a row, in build order.
        for (int i = 1; i < qMin(4, panel.buttonCount()); ++i)
            QVERIFY(panel.buttons().at(i)->x() > panel.buttons().at(i - 1)->x());

        panel.clearButtons();
        QCOMPARE(panel.buttonCount(), 0);
        QVERIFY(panel.findChildren<CPushButton*>().isEmpty());
        QVERIFY(!panel.findChild<QWidget*>(QStringLiteral("widget"))->layout());
    }

    void buttonsFollowRecordIds()
    {
        Rows page;
        page.add(5, E_SCT_WEB, QStringLiteral("five"));
        page.add(1, E_SCT_WEB, QStringLiteral("one"));
        page.add(3, E_SCT_WEB, QStringLiteral("three"));
        ShortcutsKB panel;
        panel.addButtons(&page.list);
        QCOMPARE(texts(panel), (QStringList{"one", "three", "five"}));
    }

    void labelOfEachKind_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("label");
        QTest::newRow("one part") << 1 << "abc" << "abc";
        QTest::newRow("two parts") << 1 << "a.b" << "a.b";
        QTest::newRow("four parts: the middle two") << 1 << "a.b.c.d" << "b.c";
        QTest::newRow("empty part kept") << 1 << "a..b" << ".b";
        QTest::newRow("a break after 12 characters") << 1 << "https://www.example.com/x" << "example.com/\nx";
        QTest::newRow("24 characters: a break after each 12")
            << 1 << "www.abcdefghijk.mnopqrstuvwx" << "abcdefghijk.\nmnopqrstuvwx\n";
        QTest::newRow("program in capitals: product name (none here)") << 2 << "/opt/tool/Tool.EXE" << "";
        QTest::newRow("document: file name") << 2 << "/home/u/notes.v2.txt" << "notes.v2.txt";
        QTest::newRow("folder") << 3 << "/tmp" << QStringLiteral("文件目录");
    }
    void labelOfEachKind()
    {
        QFETCH(int, type);
        QFETCH(QString, text);
        QFETCH(QString, label);
        Rows page;
        page.add(0, type, text);
        ShortcutsKB panel;
        panel.addButtons(&page.list);
        QCOMPARE(panel.buttonCount(), 1);
        QCOMPARE(panel.buttons().first()->text(), label);
    }

    void toolTipShowsTheTriggerKeys_data()
    {
        QTest::addColumn<QStringList>("aliases");
        QTest::addColumn<QString>("tip");
        QTest::newRow("one line, blank keys left out") << QStringList{"Ctrl", "Alt", " ", ""} << "Ctrl+Alt";
        QTest::newRow("blank first key") << QStringList{" ", "A", "", ""} << "+A";
        // Key 0: L/2 spaces, width L; key 1 of one character: 2 and 2, so its "!" is cut; key 2 "Home":
        // 3 spaces and width 3 + 2 + 2; key 3 "Del": 3 spaces and width 3 + 1 + 1.
        QTest::newRow("second lines under their keys")
            << QStringList{"Fn\nx", "A\n!", "Home\nPg", "Del\nX"} << "Fn+A+Home+Del\n x     Pg     X ";
        QTest::newRow("blank second line keeps the width; key 1 cut to L + 1")
            << QStringList{"Ctrl\n ", "Esc\nab", "", ""} << "Ctrl+Esc\n       a";
    }
    void toolTipShowsTheTriggerKeys()
    {
        QFETCH(QStringList, aliases);
        QFETCH(QString, tip);
        Rows page;
        ShortcutsItem* row = page.add(0, E_SCT_WEB, QStringLiteral("a.b"));
        QCOMPARE(row->keyList().size(), 4);
        for (int k = 0; k < 4; ++k)
            row->keyList().at(k)->setAlias(aliases.at(k));
        QCOMPARE(ShortcutsKB::buttonToolTip(row), tip);
        ShortcutsKB panel;
        panel.addButtons(&page.list);
        QCOMPARE(panel.buttons().first()->toolTip(), tip);
    }

    // The click takes the row's function and text at the time of the click; label and tooltip stay
    // as built. The panel stays where it is.
    void clickActsOnTheRowAsItIsNow()
    {
        Rows page;
        ShortcutsItem* row = page.add(0, E_SCT_WEB, QStringLiteral("https://a.example/x"));
        ShortcutsKB panel;
        panel.addButtons(&page.list);
        CPushButton* button = panel.buttons().first();
        m_opened.clear();
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(m_opened, QStringList{"https://a.example/x"});

        row->websiteEdit()->setText(QStringLiteral("https://b.example/"));
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(m_opened.last(), QStringLiteral("https://b.example/"));
        QCOMPARE(button->text(), QStringLiteral("https://a.example/x"));

        row->functionMenu()->setCurrentText(QStringLiteral("Folder"));
        QVERIFY(row->folderEdit());
        row->folderEdit()->setText(QStringLiteral("/nonexistent/d"));
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(m_opened.last(), QStringLiteral("file:///nonexistent/d"));

        row->functionMenu()->setCurrentText(QStringLiteral("LED"));
        QCOMPARE(row->getFunctionType(), int(E_SCT_LED));
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(m_opened.size(), 3);
        QVERIFY(!panel.isVisible());
    }

    void showsNearTheBottomCentreAndDragsByItsBackground()
    {
        Rows page;
        page.add(0, E_SCT_WEB, QStringLiteral("abc"));
        ShortcutsKB panel;
        panel.addButtons(&page.list);
        panel.showAtDefaultPosition();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(panel.pos(), QPoint(screen.width() / 2 - 125, screen.height() - 200));

        const QPoint start = panel.pos(), grip = panel.mapToGlobal(QPoint(3, 3));
        const QPoint to = grip + QPoint(40, 30);
        sendMouse(panel, QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton, grip);
        sendMouse(panel, QEvent::MouseMove, Qt::NoButton, Qt::RightButton, to);
        QCOMPARE(panel.pos(), start);
        sendMouse(panel, QEvent::MouseButtonRelease, Qt::RightButton, Qt::NoButton, to);
        sendMouse(panel, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, grip);
        sendMouse(panel, QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, to);
        QCOMPARE(panel.pos(), start + QPoint(40, 30));
        sendMouse(panel, QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, to);
        sendMouse(panel, QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, grip); // a drag begun elsewhere
        QCOMPARE(panel.pos(), start + QPoint(40, 30));
    }
};

QTEST_MAIN(LauncherPanelTest)
#include "test_shortcutskb.moc"
