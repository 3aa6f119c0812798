// The settings page: sleep time and Bluetooth name in and out, the layout editor button, upgrade mode
// with its presence poller and progress, and the Bluetooth name as it goes on the wire.
#include "device/checkusb.h"
#include "keyboardfixture.h"
#include "setting/buildingblock.h"
#include "setting/firmware.h"
#include "setting/schedule.h"
#include "setting/setting.h"
#include "tempappdir.h"
#include "widget/qss.h"
#include "wire.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QValidator>
#include <QtTest>

namespace {

template <typename T = QWidget>
T* child(QWidget* page, const char* name)
{
    return page->findChild<T*>(name);
}
QCheckBox* sleepBox(Setting& page) { return child<QCheckBox>(&page, "checkBox_Enabled_AutoSleep"); }
QLineEdit* nameEdit(Setting& page) { return child<QLineEdit>(&page, "QLineEdit_BluetoothName"); }
QPushButton* nameButton(Setting& page) { return child<QPushButton>(&page, "Button_BluetoothName"); }
QPushButton* editorButton(Setting& page) { return child<QPushButton>(&page, "buildingBlockButton"); }
QLineEdit* firmwarePath(Setting& page) { return child<QLineEdit>(page.firmware(), "openLineEdit"); }
int frameY(Setting& page, const char* frame) { return child(&page, frame)->y(); }

int openEditors()
{
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += qobject_cast<BuildingBlock*>(w) != nullptr;
    return n;
}

} // namespace

class SettingPage : public QObject {
    Q_OBJECT
    TempAppDir m_dir;

    // Sized as the main window sizes it, 800 x 695.
    static void size(Setting& page)
    {
        page.resize(800, 695);
        page.setPageSize(800, 695);
    }

private slots:
    void initTestCase()
    {
        setAppDirPathForTest(m_dir.path());
        QVERIFY(m_dir.copyFiles(QFINDTESTDATA("../appdir/images/setting"), "images/setting"));
        for (const char* image : {"images/close.svg", "images/close-hover.svg"}) // the layout editor's
            QVERIFY(m_dir.write(image, readFile(QFINDTESTDATA(QString("../appdir/") + image))));
    }
    void cleanup() { sim::reset(); }

    void sleepTimeIsShown_data()
    {
        QTest::addColumn<int>("ms");
        QTest::addColumn<int>("lastMs");
        QTest::addColumn<int>("shown");
        QTest::addColumn<bool>("on");
        QTest::newRow("10 minutes") << 600000 << 0 << 10 << true;
        QTest::newRow("off shows the last time") << 0 << 300000 << 5 << false;
        QTest::newRow("off, none known: the minimum") << 0 << 0 << 1 << false;
        QTest::newRow("under a minute is off") << 59999 << 120000 << 2 << false;
        QTest::newRow("above the maximum") << 200 * 60000 << 0 << 180 << true;
    }
    void sleepTimeIsShown()
    {
        QFETCH(int, ms);
        QFETCH(int, lastMs);
        Setting page(nullptr, nullptr, false);
        QVERIFY(!sleepBox(page)->isEnabled() && !page.sleepSlider()->slider()->isEnabled());
        page.setSleepTime(ms, lastMs);
        QTEST(page.sleepSlider()->value(), "shown");
        QTEST(page.sleepSlider()->slider()->isEnabled(), "on");
        QTEST(sleepBox(page)->isChecked(), "on");
        QVERIFY(sleepBox(page)->isEnabled());
    }

    // A release sends the slider's minutes; unchecking sends 0 at once, checking the slider's value.
    void sleepControlsSendMinutes()
    {
        Setting page(nullptr, nullptr, false);
        QSignalSpy sent(&page, &Setting::emitSleepTime);
        page.setSleepTime(200 * 60000, 0);
        QSlider* inner = page.sleepSlider()->slider();
        emit inner->sliderReleased();
        QTest::mouseClick(sleepBox(page), Qt::LeftButton);
        QVERIFY(!inner->isEnabled() && page.sleepMinutes() == 0);
        QTest::mouseClick(sleepBox(page), Qt::LeftButton);
        QVERIFY(inner->isEnabled());
        QCOMPARE(sent, QList<QVariantList>({{180}, {0}, {180}}));
    }

