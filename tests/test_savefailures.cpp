// A save that fails (a full disk, a folder that cannot be written, a link at the file's name) leaves the
// user's file as it was and tells the user once per action, naming the file: key functions, colours,
// language, layout version, macros and the start-with-the-system entry. A link is left alone, and so
// is what it names. Notices of one action share one box, in the user's language.
#include "keyboardfixture.h"
#include "fulldisk.h"
#include "messageboxrecorder.h"
#include "readerharness.h"
#include "color/palette.h"
#include "macro/macro.h"
#include "macro/macroitem.h"
#include "setting/Language.h"
#include "shortcut/shortcuts.h"
#include "shortcut/shortcutsitem.h"
#include "tempappdir.h"
#include "widget/colorchooser.h"
#include "widget/filenotice.h"
#include "widget/keybtn.h"
#include "widget/menu.h"
#include "widget/menutree.h"
#include "platform/autostart.h"
#include "platform/filesizelimit.h"
#include "timescale.h"

#include <QFileInfo>
#include <QPushButton>
#include <QtTest>
#include <functional>
#include <memory>
#include <cerrno>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// The file's folder cannot take a new file (folder permissions do not bind root), or the file's name is
// taken by a folder, which no save can replace.
bool makeUnwritable(const QString& file, bool readOnlyFolder)
{
    if (readOnlyFolder)
        return QFile::setPermissions(QFileInfo(file).absolutePath(), QFile::ReadOwner | QFile::ExeOwner);
    QFile::remove(file);
    return QDir().mkpath(file + "/inside");
}

