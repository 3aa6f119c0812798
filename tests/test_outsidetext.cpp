// Text the tool did not write (file and folder names, keyboard and macro names, what the user typed)
// shows as typed in the real boxes and in the main window's labels and tooltips: never read as
// markup, never loading a file that markup names. A box with a long text fits its screen.
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

// What a box looked like while it was open.
struct ShownBox {
    bool seen = false;
    Qt::TextFormat format = Qt::AutoText;
    QString shown; // its text as Qt reads it in that format
    QRect frame;
    QRect button; // its first button, on the screen
    QRect available;
};

QString asRead(Qt::TextFormat format, const QString& text)
{
    if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text)))
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}

// Watches for real message boxes while it lives: notes each one whose text holds `holding` and closes
// every box it sees.
class BoxWatch : public QObject {
public:
    explicit BoxWatch(const QString& holding) : m_holding(holding)
    {
        connect(&m_poll, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            if (box->text().contains(m_holding) || box->detailedText().contains(m_holding)) {
                const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
                seen.seen = true;
                seen.format = label ? label->textFormat() : Qt::AutoText;
                seen.shown = label ? asRead(label->textFormat(), label->text()) : QString();
                seen.frame = box->frameGeometry();
                if (QAbstractButton* first = box->buttons().value(0))
                    seen.button = QRect(first->mapToGlobal(QPoint(0, 0)), first->size());
                seen.available = box->screen()->availableGeometry();
            }
            box->reject();
        });
        m_poll.start(10);
    }
    ShownBox seen;

private:
    QString m_holding;
    QTimer m_poll;
};

// A path written as markup may name it: every slash as an entity, as a file name may hold none.
QString markupPath(const QString& path)
{
    return QString(path).replace(QLatin1Char('/'), QStringLiteral("&#47;"));
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
        if (keyboard)
            kb = sim::plug(sim::fullSizeDual());
        w.reset(new Tessark(nullptr, QStringLiteral("None")));
        return !keyboard || QTest::qWaitFor([&] { return w->deviceLoaded(); }, 20000);
    }

private slots:
    void initTestCase() { QVERIFY(m_app.setUpForWindow(QFINDTESTDATA("../appdir"))); }
    void init() { m_folder.reset(new TempDir); }
    void cleanup()
    {
        w.reset();
        kb.reset();
        sim::reset();
    }

    // A name with markup in it, from a server's link file, a folder the user picked, or a macro: the
    // real box shows it character for character, as plain text, and reads none of the large file its
    // markup names.
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
        // AddressSanitizer's quarantine keeps what a box freed: a larger allowance, and a file larger still.
#ifdef TESSARK_ASAN
        const qint64 allowed = 96 << 20;
#else
        const qint64 allowed = 8 << 20;
#endif
        QFile big(m_folder->filePath("big"));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(8 * allowed)); // sparse: no disk taken
        big.close();
        const QString name = QStringLiteral("<b>b<font color=red>r<h1>h &amp; <img src=%1>")
                                 .arg(markupPath(big.fileName()));
        QVERIFY(start(keyboard));
        QString folder = m_folder->filePath("images");
        if (source == "folder")
            folder = m_folder->filePath("fw " + name);
        QVERIFY(QDir().mkpath(folder));
        if (!image.isEmpty()) {
            QFile file(folder + '/' + image.section(':', 0, 0).arg(name));
            QVERIFY2(file.open(QIODevice::WriteOnly) && file.resize(image.section(':', 1).toLongLong()),
                     qPrintable(file.fileName() + ": " + file.errorString()));
        }
        QVERIFY(memoryuse::resetPeak());
        const qint64 before = memoryuse::residentBytes();
        {
            BoxWatch watch(name);
            if (source == "macro") {
                macronotice::backNotDownloaded(name);
                macronotice::flush();
            } else {
                w->updateSlot(folder);
            }
            QVERIFY(QTest::qWaitFor([&] { return watch.seen.seen; }, 5000));
            QCOMPARE(int(watch.seen.format), int(Qt::PlainText));
            QVERIFY2(watch.seen.shown.contains(name), qPrintable(watch.seen.shown));
        }
        const qint64 grown = memoryuse::peakResidentBytes() - before;
        QVERIFY2(grown < allowed, qPrintable(QString::number(grown)));
    }

    // A box whose text outgrows the screen keeps within its available height (its width is Qt's own) with its button on it;
    // the whole text stays in the details. The caller's own markup is shown as markup.
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
        request.title = QStringLiteral("Macros");
        request.text = text;
        request.textFormat = Qt::TextFormat(format);
        BoxWatch watch{QString()}; // every box
        messagebox::show(request);
        QVERIFY(watch.seen.seen);
        const QRect& frame = watch.seen.frame;
        QVERIFY2(frame.top() >= watch.seen.available.top() && frame.bottom() <= watch.seen.available.bottom(),
                 qPrintable(QStringLiteral("%1,%2 %3x%4 in %5x%6")
                                .arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height())
                                .arg(watch.seen.available.width()).arg(watch.seen.available.height())));
        QVERIFY(!watch.seen.button.isEmpty() && watch.seen.available.contains(watch.seen.button));
        if (text.size() < 100) // short: as it is, the caller's markup read as markup
            QCOMPARE(watch.seen.shown, QStringLiteral("Macros are back"));
    }

    // A tooltip reads as Qt's tooltip reads it (rich when it looks like markup) back to the text as typed,
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

    // Every label and tooltip of the main window with a keyboard whose names hold markup (its board
    // name and family file, its Bluetooth name), across its pages: none reads that text as markup.
    void windowShowsNoOutsideTextAsMarkup()
    {
        const QByteArray board = "TK104 <b>Dual";
        QByteArray config = readFile(m_app.filePath("config/config.xml"));
        const QByteArray original = config;
        QVERIFY(config.replace("name=\"TK104 Dual\"", "name=\"TK104 &lt;b&gt;Dual\"").size() > original.size());
        QVERIFY(m_app.write("config/config.xml", config));
        kb = sim::plug(sim::fullSizeDual());
        kb->edit([&](sim::FirmwareState& s) {
            s.boardName = board.leftJustified(16, '\0');
            s.btName = QByteArray("<i>B&amp;").leftJustified(12, '\0');
        });
        w.reset(new Tessark(nullptr, QStringLiteral("None")));
        const bool loaded = QTest::qWaitFor([&] { return w->deviceLoaded(); }, 20000);
        QVERIFY(m_app.write("config/config.xml", original));
        QVERIFY(loaded);
        int holding = 0;
        QStringList markup;
        for (const char* page : {"KEY", "COLOR", "SHORTCUTS", "Setting", "MACRO"}) {
            w->labelPageClickSlot(QString::fromLatin1(page));
            QCoreApplication::processEvents();
            for (QWidget* widget : QApplication::allWidgets()) {
                const QString tip = widget->toolTip();
                if (tip.contains("<b>Dual") || tip.contains("<i>B"))
                    markup << "tooltip: " + tip;
                const auto* label = qobject_cast<QLabel*>(widget);
                if (!label || !(label->text().contains("<b>Dual") || label->text().contains("<i>B")))
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
