// Text the tool did not write (file, folder, keyboard and macro names) shows as typed in boxes, labels
// and tooltips, never read as markup nor loading a file its markup names; a long box fits its screen.
#include "memoryuse.h"
#include "sanitizer.h"
#include "tempappdir.h"

#include "macro/macronotice.h"
#include "macro/macro.h"
#include "main/tessark.h"
#include "setting/buildingblock.h"
#include "shortcut/kfcatalogue.h"
#include "simcontrol.h"
#include "widget/filechooser.h"
#include "widget/keybtn.h"
#include "widget/kfwritefailurebox.h"
#include "widget/messagebox.h"
#include "widget/plaintext.h"
#include "widget/plaintooltips.h"
#include "timescale.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTabBar>
#include <QTableWidget>
#include <QHeaderView>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <algorithm>
#include <memory>

namespace {

QString asRead(Qt::TextFormat format, const QString& text)
{
    if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text)))
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}

// While it lives, closes every real message box; of the one whose text holds `holding` it notes the
// label's format, the text as Qt reads it, and whether the box and its first button fit the screen.
class BoxWatch : public QObject {
public:
    // answer: the button clicked on every box; Escape when none, Return's default with Return.
    explicit BoxWatch(const QString& holding, QMessageBox::StandardButton answer = QMessageBox::Escape)
    {
        connect(&m_poll, &QTimer::timeout, this, [this, holding, answer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            ++count;
            if (box->text().contains(holding) || box->detailedText().contains(holding)) {
                const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
                format = label ? label->textFormat() : Qt::AutoText;
                shown = label ? asRead(format, label->text()) : QString();
                details = box->detailedText();
                const QRect screen = box->screen()->availableGeometry(), frame = box->frameGeometry();
                const QAbstractButton* first = box->buttons().value(0);
                const QRect button = first ? QRect(first->mapToGlobal(QPoint(0, 0)), first->size()) : QRect();
                fits = frame.top() >= screen.top() && frame.bottom() <= screen.bottom() && !button.isEmpty()
                       && screen.contains(button);
                seen = true;
            }
            if (answer == QMessageBox::Default)
                QTest::keyClick(box, Qt::Key_Return);
            else if (QAbstractButton* button = box->button(answer))
                button->click();
            else
                box->reject();
        });
        m_poll.start(10);
    }
    bool seen = false, fits = false;
    int count = 0;
    Qt::TextFormat format = Qt::AutoText;
    QString shown, details;

private:
    QTimer m_poll;
};

// The changes a file dialog's file list offers on its first row: the entries of its context menu, and
// "F2 renames" when that key renamed the file.
QStringList changesOffered(QFileDialog* dialog)
{
    auto* view = dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"));
    if (!view || !QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) > 0; }, 5000))
        return {QStringLiteral("no file listed")};
    QStringList offered;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (const QAction* action : menu->actions()) {
            if (action->isVisible() && !action->isSeparator())
                offered << action->text().remove(QLatin1Char('&'));
        }
        menu->close();
    });
    poll.start(10);
    const QModelIndex first = view->model()->index(0, 0, view->rootIndex());
    emit view->customContextMenuRequested(view->visualRect(first).center());
    const QString folder = dialog->directory().path();
    const QStringList before = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    view->setCurrentIndex(first);
    QTest::keyClick(view, Qt::Key_F2);
    if (auto* editor = view->viewport()->findChild<QLineEdit*>()) {
        editor->setText(QStringLiteral("renamed"));
        QTest::keyClick(editor, Qt::Key_Return);
    }
    if (QTest::qWaitFor([&] { return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot) != before; }, 200))
        offered << QStringLiteral("F2 renames");
    view->selectionModel()->clear(); // what is chosen next is typed
    return offered;
}

} // namespace

class OutsideText : public QObject {
    Q_OBJECT
    TempAppDir m_app;
    std::unique_ptr<TempDir> m_folder;
    std::unique_ptr<Tessark> w;
    sim::KeyboardPtr kb;

