// The launcher panel: one button per web, document or folder row, in record order, four to a row from
// the bottom; labels, tooltips, what a click opens and how the panel is dragged.
#include "shortcut/shortcutsitem.h"
#include "shortcut/shortcutskb.h"
#include "widget/combobox.h"
#include "widget/keybtn.h"
#include "widget/qss.h"

#include <QDesktopServices>
#include <QLineEdit>
#include <QtTest>
#include <deque>

class LauncherPanelTest : public QObject {
    Q_OBJECT
    // Rows as the page makes them, without a keyboard: own record, function (number = type), shortcuts.xml text.
    struct Rows {
        ~Rows() { qDeleteAll(list); }
        ShortcutsItem* add(int id, int type, const QString& text)
        {
            records.emplace_back(kf_t{{uint8_t(0x40 | id)}}).setHi(type); // slot id, used
            list << new ShortcutsItem(nullptr, &records.back(), nullptr, &catalogue, &pictureKeys, QString(), nullptr);
            STCTS stored{uint32_t(id), uint32_t(type), uint32_t(type), text};
            list.last()->showFunctionEditor(type, &stored);
            return list.last();
        }
        QList<ShortcutsItem*> list;
        kffunc_t web{"Web", 1, true, E_SCT_WEB, {}, {}}, doc{"Doc", 2, true, E_SCT_EDIT, {}, {}},
            folder{"Folder", 3, true, E_SCT_FOLDER, {}, {}}, led{"LED", 4, true, E_SCT_LED, {}, {}};
        QVector<kffunc_t*> catalogue{&web, &doc, &folder, &led};
        QVector<KeyBtn*> pictureKeys;
        std::deque<kf_t> records; // the rows point into it
    };
    QStringList m_opened; // what the desktop was asked to open

public:
    LauncherPanelTest() // the URL handlers go with this object
    {
        setAppDirPathForTest(QFINDTESTDATA("../appdir")); // only read
        for (const char* scheme : {"https", "file"})
            QDesktopServices::setUrlHandler(scheme, this, "openUrl");
    }
    Q_INVOKABLE void openUrl(const QUrl& url) { m_opened << url.toString(); }

private slots:
    // Rows of four, the height counts rows of three. The labels show the falling record ids: buttons follow them.
    void sizeAndRowsFollowTheButtons_data()
    {
        QTest::addColumn<QString>("types"); // function type of each row; 4 (LED) gets no button
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("rows"); // the labels of each row, left to right, bottom row first
        QTest::newRow("none") << "4" << QSize(150, 50) << "";
        QTest::newRow("four: one row") << "1 4 2 2 1" << QSize(450, 130) << "5679";
        QTest::newRow("five: a second row above") << "2 1 2 1 2" << QSize(450, 130) << "5678 9";
    }
    void sizeAndRowsFollowTheButtons()
    {
        QFETCH(QString, types);
        Rows page;
        for (const QString& type : types.split(' '))
            page.add(9 - page.list.size(), type.toInt(), QString::number(9 - page.list.size()));
        ShortcutsKB panel;
        panel.addButtons(&page.list);
        panel.addButtons(&page.list); // a rebuild replaces the buttons
        QTEST(panel.minimumSize(), "size");
        panel.show();
        QMap<int, QMap<int, QString>> rows; // by -y and x
        for (const CPushButton* b : panel.buttons())
            rows[-b->mapTo(&panel, QPoint()).y()][b->x()] = b->text();
        QStringList shown;
        for (const auto& row : qAsConst(rows))
            shown << QStringList(row.values()).join(QString());
        QTEST(shown.join(' '), "rows");
        panel.clearButtons();
        QVERIFY(!panel.buttonCount() && panel.findChildren<CPushButton*>().isEmpty());
        QVERIFY(!panel.findChild<QWidget*>(QStringLiteral("widget"))->layout()); // nor the rows' layouts
    }

