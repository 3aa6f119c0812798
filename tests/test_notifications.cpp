// What the keyboard reports on its own reaching the main window, and the device settings the window
// changes for the settings page, against an emulated keyboard.
// With TESSARK_LOCK_SHOT=<file.png> it also writes a picture of the window with Caps Lock marked.
#include "messageboxrecorder.h"
#include "tempappdir.h"
#include "windowkeyboard.h"
#include "wire.h"

#include "main/tessark.h"
#include "setting/setting.h"
#include "widget/keybtn.h"
#include "widget/qss.h"
#include "timescale.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>

namespace {

QByteArray notification(uint8_t code, int length, const QByteArray& payload)
{
    QByteArray r(64, '\0');
    r[0] = char(0xF0);
    r[1] = char(code);
    r[2] = char(length & 0xFF);
    r[3] = char(length >> 8);
    r.replace(8, payload.size(), payload);
    return r;
}

} // namespace

class Notifications : public QObject {
    Q_OBJECT
    TempAppDir m_app;
    std::unique_ptr<Tessark> w;
    std::unique_ptr<KeyboardFixture> f;

    // Injects a notification and lets the window take it.
    void notify(const QByteArray& report)
    {
        f->kb->inject(report);
        QTest::qWait(150);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_app.setUpForWindow(QFINDTESTDATA("../appdir")));
        w.reset(new Tessark(nullptr, QStringLiteral("None")));
        w->stopScanning();
    }
    void init() { QVERIFY(handKeyboardToWindow(*w, f, sim::fullSizeDual())); }
    void cleanup()
    {
        w->closeDevice();
        f.reset();
        sim::reset();
    }
    void cleanupTestCase() { w.reset(); }

    // A map or mode chosen on the keyboard presses its button, which selects it as a click would;
    // a report of the wrong length, an index past the row or an unknown code changes nothing.
    void mapAndModeReportsPressTheirButtons_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("selectGroup"); // 0: nothing may be sent
        QTest::newRow("key map 1") << 0x20 << 2 << 1 << 0x20;
        QTest::newRow("key map, length 3") << 0x20 << 3 << 1 << 0;
        QTest::newRow("key map past the row") << 0x20 << 2 << 4 << 0;
        QTest::newRow("colour map 1") << 0x30 << 2 << 1 << 0x30;
        QTest::newRow("mode 2") << 0x60 << 2 << 2 << 0x60;
        QTest::newRow("unknown code") << 0x44 << 2 << 1 << 0;
    }
    void mapAndModeReportsPressTheirButtons()
    {
        QFETCH(int, code);
        QFETCH(int, length);
        QFETCH(int, index);
        QFETCH(int, selectGroup);
        notify(notification(uint8_t(code), length, QByteArray::fromHex("00") + char(index)));
        if (!selectGroup) {
            QCOMPARE(sentCount(f->kb), 0);
            return;
        }
        // A loaded machine may take longer than the pause above to deliver it.
        QTRY_COMPARE_WITH_TIMEOUT(sentReports(f->kb, uint8_t(selectGroup), 0x02).size(), 1, timescale::ms(10000));
        const QList<QByteArray> selects = sentReports(f->kb, uint8_t(selectGroup), 0x02);
        QCOMPARE(int(uint8_t(selects[0][8])), index);
        const QVector<QPushButton*>& row = selectGroup == 0x20 ? w->globuleKeys()
                                         : selectGroup == 0x30 ? w->globuleColors()
                                                               : w->globuleModes();
        QVERIFY(row[index]->styleSheet().contains(QLatin1String("globule-pressed.svg")));
        if (selectGroup == 0x20)
            QVERIFY(!sentReports(f->kb, 0x20, 0x10).isEmpty()); // the new map is read back
    }

    // Switches the keyboard reports faster than the window selects them: one to a layer that already
    // waits adds nothing, and the layer shown is the last one named.
    void layerSwitchesAheadOfTheWindowSelectTheLastOnce_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("order"); // "same": every one names it; "turns": another and it in turn
        QTest::addColumn<bool>("pastTheRow"); // one past the row comes last
        QTest::newRow("a hundred to one key map") << 0x20 << "same" << false;
        QTest::newRow("key maps in turn") << 0x20 << "turns" << false;
        QTest::newRow("colour maps in turn") << 0x30 << "turns" << false;
        QTest::newRow("modes in turn, then one past the row") << 0x60 << "turns" << true;
    }
    void layerSwitchesAheadOfTheWindowSelectTheLastOnce()
    {
        QFETCH(int, code);
        QFETCH(QString, order);
        QFETCH(bool, pastTheRow);
        const sim::FirmwareState s = f->kb->state();
        const int current = code == 0x20 ? s.curKeyMap : code == 0x30 ? s.curColourMap : s.curLightingMode;
        const QVector<QPushButton*>& row = code == 0x20 ? w->globuleKeys()
                                         : code == 0x30 ? w->globuleColors()
                                                        : w->globuleModes();
        const int last = (current + 1) % row.size();
        // All come before the window turns, as when they queue behind a slower selection.
        for (int i = 0; i < 100; ++i) {
            const int index = order == "same" || i % 2 ? last : current;
            w->onRecvNotifySlot(notification(uint8_t(code), 2, QByteArray(1, '\0') + char(index)));
        }
        if (pastTheRow)
            w->onRecvNotifySlot(notification(uint8_t(code), 2, QByteArray(1, '\0') + char(row.size())));
        QTRY_VERIFY_WITH_TIMEOUT(!sentReports(f->kb, uint8_t(code), 0x02).isEmpty(), timescale::ms(10000));
        QTest::qWait(200);
        const QList<QByteArray> selects = sentReports(f->kb, uint8_t(code), 0x02);
        QCOMPARE(selects.size(), 1);
        QCOMPARE(int(uint8_t(selects[0][8])), last);
        QVERIFY(row[last]->styleSheet().contains(QLatin1String("globule-pressed.svg")));
        const Device* d = w->device();
        QCOMPARE(int(code == 0x20 ? d->m_curkcm : code == 0x30 ? d->m_curkrm : d->m_curlm), last);
    }

    // A stream of switches as fast as the tool reads them: the window keeps turning (a timer of its
    // thread is never held up for long) and ends on the layer the keyboard named last.
    void layerSwitchStreamKeepsTheWindowTurning()
    {
        f->kb->setReportDelay(1); // each report takes a full-speed frame: a selection takes its real time
        const int current = f->kb->state().curKeyMap;
        const int other = (current + 1) % 4, last = (current + 2) % 4;
        QElapsedTimer clock;
        qint64 lastTick = 0, longest = 0;
        QTimer tick;
        tick.setInterval(10);
        connect(&tick, &QTimer::timeout, [&] {
            longest = qMax(longest, clock.elapsed() - lastTick);
            lastTick = clock.elapsed();
        });
        clock.start();
        tick.start();
        std::atomic<int> sent{0};
        std::thread keyboard([&] {
            for (int round = 0; round < 25; ++round) {
                sent += f->kb->flood(notification(0x20, 2, QByteArray(1, '\0') + char(other)), 10);
                sent += f->kb->flood(notification(0x20, 2, QByteArray(1, '\0') + char(last)), 10);
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(sent == 500, timescale::ms(60000));
        keyboard.join();
        // Done once the last switch named is the last one selected and the window is idle again.
        const auto lastSelected = [this] {
            const QList<QByteArray> selects = sentReports(f->kb, 0x20, 0x02);
            return selects.isEmpty() ? -1 : int(uint8_t(selects.last()[8]));
        };
        QTRY_COMPARE_WITH_TIMEOUT(lastSelected(), last, timescale::ms(60000));
        QTest::qWait(300);
        tick.stop();
        QVERIFY2(longest < timescale::ms(2000), QByteArray::number(longest));
        QVERIFY(w->globuleKeys()[last]->styleSheet().contains(QLatin1String("globule-pressed.svg")));
        QCOMPARE(int(w->device()->m_curkcm), last);
    }

    // A flood of key map and mode switches in turn, far past the bound on reports waiting, while the window's
    // thread is held: once it turns again the window ends on the last map and mode named. The flood names
    // maps and modes 0 and 1, the last of each kind 2: no switch that came before it can pass for it.
    void switchFloodPastTheBoundEndsOnTheLastNamed()
    {
        std::atomic<int> sent{0};
        const auto index = [](int i) { return i >= 2998 ? 2 : (i / 2) % 2; };
        QMap<int, int> last; // by code
        for (int i = 0; i < 3000; ++i)
            last[i % 2 ? 0x60 : 0x20] = index(i);
        std::thread keyboard([&] {
            for (int i = 0; i < 3000; ++i)
                sent += f->kb->flood(notification(i % 2 ? 0x60 : 0x20, 2, QByteArray(1, '\0') + char(index(i))), 1);
        });
        keyboard.join(); // the window's thread takes nothing meanwhile
        QCOMPARE(sent.load(), 3000);
        const auto lastSelected = [this](uint8_t group) {
            const QList<QByteArray> selects = sentReports(f->kb, group, 0x02);
            return selects.isEmpty() ? -1 : int(uint8_t(selects.last()[8]));
        };
        QTRY_VERIFY_WITH_TIMEOUT(lastSelected(0x20) == last[0x20] && lastSelected(0x60) == last[0x60],
                                 timescale::ms(60000));
        QTest::qWait(300); // nothing older comes after it
        QCOMPARE(QList<int>({lastSelected(0x20), lastSelected(0x60)}), QList<int>({last[0x20], last[0x60]}));
        const Device* d = w->device();
        QCOMPARE(QList<int>({d->m_curkcm, d->m_curlm}), QList<int>({last[0x20], last[0x60]}));
        QVERIFY(w->globuleKeys()[last[0x20]]->styleSheet().contains(QLatin1String("globule-pressed.svg")));
    }

    // Lock states: every picture key with the reported type, sub-type and code takes the flag; the
    // payload is scanned at every offset but never past the report, whatever length it claims.
    void lockReportsMarkMatchingKeys()
    {
        QList<KeyBtn*> caps;
        for (KeyBtn* key : w->dynamicKeyBtns())
            if (key->type == 1 && key->stype == 0 && key->code == 0x39)
                caps << key;
        QVERIFY(!caps.isEmpty());
        const KeyBtn* other = w->dynamicKeyBtns().first();
        QVERIFY(!caps.contains(const_cast<KeyBtn*>(other)));

        notify(notification(0x21, 3, QByteArray::fromHex("033900")));
        for (KeyBtn* key : caps)
            QVERIFY(key->locked);
        QVERIFY(!other->locked);
        if (qEnvironmentVariableIsSet("TESSARK_LOCK_SHOT"))
            QVERIFY(w->grab().save(qEnvironmentVariable("TESSARK_LOCK_SHOT")));

        notify(notification(0x21, 2, QByteArray::fromHex("0239"))); // no whole entry
        QVERIFY(caps.first()->locked);
        // One byte in front: the entry is still found at offset 1.
        notify(notification(0x21, 4, QByteArray::fromHex("ff023900")));
        for (KeyBtn* key : caps)
            QVERIFY(!key->locked);

        notify(notification(0x21, 300, QByteArray(53, '\0') + QByteArray::fromHex("033900")));
        QVERIFY(caps.first()->locked);
        notify(notification(0x21, 0, QByteArray::fromHex("023900")));
        QVERIFY(caps.first()->locked);
    }

    // Sleep time goes out in milliseconds; the keyboard's answer, a refusal and a failed write each
    // give exactly one box.
    void sleepTimeAndBluetoothNameAnswerOnce_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("bluetoothName");
        QTest::addColumn<QString>("text");
        const QString ok = QStringLiteral("  Modification OK.      ");
        QTest::newRow("sleep time accepted") << QString() << false << ok;
        QTest::newRow("sleep time refused") << "status" << false << "Modification Error: 5   ";
        QTest::newRow("sleep time write fails") << "write" << false << "Modification Error: -301989866   ";
        QTest::newRow("name accepted") << QString() << true << ok;
        QTest::newRow("name unanswered") << "silent" << true << "Modification Error: -301989875   ";
    }
    void sleepTimeAndBluetoothNameAnswerOnce()
    {
        QFETCH(QString, fault);
        QFETCH(bool, bluetoothName);
        QFETCH(QString, text);
        const uint8_t command = bluetoothName ? 0x11 : 0x21;
        if (fault == QLatin1String("status"))
            f->kb->answerStatus(0xB0, command, 5);
        else if (fault == QLatin1String("write"))
            f->kb->failWrite(1);
        else if (fault == QLatin1String("silent"))
            f->kb->silence(0xB0, command);
        MessageBoxRecorder boxes;
        if (bluetoothName)
            w->BluetoothNameSlot(QStringLiteral("Desk"));
        else
            w->SleepTimeSlot(5);
        QTest::qWait(100); // a queued second answer would arrive here
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes()[0].text, text);
        QCOMPARE(boxes.boxes()[0].kind, fault.isEmpty() ? MessageBoxRequest::Information : MessageBoxRequest::Critical);
        QCOMPARE(boxes.boxes()[0].parent, w.get());
        if (!bluetoothName && fault != QLatin1String("write")) {
            const QByteArray sent = sentReports(f->kb, 0xB0, 0x21).value(0);
            QCOMPARE(le::u32(reinterpret_cast<const uint8_t*>(sent.constData()) + 8), 300000u);
        }
    }

    // A sleep time the keyboard did not take (the write fails, or it refuses) is told in a box, and the
    // page shows again what the keyboard holds: the check box and slider as before the attempt. One it
    // takes stays shown.
    void failedSleepTimeShowsWhatTheKeyboardHolds_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("heldMinutes");
        QTest::addColumn<QString>("fault");
        QTest::newRow("turning sleep on, write fails") << "on" << 0 << "write";
        QTest::newRow("turning sleep on again, write fails") << "off, on" << 10 << "write";
        QTest::newRow("turning sleep off, write fails") << "off" << 10 << "write";
        QTest::newRow("moving the slider, write fails") << "slide" << 10 << "write";
        QTest::newRow("moving the slider, refused") << "slide" << 10 << "status";
        QTest::newRow("turning sleep off, refused") << "off" << 10 << "status";
        QTest::newRow("moving the slider, taken") << "slide" << 10 << QString();
    }
    void failedSleepTimeShowsWhatTheKeyboardHolds()
    {
        QFETCH(QString, action);
        QFETCH(int, heldMinutes);
        QFETCH(QString, fault);
        const uint32_t heldMs = uint32_t(heldMinutes) * 60000u;
        f->kb->edit([heldMs](sim::FirmwareState& s) { s.sleepTime = heldMs; });
        QCOMPARE(w->device()->getSleepTime(), 0u);
        w->labelPageClickSlot(QStringLiteral("Setting"));
        QVERIFY(w->settingPage());
        w->setSettingInformation(w->device());
        Setting* page = w->settingPage();
        auto* box = page->findChild<QCheckBox*>("checkBox_Enabled_AutoSleep");
        QSlider* slider = page->sleepSlider()->slider();
        const auto shown = [&] {
            return QString("%1 %2 %3").arg(box->isChecked()).arg(slider->isEnabled()).arg(page->sleepSlider()->value());
        };
        QCOMPARE(shown(), QString("%1 %1 %2").arg(heldMinutes != 0).arg(qMax(heldMinutes, 1)));
        if (action.startsWith("off, ")) {
            // Switched off first, and taken: the slider goes on offering the time it showed.
            MessageBoxRecorder taken;
            box->click();
            QTest::qWait(100);
            QCOMPARE(taken.boxes().size(), 1);
            QCOMPARE(f->kb->state().sleepTime, 0u);
            heldMinutes = 0;
            action = action.mid(5);
        }
        const QString before = shown();

        if (fault == QLatin1String("write"))
            f->kb->failWrite(1);
        else if (fault == QLatin1String("status"))
            f->kb->answerStatus(0xB0, 0x21, 5);
        MessageBoxRecorder boxes;
        if (action == QLatin1String("slide")) {
            page->sleepSlider()->setValue(30);
            emit page->sleepSlider()->sliderReleased();
        } else {
            box->click();
        }
        QTest::qWait(100); // the client's queued answer
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes()[0].kind, fault.isEmpty() ? MessageBoxRequest::Information : MessageBoxRequest::Critical);
        if (fault.isEmpty()) {
            QCOMPARE(shown(), QString("1 1 30"));
            QCOMPARE(f->kb->state().sleepTime, 30u * 60000u);
            return;
        }
        QCOMPARE(shown(), before);
        QVERIFY(box->isEnabled());
        QCOMPARE(page->sleepMinutes(), heldMinutes);
        QCOMPARE(f->kb->state().sleepTime, uint32_t(heldMinutes) * 60000u);
        // A page built again shows the same (off, the slider then offers what the keyboard last took).
        w->setSettingInformation(w->device());
        const int compared = heldMinutes != 0 ? before.size() : 3;
        QCOMPARE(shown().left(compared), before.left(compared));
    }

    // A Bluetooth name the keyboard refused, or did not answer for, gives way in the field to the one it
    // last took, already when the box opens, and in a page built again. One it takes stays.
    void failedBluetoothNameShowsWhatTheKeyboardHolds_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("refused") << "status";
        QTest::newRow("unanswered") << "silent";
        QTest::newRow("taken") << QString();
    }
    void failedBluetoothNameShowsWhatTheKeyboardHolds()
    {
        QFETCH(QString, fault);
        f->kb->edit([](sim::FirmwareState& s) { s.btName = QByteArray("Held").leftJustified(12, '\0'); });
        QCOMPARE(w->device()->getBtName(), 0u);
        w->labelPageClickSlot(QStringLiteral("Setting"));
        QVERIFY(w->settingPage());
        w->setSettingInformation(w->device());
        auto* edit = w->settingPage()->findChild<QLineEdit*>("QLineEdit_BluetoothName");
        QCOMPARE(edit->text(), QString("Held"));

        if (fault == QLatin1String("status"))
            f->kb->answerStatus(0xB0, 0x11, 5);
        else if (fault == QLatin1String("silent"))
            f->kb->silence(0xB0, 0x11);
        MessageBoxRecorder boxes;
        QString whenTold;
        boxes.whileOpen([&](const MessageBoxRequest&) { whenTold = edit->text(); });
        edit->setText("Typed");
        w->settingPage()->findChild<QPushButton*>("Button_BluetoothName")->click();
        QTest::qWait(100); // the client's queued answer
        QCOMPARE(boxes.boxes().size(), 1);
        const QString held = fault.isEmpty() ? "Typed" : "Held";
        QCOMPARE(whenTold, held);
        if (fault != QLatin1String("silent")) // unanswered, the keyboard may have taken it all the same
            QCOMPARE(f->kb->state().btName, held.toUtf8().leftJustified(12, '\0'));
        w->setSettingInformation(w->device());
        QCOMPARE(edit->text(), held);
    }

    // Scan speed and user information confirm only success; without a keyboard nothing is sent.
    void scanSpeedConfirmsOnlySuccess()
    {
        MessageBoxRecorder boxes;
        w->updateSSSlot(3);
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes()[0].kind, MessageBoxRequest::About);
        QCOMPARE(boxes.boxes()[0].text, QStringLiteral("Scan Speed \"3\" Succeeded!"));
        QVERIFY(!boxes.boxes()[0].parent);
        f->kb->failWrite(1);
        w->updateSSSlot(4);
        QCOMPARE(boxes.boxes().size(), 1);

        w->closeDevice();
        f->kb->clearLog();
        w->SleepTimeSlot(1);
        w->nKeySlot(1);
        QCOMPARE(sentCount(f->kb), 0);
        QVERIFY(boxes.boxes().size() == 1);
    }
};

QTEST_MAIN(Notifications)
#include "test_notifications.moc"