void makeWritable(const QString& file)
{
    QFile::setPermissions(QFileInfo(file).absolutePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// A link at the file's name, to a file of the user's outside the application folder or to a name
// there where nothing is yet.
bool makeLink(const QString& file, const QString& target, bool targetThere)
{
    QFile::remove(file);
    QFile own(target);
    return (!targetThere || (own.open(QIODevice::WriteOnly) && own.write("the user's own file\n") > 0 && own.flush()))
           && QFile::link(target, file);
}

QByteArray snapshot(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return "link to " + QFile::encodeName(info.symLinkTarget()) + ", " + snapshot(info.symLinkTarget());
    return !info.exists() ? "missing" : info.isDir() ? "directory" : "file:" + readFile(path);
}

QAction* findAction(QMenu* menu, const QString& text, const QString& orText = QString())
{
    for (QAction* a : menu->actions())
        if (QAction* found = a->text() == text || a->text() == orText ? a
                             : a->menu()                            ? findAction(a->menu(), text, orText)
                                                                    : nullptr)
            return found;
    return nullptr;
}

struct Chooser : ColorChooserHandler {
    Chooser() : before(colorchooser::setHandler(this)) {}
    ~Chooser() override { colorchooser::setHandler(before); }
    QColor choose(const ColorChooserRequest&) override { return QColor("#123456"); }
    ColorChooserHandler* before;
};

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

class SaveFailuresTest : public QObject {
    Q_OBJECT
    MessageBoxRecorder m_boxes;
    TempDir m_xdg;
    TempDir m_outside; // the user's files elsewhere, which a link may name
    QtMessageHandler m_handler = nullptr; // the one before a case went quiet

private slots:
    void initTestCase()
    {
        // The menu writes the start-with-the-system entry: never the user's.
        qputenv("XDG_CONFIG_HOME", m_xdg.path().toUtf8());
        // The saves run in this process: it treats a write past the size limit as the tool does.
        FileSizeLimit::failWritesInsteadOfSignal();
    }
    void init()
    {
        filenotice::flush();
        m_boxes.clear();
    }
    void cleanup()
    {
        if (m_handler)
            qInstallMessageHandler(m_handler);
        m_handler = nullptr;
        g_language = nullptr; // each case owns the one it made
        sim::reset();
    }

    void failedSaveTellsTheUserOnce_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("failure");
        for (const char* what :
             {"key functions", "colours", "language", "layout version", "macros", "start with the system"})
            for (const char* failure : {"full disk", "folder not writable", "name taken by a folder",
                                        "link to a file outside", "link to nowhere outside"})
                QTest::addRow("%s, %s", what, failure) << QString(what) << QString(failure);
    }
    void failedSaveTellsTheUserOnce()
    {
        QFETCH(QString, what);
        QFETCH(QString, failure);
        const bool full = failure == "full disk", readOnlyFolder = failure == "folder not writable";
        const bool link = failure.startsWith("link");
        if (readOnlyFolder && ::geteuid() == 0)
            QSKIP("root writes into a read-only folder anyway");
        ReaderAppDir app;
        QVERIFY(app.copyFiles(QFINDTESTDATA("../appdir/config"), "config")
                && app.copyFiles(QFINDTESTDATA("../appdir/images"), "images"));
        m_handler = qInstallMessageHandler(quiet);
        std::unique_ptr<Language> language(g_language = new Language);

        // Each case: what to set up, the file, and the one action of the user that saves it.
        std::unique_ptr<KeyboardFixture> kb;
        QVector<KeyBtn*> statics, picture;
        std::unique_ptr<Shortcuts> shortcuts;
        std::unique_ptr<Palette> palette;
        std::unique_ptr<Chooser> chooser;
        QWidget window;
        std::unique_ptr<MenuTree> menu;
        std::unique_ptr<Macro> macros;
        QString file;
        std::function<void()> action;
        if (what == "key functions" || what == "macros") {
            sim::KeyboardConfig config;
            config.keyFunctions = 48;
            config.sampleKeyFunctions = false;
            kb = std::make_unique<KeyboardFixture>(config);
            kb->kb->edit([](sim::FirmwareState& s) {
                // Slot 0 holds function 1; every other slot and macro head is free.
                for (int i = 0; i < int(s.keyFunctions.size()); ++i) {
                    const int word = i == 0 ? 0x40 | 1 << 7 : i;
                    s.keyFunctions[size_t(i)][0] = char(word & 0xFF);
                    s.keyFunctions[size_t(i)][1] = char(word >> 8);
                }
                for (size_t i = 0; i < s.macroHeads.size(); ++i) {
                    s.macroHeads[i] = QByteArray(24, '\0');
                    s.macroHeads[i][0] = char(i);
                }
            });
            QVERIFY(kb->open() && kb->loadNow());
        }
        if (what == "key functions") {
            file = app.filePath("kb/shortcuts.xml");
            QVERIFY(app.put("kb/shortcuts.xml", "<shortcuts/>"));
            shortcuts = std::make_unique<Shortcuts>(nullptr, &statics);
            shortcuts->load("kf_tk87.xml", file, &picture, kb->device);
            QTRY_VERIFY_WITH_TIMEOUT(shortcuts->initFinished(), timescale::ms(10000));
            QCOMPARE(shortcuts->rows().size(), 1);
            shortcuts->rows()[0]->markChanged(true);
            // The keyboard takes the function; the file that holds its text is behind.
            action = [&] { shortcuts->itemDownloadButtonSlot(); };
        } else if (what == "colours") {
            file = app.filePath("config/customcolor/color_btn_32.json");
            palette = std::make_unique<Palette>(nullptr);
            chooser = std::make_unique<Chooser>();
            action = [&] {
                QPushButton* swatch = palette->findChild<QPushButton*>("customColor_2");
                emit swatch->pressed();
                emit swatch->pressed();
            };
        } else if (what == "language") {
            file = app.filePath("config/Language.xml");
            action = [] { g_language->setLanguageType(0); };
        } else if (what == "layout version") {
            file = app.filePath("config/menutree.xml");
            menu = std::make_unique<MenuTree>(&window);
            action = [&] { findAction(menu->topMenu(), "MacOS")->trigger(); };
        } else if (what == "start with the system") {
            file = autostartEntryPath();
            QFile::remove(file);
            QDir(file).removeRecursively();
            QVERIFY(QDir().mkpath(QFileInfo(file).path()));
            menu = std::make_unique<MenuTree>(&window); // the entry is off: the action writes it
            QVERIFY(!QFileInfo::exists(file));
            action = [&] { findAction(menu->topMenu(), "Power Boot", QString::fromUtf8("开机启动"))->trigger(); };
        } else {
            macros = std::make_unique<Macro>(nullptr, 0);
            macros->setDevice(app.filePath("dev/"), kb->device);
            QTRY_VERIFY_WITH_TIMEOUT(macros->isListReady(), timescale::ms(10000));
            QVERIFY(QDir().mkpath(app.filePath("dev/item")));
            macros->addItemSlot();
            QCOMPARE(macros->items().size(), 1);
            file = app.filePath("dev/item/" + macros->items().last()->name() + ".xml");
            action = [&] { macros->saveMacroItem(macros->items().last()); };
        }
        QTest::qWait(20);
        m_boxes.clear();

        const QString target = m_outside.filePath(QString::number(qHash(QTest::currentDataTag())));
        if (link)
            QVERIFY(makeLink(file, target, failure.contains("file")));
        else if (!full)
            QVERIFY(makeUnwritable(file, readOnlyFolder));
        const QByteArray was = snapshot(file);
        if (full) {
            FullDisk disk;
            action();
        } else {
            action();
        }
        QTest::qWait(20);
        makeWritable(file);
        QCOMPARE(snapshot(file), was);
        QCOMPARE(m_boxes.boxes().size(), 1);
        QVERIFY2(m_boxes.boxes()[0].text.contains(QDir::toNativeSeparators(file)), qPrintable(m_boxes.boxes()[0].text));
        // The start-with-the-system entry, changed by the user's switch, says why in the box.
        if (what == "start with the system") {
            const QString reason = full             ? qt_error_string(EFBIG)
                                   : readOnlyFolder ? qt_error_string(EACCES)
                                   : link ? QStringLiteral("a link stands at its name; the link and what it points at "
                                                           "are left as they are")
                                          : QStringLiteral("Filename refers to a directory");
            QCOMPARE(m_boxes.boxes()[0].text.section('\n', 0, 0), // a full disk fails the menu's file too
                     QStringLiteral("Could not save %1: %2. The file on disk was not changed.").arg(file, reason));
        }
    }

    // Notices queued in one pass of the event loop make one box, each file once, in the language the
    // user chose; nothing queued, nothing shown.
    void noticesOfOneActionShareOneBox_data()
    {
        QTest::addColumn<int>("languageType");
        QTest::addColumn<QString>("first");
        QTest::newRow("English") << 1 << "Could not save /tmp/a.xml; the file on disk was not changed.";
        QTest::newRow("Chinese") << 0 << QString::fromUtf8("无法保存 /tmp/a.xml，原文件未被修改。");
    }
    void noticesOfOneActionShareOneBox()
    {
        QFETCH(int, languageType);
        QFETCH(QString, first);
        ReaderAppDir app;
        std::unique_ptr<Language> language(g_language = new Language);
        g_language->setLanguageType(languageType);
        QTest::qWait(20);
        m_boxes.clear();
        QTest::ignoreMessage(QtWarningMsg, "File not saved: \"/tmp/a.xml\": disk full");
        QTest::ignoreMessage(QtWarningMsg, "File not saved: \"/tmp/a.xml\": disk full");
        QTest::ignoreMessage(QtWarningMsg, "File does not read: \"/tmp/b.xml\" - kept as \"/tmp/b.xml.bad\"");
        filenotice::saveFailed("/tmp/a.xml", "disk full");
        filenotice::saveFailed("/tmp/a.xml", "disk full");
        filenotice::unreadable("/tmp/b.xml", "/tmp/b.xml.bad");
        QCOMPARE(filenotice::pending(), 2);
        QTest::qWait(20);
        QCOMPARE(filenotice::pending(), 0);
        QCOMPARE(m_boxes.boxes().size(), 1);
        const QStringList lines = m_boxes.boxes()[0].text.split('\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], first);
        QVERIFY(lines[1].contains("/tmp/b.xml") && lines[1].contains("/tmp/b.xml.bad"));
        QCOMPARE(m_boxes.boxes()[0].kind, MessageBoxRequest::Warning);
        filenotice::flush();
        QCOMPARE(m_boxes.boxes().size(), 1);
    }
};

QTEST_MAIN(SaveFailuresTest)
#include "test_savefailures.moc"