    bool start(bool keyboard)
    {
        if (keyboard && !kb)
            kb = sim::plug(sim::fullSizeDual());
        w.reset(new Tessark(nullptr, QStringLiteral("None")));
        return !keyboard || QTest::qWaitFor([&] { return w->deviceLoaded(); }, timescale::ms(20000));
    }

    // The growth a row allows; the sanitizer's quarantine keeps what a box freed.
#ifdef TESSARK_ASAN
    static constexpr qint64 Allowed = 96 << 20;
#else
    static constexpr qint64 Allowed = 8 << 20;
#endif
    // A sparse file (no disk taken) eight times the allowed growth, its path with slashes as entities,
    // as a file name holds none: markup naming it as an image would read it whole.
    QString bigImageSource()
    {
        QFile big(m_folder->filePath("big"));
        if (!big.open(QIODevice::WriteOnly) || !big.resize(8 * Allowed))
            return QString();
        big.close();
        return big.fileName().replace(QLatin1Char('/'), QStringLiteral("&#47;"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_app.setUpForWindow(QFINDTESTDATA("../appdir")));
        QVERIFY(PlainToolTips::install()); // as the tool does at its start
    }
    void init() { m_folder.reset(new TempDir); }
    void cleanup() { w.reset(); kb.reset(); sim::reset(); }

    // A name with markup from a server's link file, a picked folder or a macro: the real box shows it as
    // plain text and reads none of the large file its markup names.
    void boxShowsTheNameAsTyped_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("image"); // name:size, in a folder named `folder`
        QTest::addColumn<bool>("keyboard");
        QTest::newRow("empty USB image") << "image" << "qv_usb_app_%1.bin:0" << true;
        QTest::newRow("USB image over 16 MiB") << "image" << "qv_usb_app_%1.bin:16777217" << true;
        QTest::newRow("SoftDevice too short") << "image" << "qv_bt_sd_%1.bin:4095" << true;
        QTest::newRow("Bluetooth image, no keyboard") << "image" << "qv_bt_app_%1.bin:960" << false;
        QTest::newRow("picked folder") << "folder" << "" << true;
        QTest::newRow("macro back on the page") << "macro" << "" << false;
    }
    void boxShowsTheNameAsTyped()
    {
        QFETCH(QString, source);
        QFETCH(QString, image);
        QFETCH(bool, keyboard);
        const qint64 allowed = Allowed;
        const QString bigSrc = bigImageSource();
        QVERIFY(!bigSrc.isEmpty());
        const QString name = QStringLiteral("<b>b<font color=red>r<h1>h &amp; <img src=%1>").arg(bigSrc);
        QVERIFY(start(keyboard));
        const QString folder = m_folder->filePath(source == "folder" ? "fw " + name : QStringLiteral("images"));
        QVERIFY(QDir().mkpath(folder));
        QFile file(folder + '/' + image.section(':', 0, 0).arg(name));
        QVERIFY(image.isEmpty()
                || (file.open(QIODevice::WriteOnly) && file.resize(image.section(':', 1).toLongLong())));
        QVERIFY(memoryuse::resetPeak());
        const qint64 before = memoryuse::residentBytes();
        BoxWatch watch(name);
        if (source == "macro")
            macronotice::backNotDownloaded(name);
        else
            w->updateSlot(folder);
        macronotice::flush(); // nothing pending unless a macro
        QVERIFY(QTest::qWaitFor([&] { return watch.seen; }, timescale::ms(10000)));
        QCOMPARE(int(watch.format), int(Qt::PlainText));
        QVERIFY2(watch.shown.contains(name), qPrintable(watch.shown));
        const qint64 grown = memoryuse::peakResidentBytes() - before;
        QVERIFY2(grown < allowed, qPrintable(QString::number(grown)));
    }

