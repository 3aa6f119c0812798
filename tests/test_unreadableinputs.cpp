// Inputs that are there and do not read are told: a config.xml, keyboard layout, colour file, macro
// item file, mode parameter file or shortcuts.xml in that state shows one notice naming it, once a run
// however often it is read again, and nothing else changes. What is absent is not told.
#include "messageboxrecorder.h"
#include "simcontrol.h"
#include "tempappdir.h"

#include "color/palette.h"
#include "color/parameter.h"
#include "macro/macro.h"
#include "macro/macroitem.h"
#include "main/tessark.h"
#include "shortcut/shortcuts.h"
#include "widget/data.h"
#include "widget/fileguard.h"
#include "widget/filenotice.h"
#include "widget/qss.h"
#include "timescale.h"

#include <QFileInfo>
#include <QLabel>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray UserMacro = "<MACRO><ITEM id=\"1\"><KEY0 status=\"1\" code=\"4\" type=\"1\" stype=\"0\" delay=\"10\"/>"
                             "</ITEM></MACRO>";
// A shortcuts.xml the user keeps: an address for slot 0.
const QByteArray UserShortcuts = "<?xml version = '1.0' encoding = 'UTF-8'?>\n<shortcuts>\n"
                                 "    <item0 id=\"0\" btn0=\" \" btn1=\" \" btn2=\" \" btn3=\" \" hi=\"1\" hitype=\"1\">"
                                 "<Website web=\"https://tessark.example.org/mine\"/></item0>\n</shortcuts>\n";

// What stands at path; for a link, at its target too (a save may go through a link).
QByteArray snapshot(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return "link to " + info.symLinkTarget().toUtf8() + ": " + snapshot(info.symLinkTarget());
    return info.isDir() ? "folder" : info.isFile() ? "file:" + readFile(path) : QByteArray("special");
}

