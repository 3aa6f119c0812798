// An upload's per-packet byte counts on their way from the sending thread to the settings page's ring:
// at most one delivery is pending at any time, the last count always arrives, and the ring restyles and
// repaints only when the shown percentage changes.
#include "device/progressrelay.h"
#include "main/tessark.h"
#include "messageboxrecorder.h"
#include "sim/simcontrol.h"
#include "setting/firmware.h"
#include "setting/schedule.h"
#include "setting/setting.h"
#include "tempappdir.h"
#include "timescale.h"

#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <atomic>

namespace {

// Counts the events of one kind an object receives.
class EventCounter : public QObject {
public:
    EventCounter(QObject* watched, QEvent::Type type)
        : m_type(type)
    {
        watched->installEventFilter(this);
    }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        count += event->type() == m_type;
        return false;
    }

private:
    QEvent::Type m_type;
};

} // namespace

class UploadProgress : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { sim::reset(); }

    // From another thread as fast as it can post: every delivery carries the latest count, the last
    // one the final count, and the deliveries are few against the posts.
    void lastCountArrivesWithOneDeliveryPending_data()
    {
        QTest::addColumn<int>("posts");
        QTest::newRow("one") << 1;
        QTest::newRow("a thousand") << 1000;
        QTest::newRow("a million") << 1000000;
    }
    void lastCountArrivesWithOneDeliveryPending()
    {
        QFETCH(int, posts);
        ProgressRelay relay;
        QList<int> seen;
        connect(&relay, &ProgressRelay::progress, this, [&](int bytes) { seen << bytes; });
        std::atomic<bool> finished{false};
        QThread* sender = QThread::create([&] {
            for (int i = 1; i <= posts; ++i)
                relay.post(i);
            finished.store(true);
        });
        sender->start();
        QTRY_VERIFY_WITH_TIMEOUT(finished.load() && !seen.isEmpty() && seen.last() == posts, timescale::ms(20000));
        sender->wait();
        delete sender;
        QCoreApplication::processEvents();
        QCOMPARE(seen.last(), posts);
        QVERIFY(std::is_sorted(seen.begin(), seen.end()));
        QCOMPARE(seen.size(), relay.deliveries());
        QVERIFY(relay.deliveries() <= posts);
        if (posts == 1000000)
            QVERIFY2(relay.deliveries() < posts / 10, qPrintable(QString::number(relay.deliveries())));
    }

    // The window's own road: a keyboard stuck in its bootloader takes a large USB image from the
    // settings page. Its ring is repainted and restyled about once per percentage, not per packet, and
    // it reads 100 % once the upload is over.
    void windowRepaintsTheRingOncePerPercentOfALargeImage_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("delayMs"); // the bootloader's answer delay
        QTest::newRow("2,000,000 bytes as fast as the bootloader answers") << 2000000 << 0;
        QTest::newRow("100,000 bytes, 1 ms answers") << 100000 << 1;
    }
    void windowRepaintsTheRingOncePerPercentOfALargeImage()
    {
        QFETCH(int, size);
        QFETCH(int, delayMs);
        TempAppDir app;
        QVERIFY(app.setUpForWindow(QFINDTESTDATA("../appdir")));
        TempDir folder;
        QFile image(folder.filePath("qv_usb_app_1.bin"));
        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i)
            bytes[i] = char(i * 7 + i / 251);
        QVERIFY(image.open(QIODevice::WriteOnly) && image.write(bytes) == size);
        image.close();
        MessageBoxRecorder boxes;
        sim::BootloaderConfig config;
        config.keyboardReturns = false;
        sim::BootloaderPtr bl = sim::plugBootloader(config);
        bl->setReportDelay(delayMs);
        {
            Tessark w(nullptr, QStringLiteral("None"));
            w.setDfuWaitIntervalForTest(50);
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QTRY_VERIFY_WITH_TIMEOUT(w.settingPage() && !w.settingPage()->isNormalLayout(), timescale::ms(10000));
            Schedule* ring = w.settingPage()->firmware()->schedule();
            QTRY_VERIFY_WITH_TIMEOUT(ring && ring->isVisible(), timescale::ms(10000));
            EventCounter paints(ring, QEvent::Paint);
            EventCounter restyles(ring->label(), QEvent::StyleChange);
            const int deliveries = w.upgradeThreads().progressRelay().deliveries();
            w.settingPage()->updateSureSlot(folder.path());
            QTRY_VERIFY_WITH_TIMEOUT(bl->ran(), timescale::ms(60000));
            // The upload is over once the window waits for the keyboard to restart (none comes back here).
            QTRY_VERIFY_WITH_TIMEOUT(w.upgradePhase() == Tessark::UpgradePhase::Restarting, timescale::ms(10000));
            QCOMPARE(bl->image(), bytes);
            QCOMPARE(ring->progress(), 100);
            const int packets = (size - 48 + 55) / 56;
            QVERIFY(w.upgradeThreads().progressRelay().deliveries() - deliveries <= packets);
            // 101 percentages, the wait animation's few ticks and the look changes around them.
            QVERIFY2(paints.count <= 101 + 30, qPrintable(QString::number(paints.count)));
            QVERIFY2(restyles.count <= 101 + 10, qPrintable(QString::number(restyles.count)));
            QVERIFY(boxes.boxes().isEmpty());
        }
    }
};

QTEST_MAIN(UploadProgress)
#include "test_progressrelay.moc"
