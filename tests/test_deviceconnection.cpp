// A whole connection as the main window makes it: open, load, notifications, unplug and close.
#include "wire.h"
#include "device/device.h"
#include "device/deviceconnection.h"
#include "simcontrol.h"
#include "widget/data.h"
#include "widget/qss.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(sim::KeyboardConfig)

class DeviceConnectionTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    void opensLoadsAndPassesNotificationsOn()
    {
        sim::KeyboardConfig config;
        auto kb = sim::plug(config);
        DeviceConnection c;
        QSignalSpy opened(&c, &DeviceConnection::emitOpenSucceeded);
        QSignalSpy loaded(&c, &DeviceConnection::emitFinishLoad);
        QSignalSpy failed(&c, &DeviceConnection::emitLoadDevInfoError);
        QSignalSpy notified(&c, &DeviceConnection::emitNotify);
        c.open(config.vid, config.pid, config.commandInterface, kb->commandPath());
        QVERIFY(loaded.wait(20000));
        QCOMPARE(opened.count(), 1);
        QCOMPARE(failed.count(), 0);
        QVERIFY(c.device());
        QCOMPARE(c.device()->boardName(), QString::fromLatin1(config.boardName));

        kb->inject(report(0xF0, 0x20, 2));
        QVERIFY(notified.wait(2000));
        QCOMPARE(notified.at(0).at(0).toByteArray(), report(0xF0, 0x20, 2));
        c.close();
        QVERIFY(!c.device());
        QVERIFY(!c.usb());
    }

    void emulatedBoardsAreTheSampleFamily_data()
    {
        QTest::addColumn<sim::KeyboardConfig>("config");
        QTest::addColumn<int>("colourMaps");
        QTest::newRow("full-size dual") << sim::fullSizeDual() << 2;
        QTest::newRow("tenkeyless wired") << sim::tenkeylessWired() << 0;
    }
    void emulatedBoardsAreTheSampleFamily()
    {
        QFETCH(sim::KeyboardConfig, config);
        QFETCH(int, colourMaps);
        setAppDirPathForTest(QFINDTESTDATA("../appdir")); // only read
        Data data;
        QVector<BoardInfo*> boards;
        QVERIFY(data.parseConfigXML(&boards, QStringLiteral("config.xml")));
        QCOMPARE(data.vid, config.vid);
        QCOMPARE(data.pid, config.pid);

        auto kb = sim::plug(config);
        DeviceConnection c;
        QSignalSpy loaded(&c, &DeviceConnection::emitFinishLoad);
        c.open(data.vid, data.pid, config.commandInterface, kb->commandPath());
        QVERIFY(loaded.wait(20000));
        const QString name = c.device()->boardName();
        const auto record = std::find_if(boards.begin(), boards.end(), [&](BoardInfo* b) { return b->name == name; });
        QVERIFY2(record != boards.end(), qPrintable(name));
        QCOMPARE(int(c.device()->m_nkrm), colourMaps);
        qDeleteAll(boards);
    }

    void unplugSignalsDisconnect()
    {
        sim::KeyboardConfig config;
        auto kb = sim::plug(config);
        DeviceConnection c;
        QSignalSpy opened(&c, &DeviceConnection::emitOpenSucceeded);
        QSignalSpy gone(&c, &DeviceConnection::emitUsbDisconnect);
        c.open(config.vid, config.pid, config.commandInterface, kb->commandPath());
        QVERIFY(opened.wait(3000));
        sim::unplug(kb);
        QVERIFY(gone.wait(3000));
        QElapsedTimer clock;
        clock.start();
        c.close();
        QVERIFY(clock.elapsed() < 2000);
    }

    void closeDuringLoadingEndsAtOnceWithoutSignals()
    {
        sim::KeyboardConfig config;
        auto kb = sim::plug(config);
        kb->silence(0x10, 0x10); // the keyboard never answers its device information
        DeviceConnection c;
        QSignalSpy opened(&c, &DeviceConnection::emitOpenSucceeded);
        QSignalSpy loaded(&c, &DeviceConnection::emitFinishLoad);
        QSignalSpy failed(&c, &DeviceConnection::emitLoadDevInfoError);
        c.open(config.vid, config.pid, config.commandInterface, kb->commandPath());
        QVERIFY(opened.wait(3000));
        QTest::qWait(700);
        QElapsedTimer clock;
        clock.start();
        c.close();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QTest::qWait(100);
        QCOMPARE(loaded.count(), 0);
        QCOMPARE(failed.count(), 0);
    }

    void closeBeforeTheKeyboardOpenedStopsTrying()
    {
        DeviceConnection c;
        QSignalSpy opened(&c, &DeviceConnection::emitOpenSucceeded);
        c.open(1, 2, 0, QStringLiteral("sim/absent"));
        QTest::qWait(1200);
        c.close();
        QCOMPARE(opened.count(), 0);
        QVERIFY(!c.usb());
    }
};

QTEST_GUILESS_MAIN(DeviceConnectionTest)
#include "test_deviceconnection.moc"
