// Text the tool did not write (file, folder, keyboard and macro names) shows as typed in boxes, labels
// and tooltips, never read as markup nor loading a file its markup names; a long box fits its screen.
#include "memoryuse.h"
#include "sanitizer.h"
#include "tempappdir.h"

#include "macro/macronotice.h"
#include "main/tessark.h"
#include "simcontrol.h"
#include "widget/messagebox.h"
#include "widget/plaintext.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
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
    explicit BoxWatch(const QString& holding)
    {
        connect(&m_poll, &QTimer::timeout, this, [this, holding] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            if (box->text().contains(holding) || box->detailedText().contains(holding)) {
                const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
                format = label ? label->textFormat() : Qt::AutoText;
                shown = label ? asRead(format, label->text()) : QString();
                const QRect screen = box->screen()->availableGeometry(), frame = box->frameGeometry();
                const QAbstractButton* first = box->buttons().value(0);
                const QRect button = first ? QRect(first->mapToGlobal(QPoint(0, 0)), first->size()) : QRect();
                fits = frame.top() >= screen.top() && frame.bottom() <= screen.bottom() && !button.isEmpty()
                       && screen.contains(button);
                seen = true;
            }
            box->reject();
        });
        m_poll.start(10);
    }
    bool seen = false, fits = false;
    Qt::TextFormat format = Qt::AutoText;
    QString shown;

private:
    QTimer m_poll;
};

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
        return !keyboard || QTest::qWaitFor([&] { return w->deviceLoaded(); }, 20000);
    }

private slots:
    void initTestCase() { QVERIFY(m_app.setUpForWindow(QFINDTESTDATA("../appdir"))); }
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
#ifdef TESSARK_ASAN
        const qint64 allowed = 96 << 20; // the sanitizer's quarantine keeps what a box freed
#else
        const qint64 allowed = 8 << 20;
#endif
        QFile big(m_folder->filePath("big"));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(8 * allowed)); // sparse: no disk taken
        big.close();
        // Slashes as entities, as a file name holds none.
        const QString name = QStringLiteral("<b>b<font color=red>r<h1>h &amp; <img src=%1>")
                                 .arg(big.fileName().replace(QLatin1Char('/'), QStringLiteral("&#47;")));
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
        QVERIFY(QTest::qWaitFor([&] { return watch.seen; }, 5000));
        QCOMPARE(int(watch.format), int(Qt::PlainText));
        QVERIFY2(watch.shown.contains(name), qPrintable(watch.shown));
        const qint64 grown = memoryuse::peakResidentBytes() - before;
        QVERIFY2(grown < allowed, qPrintable(QString::number(grown)));
    }

    // A text outgrowing the screen keeps the box within its available height with its button on it; the
    // caller's own markup is read as markup.
    void boxFitsTheScreen_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("format");
        QString lines;
        for (int i = 0; i < 60; ++i)
            lines += QStringLiteral("Macro %1 is back on the page; download it to keep it on the keyboard.\n\n").arg(i);
        QTest::newRow("60 paragraphs") << lines << int(Qt::PlainText);
        QTest::newRow("one word of 20000 letters") << QString(20000, QLatin1Char('w')) << int(Qt::PlainText);
        QTest::newRow("own markup, 60 paragraphs")
            << QString(lines).replace("\n\n", "<br><br>").prepend("<b>Macros</b><br>") << int(Qt::RichText);
        QTest::newRow("own markup, short") << QStringLiteral("<b>Macros</b> are back") << int(Qt::RichText);
    }
    void boxFitsTheScreen()
    {
        QFETCH(QString, text);
        QFETCH(int, format);
        MessageBoxRequest request;
        request.kind = MessageBoxRequest::Warning;
        request.text = text;
        request.textFormat = Qt::TextFormat(format);
        BoxWatch watch{QString()}; // every box
        messagebox::show(request);
        QVERIFY(watch.seen && watch.fits);
        if (text.size() < 100)
            QCOMPARE(watch.shown, QStringLiteral("Macros are back"));
    }

    // A tooltip, read as Qt reads it (rich when it looks like markup), gives back the text as typed,
    // its spaces and lines too.
    void toolTipShowsTheTextAsTyped_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("tag") << "<b>Ctrl</b>+<img src=&#47;dev&#47;zero>";
        QTest::newRow("escaped tag") << "&lt;b&gt; Fn";
        QTest::newRow("ampersand alone") << "Fn & Ctrl";
        QTest::newRow("aligned two lines") << "<i>Ctrl+Alt\n   Fn     Del";
    }
    void toolTipShowsTheTextAsTyped()
    {
        QFETCH(QString, text);
        QCOMPARE(asRead(Qt::AutoText, plaintext::toolTip(text)), text);
    }

    // A keyboard whose board name, family file and Bluetooth name hold markup: across the main window's
    // pages no label or tooltip reads that text as markup.
    void windowShowsNoOutsideTextAsMarkup()
    {
        const QByteArray original = readFile(m_app.filePath("config/config.xml"));
        QVERIFY(original.contains("name=\"TK104 Dual\""));
        QVERIFY(m_app.write("config/config.xml",
                            QByteArray(original).replace("name=\"TK104 Dual\"", "name=\"TK104 &lt;b&gt;Dual\"")));
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
    }
};

QTEST_MAIN(OutsideText)
#include "test_outsidetext.moc"
