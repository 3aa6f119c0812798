// A box, chooser or file dialog opened while the tool holds a keyboard, a row, a page or a record: the
// keyboard is unplugged while it is open (its event loop handles the disconnect, as a user's box would),
// and the operation that opened it ends cleanly: nothing written, nothing marked done, the window
// usable, and the keyboard loads again when it comes back.
#include "messageboxrecorder.h"
#include "sanitizer.h"
#include "tempappdir.h"
#include "Update/overallvariate.h"
#include "color/color.h"
#include "color/palette.h"
#include "device/device.h"
#include "macro/keylayout.h"
#include "macro/macro.h"
#include "macro/macroitem.h"
#include "main/tessark.h"
#include "widget/kffunc.h"
#include "shortcut/shortcuts.h"
#include "shortcut/shortcutsitem.h"
#include "shortcut/shortcutskb.h"
#include "simcontrol.h"
#include "widget/colorchooser.h"
#include "widget/combobox.h"
#include "widget/filechooser.h"
#include "timescale.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <memory>

namespace {

// A wait for the window on a quiet machine: generous, as it ends as soon as the window is there. Every
// use scales it: under AddressSanitizer, beside the other suites, a long macro's chips take minutes to
// make, polish and delete.
constexpr int LoadMs = 30000;

// The main window with the full-size sample keyboard, opened and loaded through the emulated bus.
struct WindowSession {
    TempAppDir app;
    sim::KeyboardPtr kb;
    std::unique_ptr<Tessark> w;

    bool prepared = false; // the application folder is set up already

    // Plugs the keyboard (reporting firmware, when not -1) and makes the window; the load is not awaited.
    bool begin(int firmware = -1)
    {
        if (!prepared && !app.setUpForWindow(QFINDTESTDATA("../appdir")))
            return false;
        plug(firmware);
        w = std::make_unique<Tessark>(nullptr, QStringLiteral("None"));
        return true;
    }
    void plug(int firmware = -1)
    {
        kb = sim::plug(sim::fullSizeDual());
        if (firmware >= 0)
            kb->edit([firmware](sim::FirmwareState& s) { s.fwVersion = uint16_t(firmware); });
    }
    bool loaded() const { return w->deviceLoaded() && w->device() && w->usb(); }
    bool waitLoaded() { return QTest::qWaitFor([this] { return loaded(); }, timescale::ms(LoadMs)); }
    // The keyboard leaves; the window's disconnect is handled in the event loop spun here.
    bool unplugAndSpin()
    {
        sim::unplug(kb);
        // Generous: the close deletes every page's rows and chips, slow in a sanitizer build.
        return QTest::qWaitFor([this] { return !w->usb() && !w->device(); }, timescale::ms(3 * LoadMs));
    }
    Shortcuts* page() const { return w->shortcutsPage(); }
    bool rowsMade()
    {
        return QTest::qWaitFor([this] { return page()->initFinished() && page()->rows().size() >= 3; }, timescale::ms(LoadMs));
    }
    // The first row whose function is of this type (looked up while every name is known).
    ShortcutsItem* rowOfType(int type) const
    {
        for (ShortcutsItem* row : page()->rows())
            if (row->getFunctionType() == type)
                return row;
        return nullptr;
    }
    QString shortcutsFile() const
    {
        return app.filePath(QString::fromLatin1(kb->state().deviceId.toHex()) + QStringLiteral("/shortcuts.xml"));
    }
    // After the unplug: no keyboard, no rows, the disconnected picture, scanning for the next one.
    void verifyClosed() const
    {
        QVERIFY(!w->deviceLoaded());
        QVERIFY(!w->device() && !w->usb());
        QVERIFY(w->initFinished());
        QVERIFY(page()->rows().isEmpty());
        QVERIFY(w->dynamicKeyBtns().isEmpty());
        QVERIFY(w->disconnectedPicture());
        QVERIFY(w->scanTimer().isActive());
        QVERIFY(g_overallVariate && !g_overallVariate->getOnlinState());
        QVERIFY(g_overallVariate->getFirmwareInfo().modelDir.isEmpty());
    }
};

// Answers each file dialog after running whileOpen, as the user's dialog would run the event loop.
struct UnplugFileChooser : FileChooserHandler {
    UnplugFileChooser() : before(filechooser::setHandler(this)) {}
    ~UnplugFileChooser() override { filechooser::setHandler(before); }
    QString openFileName(const FileChooserRequest&) override { return answer(); }
    QString existingDirectory(const FileChooserRequest&) override { return answer(); }
    QString answer()
    {
        ++asked;
        if (whileOpen)
            whileOpen();
        return QStringLiteral("/tmp/chosen");
    }
    FileChooserHandler* before;
    std::function<void()> whileOpen;
    int asked = 0;
};

struct UnplugColorChooser : ColorChooserHandler {
    UnplugColorChooser() : before(colorchooser::setHandler(this)) {}
    ~UnplugColorChooser() override { colorchooser::setHandler(before); }
    QColor choose(const ColorChooserRequest&) override
    {
        ++asked;
        if (whileOpen)
            whileOpen();
        return QColor(1, 2, 3);
    }
    ColorChooserHandler* before;
    std::function<void()> whileOpen;
    int asked = 0;
};

} // namespace