    // Shown as given; the keyboard's padding is dropped; an empty name is not sent.
    void productInfoAndBluetoothName()
    {
        Setting page(nullptr, nullptr, true);
        const auto shown = [&] {
            QStringList out;
            for (const char* value : {"labelPN", "labelFV", "labelHV", "labelCD"})
                out << child<QLabel>(&page, value)->text();
            return out;
        };
        const auto controls = [&] {
            return QList<bool>{nameButton(page)->isEnabled(), nameEdit(page)->isEnabled(),
                               page.sleepSlider()->slider()->isEnabled(), sleepBox(page)->isEnabled(),
                               editorButton(page)->isEnabled(), firmwarePath(page)->isEnabled()};
        };
        const QList<bool> allOff{false, false, false, false, false, false};
        QCOMPARE(shown(), QStringList({"None", "None", "None", "None"}));
        QCOMPARE(controls(), allOff);
        page.setProductInfo("TK104 Dual", "V1.2.3", "V10.0.5", "2024-01-02");
        QCOMPARE(shown(), QStringList({"TK104 Dual", "V1.2.3", "V10.0.5", "2024-01-02"}));
        page.setDeviceControlsEnabled(true);
        QCOMPARE(controls(), QList<bool>({true, true, true, false, true, true}));

        page.setBluetoothName(QString("BT-ab") + QString(7, QChar(0)));
        QCOMPARE(nameEdit(page)->text(), QString("BT-ab"));
        QSignalSpy named(&page, &Setting::emitBluetoothName);
        QTest::mouseClick(nameButton(page), Qt::LeftButton);
        nameEdit(page)->clear();
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("The Bluetooth Name invalid!"));
        QTest::mouseClick(nameButton(page), Qt::LeftButton);
        QCOMPARE(named, QList<QVariantList>{{"BT-ab"}});
        int pos = 0;
        QString ideograph("a名"), latin("Zé-1");
        QCOMPARE(nameEdit(page)->validator()->validate(ideograph, pos), QValidator::Invalid);
        QCOMPARE(nameEdit(page)->validator()->validate(latin, pos), QValidator::Acceptable);

