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
#include "timescale.h"

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
int updateFrameY(Setting& page) { return child(&page, "frameUpdate")->y(); }

// Sized as the main window sizes it.
void size(Setting& page)
{
    page.resize(800, 695);
    page.setPageSize(800, 695);
}

} // namespace

class SettingPage : public QObject {
    Q_OBJECT
    TempAppDir m_dir;

private slots:
    void initTestCase()
    {
        setAppDirPathForTest(m_dir.path());
        QVERIFY(m_dir.copyFiles(QFINDTESTDATA("../appdir/images/setting"), "images/setting"));
        for (const char* image : {"images/close.svg", "images/close-hover.svg"}) // the layout editor's
            QVERIFY(m_dir.write(image, readFile(QFINDTESTDATA(QString("../appdir/") + image))));
    }
    void cleanup() { sim::reset(); }

    // Shown as the keyboard reports it. Then a release sends the slider's minutes, unchecking sends 0 at
    // once and checking the slider's value.
    void sleepTime_data()
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
        // Read unsigned: the keyboard's values past 2^31 ms are long times, not negative ones.
        QTest::newRow("2^31 ms") << int(0x80000000u) << 0 << 180 << true;
        QTest::newRow("all ones") << int(0xffffffffu) << 0 << 180 << true;
        QTest::newRow("off, last past 2^31 ms") << 0 << int(0xfffff000u) << 180 << false;
    }
    void sleepTime()
    {
        QFETCH(int, ms);
        QFETCH(int, lastMs);
        QFETCH(int, shown);
        QFETCH(bool, on);
        Setting page(nullptr, nullptr, false);
        page.setSleepTime(ms, lastMs);
        QSlider* inner = page.sleepSlider()->slider();
        QCOMPARE(page.sleepSlider()->value(), shown);
        QVERIFY(inner->isEnabled() == on && sleepBox(page)->isChecked() == on && sleepBox(page)->isEnabled());
        QSignalSpy sent(&page, &Setting::emitSleepTime);
        emit inner->sliderReleased();
        QTest::mouseClick(sleepBox(page), Qt::LeftButton);
        QVERIFY(inner->isEnabled() != on && page.sleepMinutes() == (on ? 0 : shown));
        QTest::mouseClick(sleepBox(page), Qt::LeftButton);
        QCOMPARE(sent, QList<QVariantList>({{shown}, {on ? 0 : shown}, {on ? shown : 0}}));
    }

    // Shown as given; the keyboard's padding is dropped; an empty name is not sent; the device controls
    // go on and off together, the sleep check box waiting for the sleep time (none known yet: the
    // slider stays locked).
    void productInfoAndBluetoothName()
    {
        Setting page(nullptr, nullptr, true);
        const auto state = [&] {
            QStringList out;
            for (const char* value : {"labelPN", "labelFV", "labelHV", "labelCD"})
                out << child<QLabel>(&page, value)->text();
            for (const QWidget* w : std::initializer_list<const QWidget*>{
                     nameButton(page), nameEdit(page), page.sleepSlider()->slider(), sleepBox(page),
                     editorButton(page), firmwarePath(page)})
                out << (w->isEnabled() ? "on" : "off");
            return out.join(' ');
        };
        const QString cleared = "None None None None off off off off off off";
        QCOMPARE(state(), cleared);
        page.setProductInfo("TK104 Dual", "V1.2.3", "V10.0.5", "2024-01-02");
        page.setDeviceControlsEnabled(true);
        QCOMPARE(state(), QString("TK104 Dual V1.2.3 V10.0.5 2024-01-02 on on off off on on"));

        page.setBluetoothName(QString("BT-ab") + QString(7, QChar(0)));
        QCOMPARE(nameEdit(page)->text(), QString("BT-ab"));
        QSignalSpy named(&page, &Setting::emitBluetoothName);
        QTest::mouseClick(nameButton(page), Qt::LeftButton);
        nameEdit(page)->clear();
        QTest::mouseClick(nameButton(page), Qt::LeftButton);
        QCOMPARE(named, QList<QVariantList>{{"BT-ab"}});
        int pos = 0;
        QString ideograph("a名"), latin("Zé-1");
        QCOMPARE(nameEdit(page)->validator()->validate(ideograph, pos), QValidator::Invalid);
        QCOMPARE(nameEdit(page)->validator()->validate(latin, pos), QValidator::Acceptable);

        page.clearInformation();
        QCOMPARE(state(), cleared);
    }

    // A field switched off with text still in it draws that text in the grey of the disabled icons,
    // as the user sees it (a grab) and as the style gives it (the palette), and its border too (the
    // grab); switched on, in its own colours.
    void disabledFieldDrawsItsTextInTheDisabledGrey_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QColor>("text");
        QTest::addColumn<bool>("border"); // the border's colour is checked, not the text's
        QTest::newRow("Bluetooth name") << "name" << QColor("#282828") << false;
        QTest::newRow("firmware path") << "path" << QColor("#282828") << false;
        QTest::newRow("firmware path, typed in") << "typed" << QColor(70, 70, 70) << false; // the page's colour
        QTest::newRow("Bluetooth name, border") << "name" << QColor(125, 125, 125) << true;
    }
    void disabledFieldDrawsItsTextInTheDisabledGrey()
    {
        QFETCH(QString, field);
        QFETCH(QColor, text);
        QFETCH(bool, border);
        Setting page(nullptr, nullptr, false);
        QLineEdit* edit = field == "name" ? nameEdit(page) : firmwarePath(page);
        // Dark and wide: the grab's darkest pixel is the text's colour. The path's look after the layout
        // step, or after the user typed (a border of its own, no text colour).
        if (field == "typed")
            size(page);
        edit->setText("WWWWWW");
        if (field != "typed")
            size(page);
        QCOMPARE(edit->styleSheet().contains("#282828"), field != "typed");
        const QColor disabledGrey("#c5c8ce");
        const auto distance = [](const QColor& a, const QColor& b) {
            return qAbs(a.red() - b.red()) + qAbs(a.green() - b.green()) + qAbs(a.blue() - b.blue());
        };
        // The darkest pixel inside the border, or of the border's top edge at mid width (no text there).
        const auto drawn = [edit, border] {
            const QImage image = edit->grab().toImage();
            QColor darkest(Qt::white);
            for (int y = border ? 0 : 3; y < (border ? 2 : image.height() - 3); ++y)
                for (int x = border ? image.width() / 2 : 3; x < (border ? image.width() / 2 + 1 : image.width() - 3); ++x)
                    if (qGray(image.pixel(x, y)) < qGray(darkest.rgb()))
                        darkest = QColor(image.pixel(x, y));
            return darkest;
        };
        for (const bool on : {true, false}) {
            page.setDeviceControlsEnabled(on);
            QCOMPARE(edit->isEnabled(), on);
            const QPalette::ColorGroup group = on ? QPalette::Active : QPalette::Disabled;
            const QColor expected = on ? text : disabledGrey;
            if (!border)
                QCOMPARE(edit->palette().color(group, QPalette::Text).name(), expected.name());
            const QColor seen = drawn();
            QVERIFY2(distance(seen, expected) <= 24, qPrintable(QString("%1 drawn %2").arg(on).arg(seen.name())));
        }
    }

    // Controls switched on again (after an upgrade) show the sleep time the keyboard last reported: a
    // time of 0 leaves the box clear and the slider locked, at the last real value.
    void controlsOnAgainKeepTheKeyboardsSleepTime_data()
    {
        QTest::addColumn<int>("ms");
        QTest::addColumn<int>("lastMs");
        QTest::addColumn<int>("shown");
        QTest::addColumn<bool>("on");
        QTest::newRow("sleep off") << 0 << 300000 << 5 << false;
        QTest::newRow("sleep off, none known") << 0 << 0 << 1 << false;
        QTest::newRow("12 minutes") << 720000 << 0 << 12 << true;
    }
    void controlsOnAgainKeepTheKeyboardsSleepTime()
    {
        QFETCH(int, ms);
        QFETCH(int, lastMs);
        QFETCH(int, shown);
        QFETCH(bool, on);
        Setting page(nullptr, nullptr, false);
        page.setDeviceControlsEnabled(true);
        page.setSleepTime(ms, lastMs);
        page.setDeviceControlsEnabled(false);
        QVERIFY(!sleepBox(page)->isChecked() && !page.sleepSlider()->slider()->isEnabled());
        page.setDeviceControlsEnabled(true);
        QCOMPARE(sleepBox(page)->isChecked(), on);
        QCOMPARE(page.sleepSlider()->slider()->isEnabled(), on);
        QCOMPARE(page.sleepSlider()->value(), shown);
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
        QPointer<BuildingBlock> editor = page.buildingBlock();
        QTest::mousePress(editorButton(page), Qt::LeftButton);
        QVERIFY(editor && editor == page.buildingBlock() && editor->isVisible());
        emit editor->emitClose();
        QVERIFY(!page.buildingBlock());
        QTRY_VERIFY_WITH_TIMEOUT(!editor, timescale::ms(10000));

        QTest::mousePress(editorButton(page), Qt::LeftButton);
        editor = page.buildingBlock();
        page.clearInformation();
        QTRY_VERIFY_WITH_TIMEOUT(!editor, timescale::ms(10000));
    }

    // In: the overlay, the ring reading "UPDATE", the update frame lower, the poller at 500 ms. Starting
    // drops the poller; each of the three ends brings the normal layout back.
    void upgradeModeInAndOut()
    {
        Setting page(nullptr, nullptr, false);
        size(page);
        QStringList events;
        connect(&page, &Setting::emitModeDUF, this, [&] { events << "mode"; });
        connect(&page, &Setting::emitUpdateFU, this, [&](const QString& f) { events << "update " + f; });
        connect(&page, &Setting::emitNuModeDUF, this, [&] { events << "normal"; });
        QCOMPARE(updateFrameY(page), 385);
        Schedule* ring = page.firmware()->schedule();
        for (int end = 0; end < 3; ++end) {
            events.clear();
            page.intoUpdate(0, 0);
            QVERIFY(page.overlayLabel() && !page.isNormalLayout());
            QCOMPARE(page.overlayLabel()->geometry(), QRect(80, 70, 640, 262));
            QVERIFY(!page.overlayLabel()->pixmap(Qt::ReturnByValue).isNull());
            QCOMPARE(updateFrameY(page), 410);
            QVERIFY(child(&page, "frameProduct")->isHidden() && child(&page, "frameSetting")->isHidden());
            QVERIFY(ring->parentWidget() == &page && !ring->isHidden() && ring->label()->text() == "UPDATE");
            emit page.emitWaitDfuOpen(true); // relayed to the panel's wait animation
            QCOMPARE(ring->label()->text(), QString("WAIT"));
            QVERIFY(firmwarePath(page)->isEnabled());
            QCOMPARE(page.checkUSB()->findChild<QTimer*>()->interval(), 500);

            page.updateSureSlot("/fw");
            QVERIFY(!page.checkUSB() && page.overlayLabel());
            QCOMPARE(events, QStringList({"mode", "update /fw"}));
            end == 0 ? page.updateFinished() : end == 1 ? page.updateErrorStop() : page.cancelSlot();
            QCOMPARE(events, QStringList({"mode", "update /fw", "normal"}));
            QVERIFY(!page.overlayLabel() && page.isNormalLayout() && ring->isHidden());
            QCOMPARE(updateFrameY(page), 385);
            QVERIFY(!child(&page, "frameProduct")->isHidden() && !child(&page, "frameSetting")->isHidden());
        }
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
        QTest::newRow("no total") << 0 << 0 << 1500 << 0;
        QTest::newRow("beyond the total") << 4000 << 1000 << 9000 << 100;
    }
    void progressIsAPercentOfAllImages()
    {
        QFETCH(int, total);
        QFETCH(int, offset);
        QFETCH(int, sent);
        Setting page(nullptr, nullptr, false);
        size(page);
        page.m_progressTotal = total;
        page.m_progressOffset = offset;
        page.UpdateProgressSlot(sent);
        const Schedule* ring = page.firmware()->schedule();
        QTEST(ring->progress(), "percent");
        QCOMPARE(ring->label()->text(), QString::number(ring->progress()) + "%");
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
    // The device leaving ends upgrade mode and restarts the scans, once; polled by hand while it is
    // there. Missing at the first poll, 500 ms in, it ends upgrade mode at once.
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
        if (found) {
            page.checkUSB()->scanDeviceSlot();
            QVERIFY(!page.isNormalLayout());
            bootloader ? sim::unplug(bl) : sim::unplug(kb);
            page.checkUSB()->scanDeviceSlot();
        }
        QTRY_VERIFY_WITH_TIMEOUT(page.isNormalLayout(), timescale::ms(10000));
        QVERIFY(page.isNormalLayout() && !page.checkUSB() && !page.overlayLabel() && !firmwarePath(page)->isEnabled());
        QVERIFY(scans.size() == 1 && normal.size() == 1);
    }

    void pageDeletedInUpgradeModeTakesItsPoller()
    {
        auto* page = new Setting(nullptr, nullptr, false);
        page->intoUpdate(0, 0);
        const QPointer<CheckUSB> poller = page->checkUSB();
        QVERIFY(poller);
        delete page;
        QVERIFY(!poller);
    }

    // The keyboard takes 12 bytes of UTF-8: a name of 13 goes out as 11 and a pad, never half a character.
    void bluetoothNameIsCutOnACharacterBoundary()
    {
        KeyboardFixture f;
        QVERIFY(f.open());
        const QString e = QString::fromUtf8("é");
        f.device->setBtName("a" + e.repeated(6));
        const QList<QByteArray> sent = sentReports(f.kb, 0xB0, 0x11);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(uint8_t(sent[0][2]), uint8_t(12));
        QCOMPARE(sent[0].mid(8, 12), ("a" + e.repeated(5)).toUtf8() + '\0');
    }
};

QTEST_MAIN(SettingPage)
#include "test_settingpage.moc"
