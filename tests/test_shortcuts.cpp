// The shortcuts page: rows made from the keyboard's slots, adding and deleting rows, texts by
// language, the hot key and the per-device shortcuts.xml.
#include "messageboxrecorder.h"
#include "shortcutssession.h"
#include "platform/globalshortcut.h"
#include "shortcut/shortcutskb.h"

#include <QDomDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

namespace {

// One line per item: name, id/hi/hitype, how many of btn0..btn3 it has, its child with sorted attributes.
QString describeFile(const QString& path)
{
    QDomDocument doc;
    if (!doc.setContent(readFile(path)))
        return QStringLiteral("unreadable");
    QStringList items;
    for (QDomElement e = doc.documentElement().firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        int buttons = 0;
        for (int j = 0; j < 4; ++j)
            buttons += e.hasAttribute(QStringLiteral("btn%1").arg(j));
        QString line = QStringLiteral("%1 %2/%3/%4 %5").arg(e.tagName(), e.attribute("id"), e.attribute("hi"),
                                                           e.attribute("hitype")).arg(buttons);
        const QDomElement child = e.firstChildElement();
        if (!child.isNull()) {
            QStringList attributes;
            for (int i = 0; i < child.attributes().count(); ++i)
                attributes << child.attributes().item(i).nodeName() + '=' + child.attributes().item(i).nodeValue();
            attributes.sort();
            line += ' ' + child.tagName() + '{' + attributes.join(',') + '}';
        }
        items << line;
    }
    return items.join(';');
}

QMap<int, int> websites(const QList<int>& ids)
{
    QMap<int, int> out;
    for (int id : ids)
        out[id] = 1;
    return out;
}

} // namespace

class ShortcutsPageTest : public QObject {
    Q_OBJECT
    MessageBoxRecorder m_boxes;

private slots:
    void cleanup() { sim::reset(); }

    // One row per used slot, made on timer ticks after load; the file follows the last one.
    void rowsFollowTheUsedSlots_data()
    {
        QTest::addColumn<QList<int>>("used");
        QTest::addColumn<int>("slotCount");
        QTest::addColumn<int>("added"); // the slot the add button takes, -1 refused at the row limit
        QTest::newRow("slots 0, 5 and 9") << QList<int>{0, 5, 9} << 16 << 1;
        QTest::newRow("none used") << QList<int>{} << 16 << 0;
        QList<int> forty;
        for (int i = 0; i < 40; ++i)
            forty << i;
        QTest::newRow("forty used: each gets a row, adding is refused") << forty << 48 << -1;
    }
    void rowsFollowTheUsedSlots()
    {
        QFETCH(QList<int>, used);
        QFETCH(int, slotCount);
        QFETCH(int, added);
        ShortcutsSession s;
        QVERIFY(s.start(websites(used), slotCount, 4, {}, false));
        QVERIFY(s.page->rows().isEmpty() && !s.page->initFinished());
        QTest::ignoreMessage(QtDebugMsg, "Shortcuts Create Item finished.");
        QVERIFY(s.waitForRows());
        QCOMPARE(s.rowIds(), used);
        QCOMPARE(describeFile(s.path).count("Website"), used.size());
        QVERIFY(s.page->addButton()->isEnabled());

        if (added < 0)
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Shortcuts item is Maxnum = +40 +, return\\.$"));
        s.page->itemAddButtonSlot();
        QCOMPARE(s.page->rows().size(), used.size() + (added < 0 ? 0 : 1));
        if (added >= 0)
            QCOMPARE(s.rowIds().last(), added);
    }

    // Ticked rows go once the keyboard has taken their slot as free; a refused write keeps its row
    // and a stopped device ends the deletion before anything is written.
    void deleteFreesTheTickedSlots_data()
    {
        QTest::addColumn<QList<int>>("ticked"); // rows, which hold slots 0..3
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QList<int>>("remaining");
        QTest::addColumn<QList<int>>("written"); // slots sent free
        QTest::addColumn<int>("added");
        QTest::newRow("slot 2, then add reuses it") << QList<int>{2} << "" << QList<int>{0, 1, 3} << QList<int>{2} << 2;
        QTest::newRow("three rows") << QList<int>{0, 1, 3} << "" << QList<int>{2} << QList<int>{0, 1, 3} << 0;
        QTest::newRow("refused write keeps its row")
            << QList<int>{1, 2} << "refused" << QList<int>{0, 1, 3} << QList<int>{1, 2} << 2;
        QTest::newRow("stopped device keeps them all")
            << QList<int>{1, 2} << "stopped" << QList<int>{0, 1, 2, 3} << QList<int>{} << 4;
    }
    void deleteFreesTheTickedSlots()
    {
        QFETCH(QList<int>, ticked);
        QFETCH(QString, fault);
        QFETCH(QList<int>, remaining);
        QFETCH(QList<int>, written);
        QFETCH(int, added);
        ShortcutsSession s;
        QVERIFY(s.start(websites({0, 1, 2, 3})));
        for (int i : ticked)
            s.row(i)->markChanged(true);
        if (fault == "refused")
            s.kb->kb->answerStatus(0x40, 0x20, 3, 1);
        else if (fault == "stopped")
            s.kb->device->requestStop();

        s.page->itemDeleteButtonSlot();
        QCOMPARE(s.rowIds(), remaining);
        QList<int> sent;
        for (const kf_t& r : s.written())
            sent << (r.used() ? -1 : r.id());
        QCOMPARE(sent, written);
        for (int id = 0; id < 4; ++id)
            QCOMPARE(s.table(id).used(), remaining.contains(id));
        for (ShortcutsItem* row : s.page->rows()) // a ticked row that stayed is still ticked
            QCOMPARE(row->isChecked(), !fault.isEmpty() && ticked.contains(row->record()->id()));
        s.page->itemAddButtonSlot();
        QCOMPARE(s.rowIds().last(), added);
    }