    // The label of each kind, and the tooltip with the trigger keys ("|" between their aliases).
    void labelAndToolTip_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("aliases");
        QTest::addColumn<QString>("tip");
        QTest::newRow("two parts: as it is; blank keys left out") << 1 << "a.b" << "a.b" << "Ctrl|Alt| |" << "Ctrl+Alt";
        QTest::newRow("four parts: the middle two, empty kept; blank first key") << 1 << "a..c.d" << ".c" << " |A||" << "+A";
        QTest::newRow("breaks at 12, 24") << 1 << "www.abcdefghijk.mnopqrstuvwx" << "abcdefghijk.\nmnopqrstuvwx\n" << "" << "";
        QTest::newRow("program in capitals: product name (none here)") << 2 << "/opt/tool/Tool.EXE" << "" << "" << "";
        // Second lines: key 0 L/2 spaces, width L; key 1 (one character) 2 and 2, its "!" cut; "Home" 3 and 3 + 2 + 2.
        QTest::newRow("document: file name; second lines under their keys") << 2 << "/home/u/notes.v2.txt" << "notes.v2.txt"
            << "Fn\nx|A\n!|Home\nPg|Del\nX" << "Fn+A+Home+Del\n x     Pg     X ";
        QTest::newRow("folder; a blank second line keeps the width, key 1 cut to L + 1")
            << 3 << "/tmp" << QStringLiteral("文件目录") << "Ctrl\n |Esc\nab" << "Ctrl+Esc\n       a";
    }
    void labelAndToolTip()
    {
        QFETCH(int, type);
        QFETCH(QString, text);
        QFETCH(QString, aliases);
        Rows page;
        ShortcutsItem* row = page.add(0, type, text);
        for (int k = 0; k < row->keyList().size(); ++k)
            row->keyList().at(k)->setAlias(aliases.split('|').value(k));
        ShortcutsKB panel;
        panel.addButtons(&page.list);
        QCOMPARE(panel.buttonCount(), 1);
        QTEST(panel.buttons().first()->text(), "label");
        QTEST(panel.buttons().first()->toolTip(), "tip");
    }

    // A click takes the row's function and text at the time of the click; the label stays as built and
    // the panel as it is. Only a left-button press on the background drags the panel.
    void clickActsOnTheRowAsItIsNowAndTheBackgroundDrags()
    {
        Rows page;
        ShortcutsItem* row = page.add(0, E_SCT_WEB, QStringLiteral("https://a.example/x"));
        ShortcutsKB panel;
        panel.addButtons(&page.list);
        CPushButton* button = panel.buttons().first();
        row->websiteEdit()->setText(QStringLiteral("https://b.example/"));
        QTest::mouseClick(button, Qt::LeftButton);
        row->functionMenu()->setCurrentText(QStringLiteral("Folder"));
        row->folderEdit()->setText(QStringLiteral("/nonexistent/d"));
        QTest::mouseClick(button, Qt::LeftButton);
        row->functionMenu()->setCurrentText(QStringLiteral("LED"));
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(m_opened, (QStringList{"https://b.example/", "file:///nonexistent/d"}));
        QVERIFY(button->text() == QStringLiteral("https://a.example/x") && !panel.isVisible());

        panel.showAtDefaultPosition();
        const auto send = [&panel](QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons heldAfter, const QPoint& at) {
            QMouseEvent e(type, panel.mapFromGlobal(at), at, button, heldAfter, Qt::NoModifier);
            QApplication::sendEvent(&panel, &e);
        };
        const QPoint start = panel.pos(), grip = panel.mapToGlobal(QPoint(3, 3)), to = grip + QPoint(40, 30);
        for (const Qt::MouseButton b : {Qt::RightButton, Qt::LeftButton}) {
            send(QEvent::MouseButtonPress, b, b, grip);
            send(QEvent::MouseMove, Qt::NoButton, b, to);
            QCOMPARE(panel.pos(), b == Qt::LeftButton ? start + QPoint(40, 30) : start);
            send(QEvent::MouseButtonRelease, b, Qt::NoButton, to);
        }
        send(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, grip); // a drag begun elsewhere
        QCOMPARE(panel.pos(), start + QPoint(40, 30));
    }
};

QTEST_MAIN(LauncherPanelTest)
#include "test_shortcutskb.moc"