        page.clearInformation();
        QCOMPARE(shown(), QStringList({"None", "None", "None", "None"}));
        QCOMPARE(controls(), allOff);
    }

    // Only with the flag; one editor however often pressed; deleted on its close and when the device
    // information goes.
    void layoutEditorButtonOnlyWithTheFlag()
    {
        Setting without(nullptr, nullptr, false);
        without.show();
        Setting page(nullptr, nullptr, true);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QVERIFY(!editorButton(without)->isVisible() && editorButton(page)->isVisible());
        page.setDeviceControlsEnabled(true);
        QTest::mousePress(editorButton(page), Qt::LeftButton);
        QTest::mousePress(editorButton(page), Qt::LeftButton);
        QCOMPARE(openEditors(), 1);
        QPointer<BuildingBlock> editor = page.buildingBlock();
        QVERIFY(editor && editor->isVisible());
        emit editor->emitClose();
        QVERIFY(!page.buildingBlock());
        QTRY_VERIFY(!editor);

        QTest::mousePress(editorButton(page), Qt::LeftButton);
        editor = page.buildingBlock();
        page.clearInformation();
        QTRY_VERIFY(!editor);
        page.setBuildingBlockButtonVisible(false);
        QVERIFY(!editorButton(page)->isVisible());
    }

    void upgradeModeInAndOut_data()
    {
        QTest::addColumn<int>("end");
        QTest::newRow("finished") << 0;
        QTest::newRow("error stop") << 1;
        QTest::newRow("cancelled") << 2;
    }
    // In: the overlay, the ring reading "UPDATE", the update frame lower, the poller at 500 ms. Starting
    // drops the poller; every end brings the normal layout back.
    void upgradeModeInAndOut()
    {
        QFETCH(int, end);
        Setting page(nullptr, nullptr, false);
        size(page);
        QStringList events;
        connect(&page, &Setting::emitModeDUF, this, [&] { events << "mode"; });
        connect(&page, &Setting::emitUpdateFU, this, [&](const QString& f) { events << "update " + f; });
        connect(&page, &Setting::emitNuModeDUF, this, [&] { events << "normal"; });
        QCOMPARE(child(&page, "frameProduct")->geometry(), QRect(0, 5, 800, 210));
        QCOMPARE(child(&page, "frameSetting")->geometry(), QRect(0, 220, 800, 160));
        QCOMPARE(frameY(page, "frameUpdate"), 385);

        page.intoUpdate(0, 0);
        Schedule* ring = page.firmware()->schedule();
        QVERIFY(page.overlayLabel() && !page.isNormalLayout());
        QCOMPARE(page.overlayLabel()->geometry(), QRect(80, 70, 640, 262));
        QVERIFY(!page.overlayLabel()->pixmap(Qt::ReturnByValue).isNull());
        QCOMPARE(frameY(page, "frameUpdate"), 410);
        QVERIFY(child(&page, "frameProduct")->isHidden() && child(&page, "frameSetting")->isHidden());
        QVERIFY(ring->parentWidget() == &page && !ring->isHidden() && ring->pos() == QPoint(148, 84));
        emit page.emitWaitDfuOpen(true); // relayed to the panel's wait animation
        QCOMPARE(ring->label()->text(), QString("WAIT"));
        emit page.emitWaitDfuOpen(false);
        QCOMPARE(ring->label()->text(), QString("UPDATE"));
        QVERIFY(firmwarePath(page)->isEnabled());
        QCOMPARE(page.checkUSB()->findChild<QTimer*>()->interval(), 500);

        page.updateSureSlot("/fw");
        QVERIFY(!page.checkUSB() && page.overlayLabel());
        QCOMPARE(events, QStringList({"mode", "update /fw"}));

        if (end == 0)
            page.updateFinished();
        else if (end == 1)
            page.updateErrorStop();
        else
            page.cancelSlot();
        QCOMPARE(events, QStringList({"mode", "update /fw", "normal"}));
        QVERIFY(!page.overlayLabel() && page.isNormalLayout() && ring->isHidden());
        QCOMPARE(frameY(page, "frameUpdate"), 385);
        QVERIFY(!child(&page, "frameProduct")->isHidden() && !child(&page, "frameSetting")->isHidden());
    }

    void progressIsAPercentOfAllImages_data()
    {
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("sent");
        QTest::addColumn<int>("percent");
        constexpr int MiB16 = 16 << 20;
        QTest::newRow("truncated, not rounded") << 4000 << 1000 << 1500 << 62;
        QTest::newRow("offset only") << 4000 << 1000 << 0 << 25;
        QTest::newRow("all") << 4000 << 1000 << 3000 << 100;
        QTest::newRow("three 16 MiB images") << 3 * MiB16 << 2 * MiB16 << MiB16 / 2 << 83;
        QTest::newRow("three 16 MiB images, last byte") << 3 * MiB16 << 2 * MiB16 << MiB16 << 100;
        QTest::newRow("no total") << 0 << 0 << 1500 << 0;
        QTest::newRow("beyond the total") << 4000 << 1000 << 9000 << 100;
        QTest::newRow("negative") << 4000 << 0 << -100 << 0;
    }
    void progressIsAPercentOfAllImages()
    {
        QFETCH(int, total);
        QFETCH(int, offset);
        QFETCH(int, sent);
        QFETCH(int, percent);
        Setting page(nullptr, nullptr, false);
        size(page);
        page.m_progressTotal = total;
        page.m_progressOffset = offset;
        page.UpdateProgressSlot(sent);
        QCOMPARE(page.firmware()->schedule()->progress(), percent);
        QCOMPARE(page.firmware()->schedule()->label()->text(), QString::number(percent) + "%");
    }

    void watchedDeviceLeavingEndsUpgradeMode_data()
    {
        QTest::addColumn<int>("vid");
        QTest::addColumn<int>("pid");
        QTest::addColumn<bool>("bootloader"); // plugged; otherwise a keyboard with 0x3151/0x4015
        QTest::addColumn<bool>("found");
        QTest::newRow("0, 0 watches the bootloader") << 0 << 0 << true << true;
        QTest::newRow("ids watch that device") << 0x3151 << 0x4015 << false << true;
        QTest::newRow("ids do not watch the bootloader") << 0x3151 << 0x4015 << true << false;
    }
    // Polled by hand here; the device leaving ends upgrade mode and restarts the scans, once.
    void watchedDeviceLeavingEndsUpgradeMode()
    {
        QFETCH(int, vid);
        QFETCH(int, pid);
        QFETCH(bool, bootloader);
        QFETCH(bool, found);
        Setting page(nullptr, nullptr, false);
        size(page);
        QSignalSpy scans(&page, &Setting::emitStartScanDevice);
        QSignalSpy normal(&page, &Setting::emitNuModeDUF);
        const sim::BootloaderPtr bl = bootloader ? sim::plugBootloader() : nullptr;
        const sim::KeyboardPtr kb = bootloader ? nullptr : sim::plug();
        page.intoUpdate(uint16_t(vid), uint16_t(pid));
        page.checkUSB()->scanDeviceSlot();
        QCOMPARE(page.isNormalLayout(), !found);
        if (found) {
            bootloader ? sim::unplug(bl) : sim::unplug(kb);
            page.checkUSB()->scanDeviceSlot();
        }
        QVERIFY(page.isNormalLayout() && !page.checkUSB() && !page.overlayLabel() && !firmwarePath(page)->isEnabled());
        QVERIFY(scans.size() == 1 && normal.size() == 1);
    }

    // Missing at the first poll, 500 ms in: upgrade mode ends at once. A page deleted in upgrade mode
    // takes its poller with it.
    void pollerLivesOnlyWithUpgradeMode()
    {
        Setting page(nullptr, nullptr, false);
        size(page);
        QSignalSpy scans(&page, &Setting::emitStartScanDevice);
        page.intoUpdate(0, 0);
        QTRY_COMPARE_WITH_TIMEOUT(scans.size(), 1, 3000);
        QVERIFY(page.isNormalLayout() && !page.checkUSB());

        auto* deleted = new Setting(nullptr, nullptr, false);
        deleted->intoUpdate(0, 0);
        const QPointer<CheckUSB> poller = deleted->checkUSB();
        QVERIFY(poller);
        delete deleted;
        QVERIFY(!poller);
    }

    void bluetoothNameIsCutOnACharacterBoundary_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("payload");
        const QString e = QString::fromUtf8("é"), euro = QString::fromUtf8("€"), smile = QString::fromUtf8("😀");
        QTest::newRow("short") << "Mine" << QByteArray("Mine");
        QTest::newRow("two-byte cut") << "a" + e.repeated(6) << ("a" + e.repeated(5)).toUtf8();
        QTest::newRow("three-byte fits") << euro.repeated(5) << euro.repeated(4).toUtf8();
        QTest::newRow("three-byte cut") << "ab" + euro.repeated(4) << ("ab" + euro.repeated(3)).toUtf8();
        QTest::newRow("four-byte cut") << "a" + smile.repeated(3) << ("a" + smile.repeated(2)).toUtf8();
    }
    void bluetoothNameIsCutOnACharacterBoundary()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, payload);
        KeyboardFixture f;
        QVERIFY(f.open());
        f.device->setBtName(name);
        const QList<QByteArray> sent = sentReports(f.kb, 0xB0, 0x11);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(uint8_t(sent[0][2]), uint8_t(12));
        QCOMPARE(sent[0].mid(8, 12), payload.leftJustified(12, '\0'));
    }
};

QTEST_MAIN(SettingPage)
#include "test_settingpage.moc"
