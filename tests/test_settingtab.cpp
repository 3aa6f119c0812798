// The settings page inside the main window against emulated keyboards: where it sits, what it shows
// of the keyboard, what its controls send, and when it goes.
#include "keyboardfixture.h"
#include "logrecorder.h"
#include "messageboxrecorder.h"
#include "tempappdir.h"
#include "windowkeyboard.h"
#include "wire.h"

#include "Update/overallvariate.h"
#include "device/device.h"
#include "main/tessark.h"
#include "setting/setting.h"
#include "widget/cslider.h"
#include "timescale.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <memory>

class SettingTab : public QObject {
    Q_OBJECT
    TempAppDir m_app;
    MessageBoxRecorder m_boxes; // the sleep write's result box
    std::unique_ptr<Tessark> w;
    std::unique_ptr<KeyboardFixture> f;

    Setting* open(sim::KeyboardConfig board, const std::function<void(sim::FirmwareState&)>& change = {})
    {
        if (!handKeyboardToWindow(*w, f, std::move(board), change))
            return nullptr;
        w->labelPageClickSlot(QStringLiteral("Setting"));
        f->kb->clearLog();
        return w->settingPage();
    }
    QString text(const char* name) const { return w->settingPage()->findChild<QLabel*>(name)->text(); }
    bool editorOffered() const
    {
        return !w->settingPage()->findChild<QPushButton*>(QStringLiteral("buildingBlockButton"))->isHidden();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_app.setUpForWindow(QFINDTESTDATA("../appdir")));
        w.reset(new Tessark(nullptr, QStringLiteral("None")));
        QTRY_VERIFY_WITH_TIMEOUT(w->initFinished(), timescale::ms(10000));
    }
    void cleanup()
    {
        w->labelPageClickSlot(QStringLiteral("staticLayout"));
        w->closeDevice();
        WindowTestAccess::setLoadedDevice(*w, nullptr);
        f.reset();
        sim::reset();
    }
    void cleanupTestCase() { w.reset(); }

    // 0.85 of the window, centred at y 120; versions as "V" and three digits; the name as UTF-8.
    void pageShowsTheKeyboard()
    {
        Device* d = nullptr;
        Setting* page = open(sim::fullSizeDual(), [](sim::FirmwareState& s) {
            s.btName = QByteArray("a\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\0", 12);
        });
        QVERIFY(page);
        d = w->device();
        QCOMPARE(page->geometry(), QRect(74, 120, 833, page->height()));
        QVERIFY(w->pageList().contains(page) && !page->isHidden());
        QCOMPARE(text("labelPN"), QStringLiteral("TK104 Dual"));
        QCOMPARE(text("labelFV"), QStringLiteral("V%1.%2.%3").arg(d->m_fw_version / 100).arg(d->m_fw_version % 100 / 10).arg(d->m_fw_version % 10));
        QCOMPARE(page->findChild<QLineEdit*>(QStringLiteral("QLineEdit_BluetoothName"))->text(),
                 QString::fromUtf8("aééééé"));
        QVERIFY(editorOffered()); // the sample board record has KLE set

        // A released slider sends minutes as milliseconds.
        page->sleepSlider()->setValue(7);
        emit page->sleepSlider()->sliderReleased();
        const QList<QByteArray> sent = sentReports(f->kb, 0xB0, 0x21);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].mid(8, 4), QByteArray::fromHex("a0680600")); // 420000
    }

    // What the keyboard holds, shown as the page can: its name up to the first zero (as the board
    // records match it) without control characters, its sleep time unsigned within the slider's
    // minutes, and the time as held in the log.
    void keyboardValuesShownWithinThePage_data()
    {
        QTest::addColumn<QByteArray>("name"); // 16 bytes
        QTest::addColumn<uint>("sleepMs");
        QTest::addColumn<QString>("shownName");
        QTest::addColumn<int>("shownMinutes");
        QTest::newRow("bytes after the zero") << QByteArray("TK104 Dual\0<b>XX", 16) << 600000u << "TK104 Dual" << 10;
        QTest::newRow("control characters") << QByteArray("TK\n104\x01" "Dual\r") << 600000u
                                             << "TK104Dual" << 10;
        QTest::newRow("sleep 2^31 ms") << QByteArray("TK104 Dual") << 0x80000000u << "TK104 Dual" << 180;
        QTest::newRow("sleep all ones") << QByteArray("TK104 Dual") << 0xffffffffu << "TK104 Dual" << 180;
    }
    void keyboardValuesShownWithinThePage()
    {
        QFETCH(QByteArray, name);
        QFETCH(uint, sleepMs);
        QFETCH(QString, shownName);
        QFETCH(int, shownMinutes);
        logrecorder::start();
        Setting* page = open(sim::fullSizeDual(), [&](sim::FirmwareState& s) {
            s.boardName = name.leftJustified(16, '\0');
            s.sleepTime = sleepMs;
        });
        const QStringList lines = logrecorder::lines();
        logrecorder::stop();
        QVERIFY(page);
        QCOMPARE(text("labelPN"), shownName);
        QCOMPARE(page->sleepSlider()->value(), shownMinutes);
        QVERIFY(page->sleepSlider()->slider()->isEnabled());
        QVERIFY(page->findChild<QCheckBox*>(QStringLiteral("checkBox_Enabled_AutoSleep"))->isChecked());
        QVERIFY(!lines.filter(QString("sleep time the keyboard holds: %1 ms").arg(sleepMs)).isEmpty());
    }

    // A keyboard no record names still gets the page, so its firmware can be upgraded.
    void unknownBoardGetsThePageWithoutTheEditor()
    {
        sim::KeyboardConfig board = sim::fullSizeDual();
        board.boardName = "TK999 Unknown";
        QVERIFY(open(board));
        QVERIFY(!editorOffered());
    }

    // Another tab deletes the page; a close keeps it, cleared, for a firmware upgrade.
    void pageLivesOnlyOnItsTab()
    {
        QPointer<Setting> page = open(sim::fullSizeDual());
        QVERIFY(page);
        w->closeDevice();
        QVERIFY(page);
        QCOMPARE(text("labelPN"), QStringLiteral("None"));
        QVERIFY(!editorOffered());
        w->labelPageClickSlot(QStringLiteral("Color"));
        QVERIFY(!page && !w->settingPage());
    }

    // The online update's folder opens the page and starts its upgrade there.
    void downloadedFolderReachesThePage()
    {
        QVERIFY(handKeyboardToWindow(*w, f, sim::fullSizeDual()));
        QSignalSpy modes(g_overallVariate, &overallVariate::unModeFirmwareSignal);
        const QString empty = m_app.filePath(QStringLiteral("UpgradeFirmware"));
        QDir().mkpath(empty);
        emit g_overallVariate->emitUpdateSignal(empty);
        QVERIFY(w->settingPage());
        // No image in it: the upgrade ends at once, out of upgrade mode, and the staged folder may go.
        QTRY_VERIFY_WITH_TIMEOUT(modes.count() >= 1, timescale::ms(10000));
        QVERIFY(w->settingPage()->isNormalLayout());
    }
};

QTEST_MAIN(SettingTab)
#include "test_settingtab.moc"
