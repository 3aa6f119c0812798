// Inputs that are there and do not read are told: a config.xml, keyboard layout, colour file or macro
// item file in that state shows one notice naming it, once a run however often it is read again, and
// nothing else changes. What is absent is not told.
#include "messageboxrecorder.h"
#include "simcontrol.h"
#include "tempappdir.h"

#include "color/palette.h"
#include "macro/macro.h"
#include "macro/macroitem.h"
#include "main/tessark.h"
#include "widget/data.h"
#include "widget/fileguard.h"
#include "widget/filenotice.h"
#include "widget/qss.h"

#include <QFileInfo>
#include <QLabel>
#include <QRandomGenerator>
#include <QtTest>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray UserMacro = "<MACRO><ITEM id=\"1\"><KEY0 status=\"1\" code=\"4\" type=\"1\" stype=\"0\" delay=\"10\"/>"
                             "</ITEM></MACRO>";

// What stands at path.
QByteArray snapshot(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return "link to " + info.symLinkTarget().toUtf8();
    return info.isDir() ? "folder" : info.isFile() ? "file:" + readFile(path) : QByteArray("special");
}

// Puts input `kind` at path, made from good (the intact content); json picks how nesting is written.
bool makeInput(const QString& kind, const QString& path, const QByteArray& good, bool json)
{
    QFile::remove(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (kind == "link to nowhere" || kind == "/dev/zero")
        return QFile::link(kind == "/dev/zero" ? kind : path + ".gone", path);
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

    // A config.xml, keyboard layout, colour file or macro item file that is there and does not read is
    // told, naming it, once however often it is read again: config.xml by a window that then opens no
    // keyboard, the layout when the keyboard loads and again after a replug, the colour file at two
    // visits of the colour page, the item file at two readings of the item folder. Nothing is written,
    // the keyboard still loads, the other macros still list. What is absent is not told.
    void inputThatDoesNotReadIsToldOnce_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("kind");
        for (const char* input : {"config", "layout", "colours", "macro item"})
            for (const char* kind : {"intact", "link to nowhere", "empty", "truncated", "garbage", "nested", "huge",
                                     "folder", "FIFO", "unreadable", "/dev/zero"})
                QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(input, kind))) << input << QString(kind);
    }
    void inputThatDoesNotReadIsToldOnce()
    {
        QFETCH(QString, input);
        QFETCH(QString, kind);
        if (kind == "unreadable" && ::geteuid() == 0)
            QSKIP("root reads a file of mode 000 anyway");
        TempAppDir app;
        QVERIFY(app.setUpForWindow(QFINDTESTDATA("../appdir")));
        const QString path = app.filePath(input == "config"    ? "config/config.xml"
                                          : input == "layout"  ? "config/tk104.json"
                                          : input == "colours" ? "config/customcolor/color_btn_32.json"
                                                               : "dev/item/Macro1.xml");
        const bool json = input == "layout" || input == "colours";
        QVERIFY(makeInput(kind, path, input == "macro item" ? UserMacro : readFile(path), json));
        const QByteArray before = snapshot(path);
        const bool told = kind != "intact" && kind != "link to nowhere";
        const auto loaded = [](Tessark& w) { return QTest::qWaitFor([&w] { return w.deviceLoaded(); }, 20000); };

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
            QVERIFY(QTest::qWaitFor([&w] { return !w.deviceLoaded() && !w.usb(); }, 10000));
            kb = sim::plug(sim::fullSizeDual());
            QVERIFY(loaded(w));
            checkTold(told, path);
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
                QTRY_VERIFY_WITH_TIMEOUT(page.isListReady(), 5000);
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