    // Where no platform dialog is offered, Qt's widget file dialog asks its own questions: each of the
    // tool's dialogs asks them as plain text, reading none of the large file a name's markup names, and
    // offers nothing that changes a file.
    void fileDialogsReadNoNameAsMarkup_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("act"); // replace: Save over the file; gone: Open a file removed meanwhile
        QTest::newRow("export over an existing file") << "export" << "replace";
        QTest::newRow("export over an existing file, Return") << "export" << "replace, Return";
        QTest::newRow("export over an existing file, Yes") << "export" << "replace, Yes";
        QTest::newRow("import of a file gone meanwhile") << "import" << "gone";
        QTest::newRow("firmware picker") << "firmware" << "";
        QTest::newRow("folder picker") << "folder" << "";
        QTest::newRow("layout import") << "layout" << "";
    }
    void fileDialogsReadNoNameAsMarkup()
    {
        QFETCH(QString, dialog);
        QFETCH(QString, act);
        const qint64 allowed = Allowed;
        const QString bigSrc = bigImageSource();
        QVERIFY(!bigSrc.isEmpty());
        const QString name = QStringLiteral("<b>bold<font color=red>red<img src=%1>.xml").arg(bigSrc);
        const QString folder = m_folder->filePath("files");
        QVERIFY(QDir().mkpath(folder + "/sub " + name));
        QFile named(folder + '/' + name);
        QVERIFY2(named.open(QIODevice::WriteOnly) && named.write("kept") == 4,
                 qPrintable(named.fileName() + named.errorString()));
        named.close();
        QVERIFY(start(false));
        w->labelPageClickSlot(QStringLiteral("Macro"));

        QStringList offered;
        const auto offersNoChange = [&] {
            QVERIFY2(!offered.isEmpty() && !offered.contains("no file listed"), qPrintable(offered.join('|')));
            for (const char* change : {"Delete", "Rename", "New Folder", "F2 renames"})
                QVERIFY2(!offered.contains(change), qPrintable(offered.join('|')));
        };
        QPointer<QFileDialog> shown;
        if (dialog == "firmware" || dialog == "folder") {
            // The choosers run their dialog's own event loop.
            QTimer::singleShot(0, [&] {
                QVERIFY(QTest::qWaitFor([&] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()); }));
                shown = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                offered = changesOffered(shown);
                shown->reject();
            });
            if (dialog == "firmware")
                filechooser::getOpenFileName(nullptr, "Open File", folder, QString());
            else
                filechooser::getExistingDirectory(nullptr, "Open Folder", folder);
            QVERIFY(shown.isNull() || !shown->isVisible());
            offersNoChange();
        } else {
            std::unique_ptr<BuildingBlock> layout;
            if (dialog == "layout")
                layout.reset(new BuildingBlock(nullptr, nullptr));
            shown = dialog == "export" ? w->macroPage()->exportDialog()
                  : dialog == "import" ? w->macroPage()->importDialog()
                                       : layout->findChild<QFileDialog*>();
            QVERIFY(shown);
            shown->setOption(QFileDialog::DontUseNativeDialog);
            shown->setNameFilter(QString());
            shown->setDirectory(folder);
            shown->show();
            offered = changesOffered(shown);
            offersNoChange();
            if (QTest::currentTestFailed())
                return;
            if (!act.isEmpty()) {
                QVERIFY(memoryuse::resetPeak());
                const qint64 before = memoryuse::residentBytes();
                BoxWatch watch(name, act.endsWith("Yes")      ? QMessageBox::Yes
                                     : act.endsWith("Return") ? QMessageBox::Default
                                                              : QMessageBox::Escape);
                QSignalSpy chosen(shown.data(), &QFileDialog::fileSelected);
                shown->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(name);
                if (act == "gone")
                    QVERIFY(QFile::remove(folder + '/' + name));
                QMetaObject::invokeMethod(shown, "accept"); // as the Save or Open button does
                QVERIFY(watch.seen);
                QCOMPARE(int(watch.format), int(Qt::PlainText));
                QVERIFY2(watch.shown.startsWith(name + (act == "gone" ? "\n" : " ")), qPrintable(watch.shown));
                const qint64 grown = memoryuse::peakResidentBytes() - before;
                QVERIFY2(grown < allowed, qPrintable(QString::number(grown)));
                QCOMPARE(watch.count, 1); // asked once, by the tool
                if (act.endsWith("Yes")) {
                    QCOMPARE(chosen.size(), 1);
                    QCOMPARE(chosen.at(0).at(0).toString(), folder + '/' + name);
                    return;
                }
                QVERIFY(QFile::exists(folder + '/' + name) == act.startsWith("replace"));
                QCOMPARE(readFile(folder + '/' + name), QByteArray(act == "gone" ? "" : "kept"));
                QCOMPARE(chosen.size(), 0);
                QVERIFY(shown->isVisible()); // no answer yet: the dialog stays
            }
            shown->reject();
        }
    }

    // A text outgrowing the screen keeps the box within its available height with its button on it, and
    // what is said about a long name in view: the name is cut, whole characters only, and the details
    // hold the whole text. The caller's own markup is read as markup.
    void boxFitsTheScreen_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("kept"); // in view
        QString lines;
        for (int i = 0; i < 60; ++i)
            lines += QStringLiteral("Macro %1 is back on the page; download it to keep it on the keyboard.\n\n").arg(i);
        const QString reason = QStringLiteral("qv_usb_app_1.bin: is empty");
        QTest::newRow("60 paragraphs") << lines << int(Qt::PlainText) << "Macro 59 is back";
        QTest::newRow("one word of 20000 letters") << QString(20000, QLatin1Char('w')) << int(Qt::PlainText) << "www";
        QTest::newRow("one word of 16000 letters, measured") << QString(16000, QLatin1Char('w')) << int(Qt::PlainText)
                                                            << "www";
        QTest::newRow("name with 78 line separators")
            << "/home/u/fw " + QString(78, QChar::LineSeparator) + "x/" + reason << int(Qt::PlainText) << reason;
        QTest::newRow("name of 78 lines") << "/home/u/" + QString("fw\n").repeated(78) + reason << int(Qt::PlainText)
                                          << reason;
        const QString faces = QString::fromUtf8("\xF0\x9F\x98\x80").repeated(200); // outside the BMP
        QTest::newRow("characters outside the BMP at the cuts")
            << QString("a" + faces + "b\n").repeated(40) + reason << int(Qt::PlainText) << reason;
        const QString path = "/home/u/" + QString("long folder name/").repeated(294) + "macros-end.xml";
        QTest::newRow("path of 5000 characters, then the reason") << path + "\nis not writable: the disk is full"
                                                                  << int(Qt::PlainText) << "macros-end.xml";
        const QString empty300(301, QLatin1Char('\n'));
        QTest::newRow("A, 300 empty lines, B, 300 empty lines, C") << "A" + empty300 + "B" + empty300 + "C"
                                                                   << int(Qt::PlainText) << "B";
        QTest::newRow("own markup, 60 paragraphs")
            << QString(lines).replace("\n\n", "<br><br>").prepend("<b>Macros</b><br>") << int(Qt::RichText)
            << "Macro 59 is back";
        QTest::newRow("own markup, short") << QStringLiteral("<b>Macros</b> are back") << int(Qt::RichText)
                                           << "Macros are back";
    }
    void boxFitsTheScreen()
    {
        QFETCH(QString, text);
        QFETCH(int, format);
        QFETCH(QString, kept);
        MessageBoxRequest request;
        request.kind = MessageBoxRequest::Warning;
        request.text = text;
        request.textFormat = Qt::TextFormat(format);
        BoxWatch watch{QString()}; // every box
        messagebox::show(request);
        QVERIFY(watch.seen && watch.fits);
        // No half of a character outside the BMP, which UTF-8 could not carry.
        QVERIFY2(watch.shown.contains(kept) && QString::fromUtf8(watch.shown.toUtf8()) == watch.shown,
                 qPrintable(watch.shown.left(2000)));
        // Cut in the middle, the end is kept at least as fully as the start: what is said about a name
        // comes after it.
        const QStringList shown = watch.shown.split('\n');
        const int cut = shown.indexOf(QStringLiteral("…")), pointer = shown.lastIndexOf(QStringLiteral("…"));
        QVERIFY2(cut == pointer || pointer - cut - 1 >= cut, qPrintable(watch.shown.left(2000)));
        if (text.size() < 100)
            QCOMPARE(watch.shown, kept);
        else if (format == Qt::PlainText)
            QCOMPARE(watch.details, QString(text).replace(QChar::LineSeparator, '\n')); // as the field gives it back
    }

    // A box that builds its own markup asks for it to be read as markup: the user sees its red text,
    // not its tags.
    void ownMarkupShowsAsMeant_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("shown");
        QTest::newRow("key function write failed") << "write" << "Set KF Item failed! ERROR: 7. application";
        QTest::newRow("key function name not in the catalogue") << "name" << "get menu index funcHI failed. index is -1. ";
    }
    void ownMarkupShowsAsMeant()
    {
        QFETCH(QString, box);
        QFETCH(QString, shown);
        kffunc_t web;
        web.name = QStringLiteral("Web");
        web.hi = 1;
        web.enable = true;
        const QVector<kffunc_t*> catalogue{&web};
        BoxWatch watch(shown.section(' ', 0, 2));
        if (box == "write")
            showKFWriteFailureBox(7);
        else
            QCOMPARE(kfcatalogue::hiOfName(&catalogue, QStringLiteral("Unknown")), -1);
        QVERIFY(watch.seen);
        QCOMPARE(int(watch.format), int(Qt::RichText));
        QCOMPARE(watch.shown, shown);
    }

    // A tooltip, read as Qt reads it (rich when it looks like markup), gives back the text as typed,
    // its spaces and lines too. Hovered, every tool tip shows so, Qt's own widgets' in the tool's file
    // dialog too, cut to a bounded length and reading none of the large file a name's markup names;
    // only the tool's own markup reads as markup.
    void toolTipShowsTheTextAsTyped_data()
    {
        QTest::addColumn<QString>("text"); // %1: a large file's path
        QTest::addColumn<QString>("hovered"); // empty: only made plain
        QTest::newRow("tag") << "<b>Ctrl</b>+<img src=&#47;dev&#47;zero>" << "";
        QTest::newRow("escaped tag") << "&lt;b&gt; Fn" << "";
        QTest::newRow("ampersand alone") << "Fn & Ctrl" << "";
        QTest::newRow("aligned two lines") << "<i>Ctrl+Alt\n   Fn     Del" << "";
        // A folder's name holds no slash: its markup names the file by entities.
        const QString name = QStringLiteral("<b>bold <font color=red>red <img src=%1>");
        QTest::newRow("import dialog's sidebar place") << name << "import";
        QTest::newRow("export dialog's sidebar place") << name << "export";
        QTest::newRow("a button's own") << name << "button";
        QTest::newRow("a button's own, over its label without one") << name << "child";
        QTest::newRow("a tab's") << name << "tab";
        QTest::newRow("a menu action's") << name << "menu";
        QTest::newRow("a table's column header") << name << "header";
        QTest::newRow("a button's own, 100000 characters") << name + QString(100000, 'n') + "end" << "button";
        QTest::newRow("the tool's own markup") << name << "markup";
    }
    void toolTipShowsTheTextAsTyped()
    {
        QFETCH(QString, text);
        QFETCH(QString, hovered);
        if (hovered.isEmpty()) {
            QCOMPARE(asRead(Qt::AutoText, plaintext::toolTip(text)), text);
            return;
        }
        const qint64 allowed = Allowed;
        const QString bigSrc = bigImageSource();
        QVERIFY(!bigSrc.isEmpty());
        const QString name = text.arg(bigSrc);
        QString expected = name;
        QWidget* target = nullptr;
        QPoint at;
        QPushButton button(QStringLiteral("key"));
        QTabBar tabs;
        QMenu menu;
        QTableWidget table(1, 1);
        QLabel child(QStringLiteral("legend"), &button);
        if (hovered == "button" || hovered == "markup" || hovered == "child") {
            if (hovered == "markup")
                PlainToolTips::setMarkupToolTip(&button, plaintext::toolTip(name));
            else
                button.setToolTip(name);
            button.show();
            target = hovered == "child" ? static_cast<QWidget*>(&child) : &button;
            at = target->rect().center();
        } else if (hovered == "tab") {
            tabs.setTabToolTip(tabs.addTab(QStringLiteral("tab")), name);
            tabs.show();
            target = &tabs;
            at = tabs.tabRect(0).center();
        } else if (hovered == "menu") {
            menu.setToolTipsVisible(true);
            menu.addAction(QStringLiteral("action"))->setToolTip(name);
            menu.popup(QPoint(0, 0));
            target = &menu;
            at = menu.actionGeometry(menu.actions().value(0)).center();
        } else if (hovered == "header") {
            table.setHorizontalHeaderItem(0, new QTableWidgetItem(QStringLiteral("column")));
            table.horizontalHeaderItem(0)->setToolTip(name);
            table.show();
            target = table.horizontalHeader()->viewport();
            at = QPoint(table.horizontalHeader()->sectionViewportPosition(0) + 5, 5);
        } else {
            const QString folder = m_folder->filePath(name);
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(start(false));
            w->labelPageClickSlot(QStringLiteral("Macro"));
            QFileDialog* dialog = hovered == "import" ? w->macroPage()->importDialog() : w->macroPage()->exportDialog();
            dialog->setOption(QFileDialog::DontUseNativeDialog);
            dialog->setNameFilter(QString());
            dialog->setSidebarUrls({QUrl::fromLocalFile(folder)});
            dialog->setDirectory(folder);
            dialog->show();
            auto* view = dialog->findChild<QAbstractItemView*>(QStringLiteral("sidebar"));
            QVERIFY(view);
            QModelIndex item;
            QVERIFY(QTest::qWaitFor([&] {
                for (int row = 0; row < view->model()->rowCount(view->rootIndex()) && !item.isValid(); ++row) {
                    const QModelIndex at = view->model()->index(row, 0, view->rootIndex());
                    if (at.data(Qt::ToolTipRole).toString().contains(name))
                        item = at;
                }
                return item.isValid();
            }, timescale::ms(10000)));
            expected = item.data(Qt::ToolTipRole).toString();
            target = view->viewport();
            at = view->visualRect(item).center();
        }
        QVERIFY(memoryuse::resetPeak());
        const qint64 before = memoryuse::residentBytes();
        QHelpEvent help(QEvent::ToolTip, at, target->mapToGlobal(at));
        QApplication::sendEvent(target, &help);
        QLabel* tip = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == "qtooltip_label" && top->isVisible())
                tip = qobject_cast<QLabel*>(top);
        }
        QVERIFY(tip);
        const QString shown = asRead(tip->textFormat(), tip->text());
        QToolTip::hideText();
        const qint64 grown = memoryuse::peakResidentBytes() - before;
        QVERIFY2(grown < allowed, qPrintable(QString::number(grown)));
        if (expected.size() > PlainToolTips::MaxChars)
            QVERIFY2(shown.size() <= PlainToolTips::MaxChars && shown.startsWith(name.left(100))
                         && shown.endsWith("nnnend"),
                     qPrintable(shown.left(2000)));
        else
            QCOMPARE(shown, expected);
    }

    // A keyboard whose board name, family file, Bluetooth name and key palette hold markup: across the
    // main window's pages no label or tooltip (a key's among them) reads that text as markup.
    void windowShowsNoOutsideTextAsMarkup()
    {
        const QByteArray original = readFile(m_app.filePath("config/config.xml"));
        QVERIFY(original.contains("name=\"TK104 Dual\""));
        QVERIFY(m_app.write("config/config.xml",
                            QByteArray(original).replace("name=\"TK104 Dual\"", "name=\"TK104 &lt;b&gt;Dual\"")));
        const QByteArray palette = readFile(m_app.filePath("config/staticWin.xml"));
        QVERIFY(palette.contains("name=\"Esc\""));
        QVERIFY(m_app.write("config/staticWin.xml",
                            QByteArray(palette).replace("name=\"Esc\"", "name=\"&lt;i&gt;Bold Esc&lt;img src=x&gt;\"")));
        // The pages read the palette again: it stays until the end.
        const std::shared_ptr<void> restore(nullptr, [&](void*) { m_app.write("config/staticWin.xml", palette); });
        kb = sim::plug(sim::fullSizeDual());
        kb->edit([](sim::FirmwareState& s) {
            s.boardName = QByteArray("TK104 <b>Dual").leftJustified(16, '\0');
            s.btName = QByteArray("<i>B&amp;").leftJustified(12, '\0');
        });
        const bool loaded = start(true);
        QVERIFY(m_app.write("config/config.xml", original));

        QVERIFY(loaded);
        const auto outside = [](const QString& text) { return text.contains("<b>Dual") || text.contains("<i>B"); };
        int holding = 0;
        QStringList markup;
        for (const char* page : {"KEY", "COLOR", "SHORTCUTS", "Setting", "MACRO"}) {
            w->labelPageClickSlot(QString::fromLatin1(page));
            QCoreApplication::processEvents();
            for (QWidget* widget : QApplication::allWidgets()) {
                if (outside(widget->toolTip()))
                    markup << "tooltip: " + widget->toolTip();
                const auto* label = qobject_cast<QLabel*>(widget);
                if (!label || !outside(label->text()))
                    continue;
                ++holding;
                if (asRead(label->textFormat(), label->text()) != label->text())
                    markup << label->objectName() + ": " + label->text();
            }
        }
        QVERIFY(holding > 0); // the product name at least
        QVERIFY2(markup.isEmpty(), qPrintable(markup.join('|')));
        // The key's tooltip as Qt reads it: the name as typed.
        const auto named = std::find_if(w->dynamicKeyBtns().cbegin(), w->dynamicKeyBtns().cend(), [](const KeyBtn* key) {
            return asRead(Qt::AutoText, key->toolTip()) == QStringLiteral("<i>Bold Esc<img src=x>");
        });
        QVERIFY(named != w->dynamicKeyBtns().cend());
        // And what a hover over it shows: nothing (the picture's keys keep their tips to themselves) or
        // the name as typed, neither read as markup nor with its escapes.
        QTRY_VERIFY_WITH_TIMEOUT(w->initFinished(), timescale::ms(20000));
        w->labelPageClickSlot(QStringLiteral("staticLayout")); // the key page: the picture shows
        w->show();
        KeyBtn* key = *named;
        QVERIFY(QTest::qWaitForWindowExposed(w.get()) && key->isVisible());
        QHelpEvent help(QEvent::ToolTip, key->rect().center(), key->mapToGlobal(key->rect().center()));
        QApplication::sendEvent(key, &help);
        QLabel* tip = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == "qtooltip_label" && top->isVisible())
                tip = qobject_cast<QLabel*>(top);
        }
        const QString shown = tip ? asRead(tip->textFormat(), tip->text()) : QString();
        QToolTip::hideText();
        QVERIFY2(!tip || shown == QStringLiteral("<i>Bold Esc<img src=x>"), qPrintable(shown));
    }
};

QTEST_MAIN(OutsideText)
#include "test_outsidetext.moc"