class UnplugDuringBoxTest : public QObject {
    Q_OBJECT
    QStringList m_opened;
    // Nothing a row runs may reach the desktop.
    Q_INVOKABLE void open(const QUrl& url) { m_opened << url.toString(); }

private slots:
    void initTestCase()
    {
        for (const char* scheme : {"http", "https", "file"})
            QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "open");
    }
    void cleanup()
    {
        sim::reset();
        QVERIFY(m_opened.isEmpty());
    }

    // The key function write is refused (the keyboard left at that write, or leaves while the box
    // says so): the rows and the slot table go inside the box, and the download or delete stops there.
    void keyFunctionWriteFailureBox_data()
    {
        QTest::addColumn<bool>("download");
        QTest::addColumn<bool>("leavesAtTheWrite");
        QTest::newRow("download, left at the write") << true << true;
        QTest::newRow("download, left while the box is open") << true << false;
        QTest::newRow("delete, left at the write") << false << true;
        QTest::newRow("delete, left while the box is open") << false << false;
    }
    void keyFunctionWriteFailureBox()
    {
        QFETCH(bool, download);
        QFETCH(bool, leavesAtTheWrite);
        WindowSession s;
        QVERIFY(s.begin());
        QVERIFY(s.waitLoaded());
        QVERIFY(s.rowsMade());
        const int rows = s.page()->rows().size();
        const QString file = s.shortcutsFile();
        const QByteArray before = readFile(file);
        QVERIFY(!before.isEmpty());
        const std::vector<QByteArray> records = s.kb->state().keyFunctions;

        // Two rows ticked: the first one's write fails, the second is never tried.
        s.page()->rows().at(0)->checkBox()->setChecked(true);
        s.page()->rows().at(1)->checkBox()->setChecked(true);
        MessageBoxRecorder boxes;
        bool closedInTheBox = false;
        boxes.whileOpen([&](const MessageBoxRequest& box) {
            if (box.text.contains(QLatin1String("Set KF Item failed")))
                closedInTheBox = s.unplugAndSpin();
        });
        if (leavesAtTheWrite)
            s.kb->unplugAtWrite(1);
        else
            s.kb->failWrite(1);
        if (download)
            s.page()->itemDownloadButtonSlot();
        else
            s.page()->itemDeleteButtonSlot();

        QCOMPARE(boxes.boxes().size(), 1);
        QVERIFY(closedInTheBox);
        s.verifyClosed();
        if (QTest::currentTestFailed())
            return;
        QVERIFY(s.kb->state().keyFunctions == records);
        QCOMPARE(readFile(file), before);

        s.plug();
        QVERIFY(s.waitLoaded());
        QVERIFY(s.rowsMade());
        QCOMPARE(s.page()->rows().size(), rows);
        QCOMPARE(boxes.boxes().size(), 1);
    }

    // The firmware version prompt: the keyboard it asks about leaves while it is open. Whatever the
    // answer, nothing is shown for it, the update hub hears of no keyboard, and no upgrade starts.
    void versionPromptAnsweredAfterTheKeyboardLeft_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("upgrade") << int(QMessageBox::Yes);
        QTest::newRow("not now") << int(QMessageBox::No);
    }
    void versionPromptAnsweredAfterTheKeyboardLeft()
    {
        QFETCH(int, answer);
        WindowSession s;
        QVERIFY(s.app.setUpForWindow(QFINDTESTDATA("../appdir")));
        QByteArray config = readFile(s.app.filePath("config/config.xml"));
        const QByteArray record = "name=\"TK104 Dual\" file=\"tk104.json\" kf=\"kf_tk104.xml\" fw=\"1.00\"";
        QVERIFY(config.contains(record));
        config.replace(record, QByteArray(record).replace("fw=\"1.00\"", "fw=\"1.05\""));
        QVERIFY(s.app.write("config/config.xml", config));
        s.prepared = true;

        MessageBoxRecorder boxes;
        boxes.script(QMessageBox::StandardButton(answer));
        bool closedInTheBox = false;
        boxes.whileOpen([&](const MessageBoxRequest& box) {
            if (box.title == QLatin1String("Firmware Update"))
                closedInTheBox = s.unplugAndSpin();
        });
        QVERIFY(s.begin(104));
        QVERIFY(QTest::qWaitFor([&] { return !boxes.boxes().isEmpty(); }, timescale::ms(LoadMs)));
        QVERIFY(closedInTheBox);
        QTest::qWait(200); // anything the prompt's caller queued
        s.verifyClosed();
        QCOMPARE(s.w->upgradePhase(), Tessark::UpgradePhase::Idle);
        QVERIFY(!s.w->settingPage());

        // Back with firmware the record accepts: loaded and shown, without a second prompt.
        s.plug(105);
        QVERIFY(s.waitLoaded());
        QCOMPARE(boxes.boxes().size(), 1);
        QVERIFY(g_overallVariate->getOnlinState());
        QCOMPARE(g_overallVariate->getFirmwareInfo().modelDir, QStringLiteral("TK104 Dual"));
        QVERIFY(!s.w->dynamicKeyBtns().isEmpty());
    }

    // A row's function name the catalogue no longer knows: every lookup shows a box. The keyboard
    // leaves while the box at `unplugAt` is open.
    void functionLookupBox_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("unplugAt");
        QTest::newRow("download") << "download" << 1;
        QTest::newRow("saving shortcuts.xml") << "save" << 1;
        QTest::newRow("rebuilding the launcher panel") << "save" << 2;
        QTest::newRow("choosing a function") << "menu" << 1;
        QTest::newRow("the launcher panel's button") << "panel" << 1;
        QTest::newRow("the keyboard's key function press") << "press" << 1;
    }
    void functionLookupBox()
    {
        QFETCH(QString, action);
        QFETCH(int, unplugAt);
        WindowSession s;
        QVERIFY(s.begin());
        QVERIFY(s.waitLoaded());
        QVERIFY(s.rowsMade());
        ShortcutsItem* website = s.rowOfType(E_SCT_WEB);
        QVERIFY(website && website->record() && website->record()->id() == 0);
        QVERIFY(s.page()->panel()->buttonCount() > 0);
        const QString file = s.shortcutsFile();
        const QByteArray before = readFile(file);
        const std::vector<QByteArray> records = s.kb->state().keyFunctions;
        const QString name = website->functionMenu()->currentText();
        for (kffunc_t* f : *s.page()->catalogue())
            if (f && f->name == name)
                f->name = QStringLiteral("Renamed");

        MessageBoxRecorder boxes;
        bool closedInTheBox = false;
        boxes.whileOpen([&](const MessageBoxRequest&) {
            if (boxes.boxes().size() == unplugAt)
                closedInTheBox = s.unplugAndSpin();
        });
        if (action == QLatin1String("download")) {
            website->checkBox()->setChecked(true);
            s.page()->itemDownloadButtonSlot();
        } else if (action == QLatin1String("save")) {
            s.page()->requestSaveSlot();
        } else if (action == QLatin1String("menu")) {
            website->setFunctionTextSlot(name);
        } else if (action == QLatin1String("panel")) {
            const QList<CPushButton*> buttons = s.page()->panel()->findChildren<CPushButton*>();
            QVERIFY(!buttons.isEmpty());
            buttons.first()->click(); // slot 0 comes first
        } else {
            s.kb->pressKeyFunction(0);
            QVERIFY(QTest::qWaitFor([&] { return !boxes.boxes().isEmpty(); }, timescale::ms(LoadMs)));
        }

        QVERIFY(closedInTheBox);
        QCOMPARE(boxes.boxes().size(), unplugAt);
        QVERIFY(boxes.boxes().last().text.contains(QLatin1String("failed")));
        s.verifyClosed();
        QCOMPARE(s.page()->panel()->buttonCount(), 0);
        QVERIFY(s.kb->state().keyFunctions == records);
        if (unplugAt == 1)
            QCOMPARE(readFile(file), before);

        s.plug();
        QVERIFY(s.waitLoaded());
        QVERIFY(s.rowsMade());
    }

    // The document and folder rows' file dialogs: the row goes while the dialog is open, and the
    // chosen path lands nowhere.
    void rowFileDialog_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("document") << int(E_SCT_EDIT);
        QTest::newRow("folder") << int(E_SCT_FOLDER);
    }
    void rowFileDialog()
    {
        QFETCH(int, type);
        WindowSession s;
        QVERIFY(s.begin());
        QVERIFY(s.waitLoaded());
        QVERIFY(s.rowsMade());
        ShortcutsItem* row = s.rowOfType(type);
        QVERIFY(row);
        const QByteArray before = readFile(s.shortcutsFile());

        UnplugFileChooser chooser;
        bool closedInTheDialog = false;
        chooser.whileOpen = [&] { closedInTheDialog = s.unplugAndSpin(); };
        if (type == E_SCT_EDIT)
            row->proDocOpenFileSlot();
        else
            row->folderEditOpenDirSlot();

        QCOMPARE(chooser.asked, 1);
        QVERIFY(closedInTheDialog);
        s.verifyClosed();
        QCOMPARE(readFile(s.shortcutsFile()), before);
        s.plug();
        QVERIFY(s.waitLoaded());
    }

    // The macro page's warnings: recording over a macro that holds events, and a macro too long for
    // the keyboard's frame area. The entries go with the keyboard while the box is open: no recording
    // starts, nothing is sent, and only the macro made and not downloaded is saved.
    void macroPageWarning_data()
    {
        QTest::addColumn<bool>("record");
        QTest::newRow("recording over a macro") << true;
        QTest::newRow("downloading a macro too long") << false;
    }
    void macroPageWarning()
    {
        QFETCH(bool, record);
        WindowSession s;
        QVERIFY(s.begin());
        s.w->show();
        QVERIFY(s.waitLoaded());
        s.w->labelPageClickSlot(QStringLiteral("Macro"));
        Macro* page = s.w->macroPage();
        QVERIFY(page && page->isVisible());
        QVERIFY(QTest::qWaitFor([&] { return page->items().size() == 3; }, timescale::ms(LoadMs)));
        MacroItem* entry = page->items().first();
        // Selected, its events still on the keyboard: recording over it asks first.
        QVERIFY(QTest::qWaitFor([&] { return entry->isSelected() && !entry->isLoadDataHidden(); }, timescale::ms(LoadMs)));
        const QString items = s.app.filePath(QString::fromLatin1(s.kb->state().deviceId.toHex()) + "/item");
        const QStringList filesBefore = QDir(items).entryList(QDir::Files);
        const std::vector<QByteArray> frames = s.kb->state().macroFrames;

        MessageBoxRecorder boxes;
        boxes.script(QMessageBox::Yes);
        bool closedInTheBox = false;
        boxes.whileOpen([&](const MessageBoxRequest&) { closedInTheBox = s.unplugAndSpin(); });
        if (record) {
            page->form()->recorderButton->setChecked(true);
        } else {
            // Presses and releases of one key, each after a delay: one frame each, one more than the
            // keyboard holds.
            for (int i = 0; i <= Macro::MaxFrames; ++i)
                page->createKey(i % 2 ? 0 : 1, 10, 1, 0, 0x04);
            page->downloadItemDataSlot();
        }

        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes().first().kind, MessageBoxRequest::Warning);
        QVERIFY(closedInTheBox);
        s.verifyClosed();
        QVERIFY(page->items().isEmpty() && !page->device());
        QVERIFY(!page->form()->recorderButton->isChecked());
        QVERIFY(s.w->closeButton()->isEnabled()); // the window is not locked as for a recording
        QVERIFY(!s.kb->state().recording);
        QVERIFY(s.kb->state().macroFrames == frames);
        // The events made and not downloaded are kept in their file, as any unplug keeps them, and
        // remembered beside it.
        QStringList filesAfter = filesBefore;
        if (!record)
            filesAfter << QStringLiteral("Copy.xml") << QStringLiteral("kept-aside.list");
        QCOMPARE(QDir(items).entryList(QDir::Files), filesAfter);
        s.plug();
        QVERIFY(s.waitLoaded());
        QVERIFY(QTest::qWaitFor([&] { return page->items().size() == 3; }, timescale::ms(LoadMs)));
        QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes().size(), record ? 1 : 2, timescale::ms(LoadMs)); // the made macro back, told
    }

    // The lighting page's colour chooser: the page and its palette go while it is open; the colour
    // file keeps what it held.
    void paletteColourChooser()
    {
        WindowSession s;
        QVERIFY(s.begin());
        QVERIFY(s.waitLoaded());
        s.w->labelPageClickSlot(QStringLiteral("Color"));
        QVERIFY(s.w->colorPage());
        Palette* palette = s.w->colorPage()->findChild<Palette*>();
        QVERIFY(palette);
        QPushButton* swatch = palette->findChild<QPushButton*>(QStringLiteral("customColor_3"));
        QVERIFY(swatch);
        const QString colours = s.app.filePath("config/customcolor/color_btn_32.json");
        const QByteArray before = readFile(colours);

        UnplugColorChooser chooser;
        bool closedInTheDialog = false;
        chooser.whileOpen = [&] { closedInTheDialog = s.unplugAndSpin(); };
        emit swatch->pressed();
        emit swatch->pressed(); // the second press within the interval opens the chooser

        QCOMPARE(chooser.asked, 1);
        QVERIFY(closedInTheDialog);
        QVERIFY(!s.w->colorPage());
        s.verifyClosed();
        QCOMPARE(readFile(colours), before);
        s.plug();
        QVERIFY(s.waitLoaded());
    }
};

QTEST_MAIN(UnplugDuringBoxTest)
#include "test_unplugduringbox.moc"