    // Buttons wait for a keyboard, showing their "-ban" images; every language but 0 is English.
    void buttonsStartDisabledAndLanguageSetsTexts_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("texts");
        QTest::newRow("Chinese") << 0 << QString::fromUtf8("快捷键|功能|参数设置|添加|下载|删除");
        QTest::newRow("2 is English") << 2 << "Shortcut key|Function|Parameter setting|Add|Download|Delete";
    }
    void buttonsStartDisabledAndLanguageSetsTexts()
    {
        QFETCH(int, language);
        QFETCH(QString, texts);
        ReaderAppDir app;
        QVERIFY(app.copyFiles(QFINDTESTDATA("../appdir/images"), QStringLiteral("images")));
        Shortcuts page(nullptr, nullptr);
        page.setLanguage(language);
        QStringList shown;
        for (const char* name : {"label_ShortcutKey", "label_Function", "label_ParameterSetting"})
            shown << page.findChild<QLabel*>(name)->text();
        for (QPushButton* b : {page.addButton(), page.downloadButton(), page.deleteButton()}) {
            QVERIFY(!b->isEnabled() && b->styleSheet().contains("-ban.svg"));
            shown << b->toolTip();
        }
        QCOMPARE(shown.join('|'), texts);
    }

    // Ctrl+D shows the panel only while it has a button, and hides it again.
    void hotKeyTogglesAPanelWithButtons()
    {
        ShortcutsSession s;
        QVERIFY(s.start({{0, 1}}));
        QString seen;
        for (int press = 0; press < 3; ++press) {
            if (press == 2)
                s.page->clearVirtualKeyboard();
            s.page->hotKey()->triggerForTest();
            seen += s.page->panel()->isVisible() ? '1' : '0';
        }
        QCOMPARE(seen, QString("100"));
    }

    // Each function type's child, the four key attributes always, the texts as the rows hold them.
    void fileHoldsOneItemPerRow()
    {
        ShortcutsSession s;
        QVERIFY(s.start({}));
        QCOMPARE(readFile(s.path), QByteArray("<?xml version = '1.0' encoding = 'UTF-8'?>\n<shortcuts/>\n"));
        for (const char* f : {"Website", "Document", "Folder", "LED", "Replace", "Lock", "Macro", "Swap", "Keyboard"})
            s.addRow(f);
        s.row(0)->websiteEdit()->setText("");
        s.row(2)->folderEdit()->setText("/tmp");
        s.row(3)->setLedBrightness(1);
        s.row(4)->replKeyList()[0]->setName("A");
        QCOMPARE(s.page->save(s.page->rows(), s.path), 0);
        QCOMPARE(describeFile(s.path),
                 QStringList({"item0 0/1/1 4 Website{web=}", "item1 1/2/2 4 DocApp{dir=C:/Windows/system32/calc.exe}",
                              "item2 2/3/3 4 FileFolder{dir=/tmp}", "item3 3/4/4 4 LEDBrightness{index=1}",
                              "item4 4/5/5 4 ReplaceKey{b0=A}", "item5 5/6/6 4 LockKey{}",
                              "item6 6/8/7 4 Macro{menuid=,number=1}", "item7 7/9/8 4", "item8 8/10/9 4"})
                     .join(';'));
        QVERIFY(readFile(s.path).contains("\n    <item0 "));
    }

    // Not before the rows are made; an unwritable place gives -2 and leaves what was there.
    void saveRefusals()
    {
        ShortcutsSession s;
        QVERIFY(s.start({{0, 1}}, 16, 4, {}, false));
        QTest::ignoreMessage(QtInfoMsg, "INFO: The shortcuts is'nt init finished.");
        QCOMPARE(s.page->save({}, s.path), -1);
        QVERIFY(s.waitForRows());
        QVERIFY(s.app.put("kb/taken/old", "old"));
        QCOMPARE(s.page->save(s.page->rows(), s.app.filePath("missing/shortcuts.xml")), -2);
        QCOMPARE(s.page->save(s.page->rows(), s.app.filePath("kb/taken")), -2);
        QCOMPARE(readFile(s.app.filePath("kb/taken/old")), QByteArray("old"));
    }

    // The web, document and folder texts come back with the next load; a function chosen but not
    // downloaded no longer matches the keyboard's record, so its text is not restored.
    void textsComeBackOnReload()
    {
        ShortcutsSession s;
        QVERIFY(s.start({{0, 1}, {1, 2}, {2, 3}, {3, 1}}));
        s.row(0)->websiteEdit()->setText("https://tessark.example.org");
        s.row(1)->documentEdit()->setText("/usr/bin/true");
        s.row(2)->folderEdit()->setText("/tmp");
        s.row(3)->functionMenu()->setCurrentText("Folder");
        s.row(3)->folderEdit()->setText("/var");
        s.page->requestSaveSlot();

        Shortcuts again(nullptr, nullptr);
        again.load("kf_test.xml", s.path, &s.pictureKeys, s.kb->device);
        QTRY_VERIFY(again.initFinished());
        const QList<ShortcutsItem*>& rows = again.rows();
        QCOMPARE(rows.size(), 4);
        QCOMPARE(QStringList({rows[0]->getWebsite(), rows[1]->getDocumentPath(), rows[2]->getFolderPath(),
                              rows[3]->getWebsite()}),
                 QStringList({"https://tessark.example.org", "/usr/bin/true", "/tmp", ""}));
    }
};

QTEST_MAIN(ShortcutsPageTest)
#include "test_shortcuts.moc"