// Puts input `kind` at path, made from good (the intact content); json picks how nesting is written.
// "/dev/zero" is a link to zero, the test's stand-in for that device.
bool makeInput(const QString& kind, const QString& path, const QByteArray& good, bool json, const QString& zero)
{
    QFile::remove(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (kind == "/dev/zero")
        return !zero.isEmpty() && QFile::link(zero, path);
    if (kind == "link to nowhere")
        return QFile::link(path + ".gone", path);
    if (kind == "folder")
        return QDir().mkpath(path + "/inside");
    if (kind == "FIFO")
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    QByteArray bytes = kind == "empty" ? QByteArray() : kind == "truncated" ? good.left(good.size() / 2) : good;
    if (kind == "garbage") {
        QRandomGenerator random(22);
        bytes.clear();
        for (int i = 0; i < 700; ++i)
            bytes.append(char(random.bounded(256)));
    } else if (kind == "nested") {
        bytes = json ? QByteArray(5000, '[') + QByteArray(5000, ']')
                     : QByteArray("<a>").repeated(5000) + QByteArray("</a>").repeated(5000);
    } else if (kind == "huge") {
        bytes += QByteArray(int(FileGuard::MaxFileBytes), ' '); // only whitespace added: too large, not broken
    } else if (kind == "wrong types") {
        // Well-formed, but a value the reader takes as a number is a word.
        bytes = QString::fromUtf8(good).replace(QRegularExpression("\\b(hi|HL)=\"[^\"]*\""), "\\1=\"high\"").toUtf8();
        if (bytes == good)
            return false;
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return false;
    f.close();
    return kind != "unreadable" || QFile::setPermissions(path, QFileDevice::Permissions());
}

} // namespace

class UnreadableInputsTest : public QObject {
    Q_OBJECT
    MessageBoxRecorder m_boxes;

    // After the event loop ran: one box with one notice naming path when told, no box otherwise.
    void checkTold(bool told, const QString& path)
    {
        QTest::qWait(20);
        QCOMPARE(m_boxes.boxes().size(), int(told));
        for (const MessageBoxRequest& box : m_boxes.boxes())
            QVERIFY2(box.text.contains(path) && !box.text.contains('\n'), qPrintable(box.text));
        // The keyboards' list and layouts are the tool's own: the notice says what goes unshown.
        const bool description = path.endsWith("config.xml") || (path.endsWith(".json") && !path.contains("customcolor"));
        for (const MessageBoxRequest& box : m_boxes.boxes())
            QVERIFY2(box.text.contains("cannot be shown") == description, qPrintable(box.text));
    }

private slots:
    void init()
    {
        filenotice::flush();
        m_boxes.clear();
    }
    void cleanup()
    {
        sim::reset();
        setAppDirPathForTest(QString());
    }

    // A config.xml, keyboard layout, colour file, macro item file, mode parameter file or shortcuts.xml
    // that is there and does not read (or, for the last two, holds a word where a number belongs) is
    // told, naming it, once however often it is read again: config.xml by a window that then opens no
    // keyboard, the layout and shortcuts.xml when the keyboard loads and again after a replug, the colour
    // file at two visits of the colour page, the mode parameters at two openings of their dialog, the
    // item file at two readings of the item folder. Nothing is written (a damaged shortcuts.xml is only
    // copied aside), the keyboard still loads, the other macros still list. What is absent is not told.
    void inputThatDoesNotReadIsToldOnce_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("kind");
        for (const char* input : {"config", "layout", "colours", "macro item", "mode parameters", "shortcuts"})
            for (const char* kind : {"intact", "link to nowhere", "empty", "truncated", "garbage", "nested", "huge",
                                     "folder", "FIFO", "unreadable", "/dev/zero", "wrong types"}) {
                // Values of the wrong type only where the reader takes numbers from well-formed XML.
                if (QByteArray(kind) == "wrong types" && QByteArray(input) != "mode parameters"
                    && QByteArray(input) != "shortcuts")
                    continue;
                QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(input, kind))) << input << QString(kind);
            }
    }
    void inputThatDoesNotReadIsToldOnce()
    {
        QFETCH(QString, input);
        QFETCH(QString, kind);
        if (kind == "unreadable" && ::geteuid() == 0)
            QSKIP("root reads a file of mode 000 anyway");
        TempAppDir app;
        const QString zero = deviceStandIn(app.path(), "/dev/zero");
        if (kind == "/dev/zero" && zero.isEmpty())
            QSKIP("root cannot make a device node that opens in its temporary folder");
        QVERIFY(app.setUpForWindow(QFINDTESTDATA("../appdir")));
        // The keyboard's own folder is named by its id.
        sim::KeyboardPtr keyboard = input == "shortcuts" ? sim::plug(sim::fullSizeDual()) : nullptr;
        const QString path = app.filePath(input == "config"            ? "config/config.xml"
                                          : input == "layout"          ? "config/tk104.json"
                                          : input == "colours"         ? "config/customcolor/color_btn_32.json"
                                          : input == "mode parameters" ? "config/modeParameter.xml"
                                          : input == "shortcuts"       ? keyboard->state().deviceId.toHex() + "/shortcuts.xml"
                                                                       : "dev/item/Macro1.xml");
        const bool json = input == "layout" || input == "colours";
        const QByteArray good = input == "macro item" ? UserMacro : input == "shortcuts" ? UserShortcuts : readFile(path);
        QVERIFY(makeInput(kind, path, good, json, zero));
        const QByteArray before = snapshot(path);
        // An empty shortcuts.xml holds nothing to lose: the rows are written into it as for a new keyboard.
        const bool told = kind != "intact" && kind != "link to nowhere" && !(input == "shortcuts" && kind == "empty");
        const auto loaded = [](Tessark& w) { return QTest::qWaitFor([&w] { return w.deviceLoaded(); }, timescale::ms(20000)); };

        if (input == "config") {
            auto kb = sim::plug(sim::fullSizeDual());
            Tessark w(nullptr, QStringLiteral("None"));
            if (kind == "intact") {
                QVERIFY(loaded(w));
            } else {
                QTest::qWait(1600); // three scans
                QVERIFY(!w.usb() && kb->log().isEmpty());
                QVERIFY(w.disconnectedPicture() && !w.disconnectedPicture()->isHidden());
            }
            Data again;
            again.parseConfigXML(&again.boards, QStringLiteral("config.xml"));
            checkTold(told, path);
        } else if (input == "layout") {
            auto kb = sim::plug(sim::fullSizeDual());
            Tessark w(nullptr, QStringLiteral("None"));
            QVERIFY(loaded(w));
            QCOMPARE(w.dynamicKeyBtns().isEmpty(), kind != "intact");
            checkTold(told, path);
            sim::unplug(kb);
            QVERIFY(QTest::qWaitFor([&w] { return !w.deviceLoaded() && !w.usb(); }, timescale::ms(10000)));
            kb = sim::plug(sim::fullSizeDual());
            QVERIFY(loaded(w));
            checkTold(told, path);
        } else if (input == "shortcuts") {
            // Told when the keyboard loads, not again after a replug.
            Tessark w(nullptr, QStringLiteral("None"));
            QVERIFY(loaded(w));
            QTRY_VERIFY_WITH_TIMEOUT(w.shortcutsPage() && w.shortcutsPage()->initFinished(), timescale::ms(10000));
            checkTold(told, path);
            sim::unplug(keyboard);
            QVERIFY(QTest::qWaitFor([&w] { return !w.deviceLoaded() && !w.usb(); }, timescale::ms(10000)));
            keyboard = sim::plug(sim::fullSizeDual());
            QVERIFY(loaded(w));
            QTRY_VERIFY_WITH_TIMEOUT(w.shortcutsPage()->initFinished(), timescale::ms(10000));
            checkTold(told, path);
            if (!told) {
                if (kind == "link to nowhere") // left alone: nothing is made or written through it
                    QVERIFY(QFileInfo(path).isSymLink() && !QFileInfo::exists(path + ".gone"));
                else // nothing was lost: the rows went into the file
                    QVERIFY(readFile(path).startsWith("<?xml"));
                QVERIFY(!QFileInfo::exists(path + ".bad"));
                return;
            }
            // What did not read is kept aside when it is a file with something in it to copy.
            const bool copied = kind == "truncated" || kind == "garbage" || kind == "nested" || kind == "huge"
                                || kind == "wrong types";
            QCOMPARE(QFileInfo::exists(path + ".bad"), copied);
            if (copied)
                QCOMPARE(readFile(path + ".bad"), readFile(path));
            QCOMPARE(snapshot(path), before);
            return;
        } else if (input == "mode parameters") {
            // The mode parameter dialog reads the file at every opening.
            for (int opening = 0; opening < 2; ++opening) {
                Parameter dialog(nullptr, nullptr, 0);
                checkTold(told, path);
            }
            // Told what it means: later openings show the same without a word.
            const char* meaning = kind == "wrong types" ? "take 0 for them" : "effect list stays empty";
            for (const MessageBoxRequest& box : m_boxes.boxes())
                QVERIFY2(box.text.contains(meaning), qPrintable(box.text));
        } else if (input == "colours") {
            for (int visit = 0; visit < 2; ++visit) {
                Palette palette(nullptr);
                checkTold(told, path);
            }
        } else {
            QVERIFY(app.write("dev/item/Macro0.xml", UserMacro));
            for (int reading = 0; reading < 2; ++reading) {
                Macro page(nullptr, 0);
                page.setDevice(app.filePath("dev/"), nullptr);
                page.readFileInfoData();
                QTRY_VERIFY_WITH_TIMEOUT(page.isListReady(), timescale::ms(10000));
                QStringList listed;
                for (const MacroItem* item : page.items())
                    listed << item->name();
                QCOMPARE(listed.join(' '), QString(kind == "intact" ? "Macro0 Macro1" : "Macro0"));
                checkTold(told, path);
            }
            QCOMPARE(readFile(app.filePath("dev/item/Macro0.xml")), UserMacro);
        }
        QCOMPARE(snapshot(path), before);
        QVERIFY(!QFileInfo::exists(path + ".bad"));
    }
};

QTEST_MAIN(UnreadableInputsTest)
#include "test_unreadableinputs.moc"
