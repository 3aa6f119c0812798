// The trial setup of scripts/run.sh --sim: the emulated keyboards with the local update servers. The
// firmware it offers must be one a keyboard can report, and gone once it is installed; control lines
// with versions a keyboard cannot report are refused aloud.
#include "localupdate.h"
#include "messageboxrecorder.h"
#include "simsession.h"
#include "tempappdir.h"
#include "updatesamples.h"

#include "Update/onlineupdate.h"
#include "Update/overallvariate.h"
#include "device/device.h"
#include "main/tessark.h"
#include "widget/menutree.h"
#include "timescale.h"

#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

// Puts the whole control file in place at once, as the session expects.
bool control(const QString& path, const QByteArray& lines)
{
    QFile f(path + QStringLiteral(".new"));
    if (!f.open(QIODevice::WriteOnly) || f.write(lines) != lines.size())
        return false;
    f.close();
    return QFile::rename(path + QStringLiteral(".new"), path);
}

// What is written to standard error between its making and text().
class StandardError {
public:
    StandardError()
    {
        std::fflush(stderr);
        if (m_file.open()) {
            m_saved = ::dup(2);
            ::dup2(m_file.handle(), 2);
        }
    }
    ~StandardError() { restore(); }
    QByteArray text()
    {
        restore();
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, 2);
        ::close(m_saved);
        m_saved = -1;
    }
    QTemporaryFile m_file;
    int m_saved = -1;
};

// The version number scripts/run.sh offers and sets as keyboard 1's next version; -1 when not found.
int trialOffer()
{
    QFile script(QFINDTESTDATA("../scripts/run.sh"));
    if (!script.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^\\s*offered=(\\d+)\\s*$"), QRegularExpression::MultilineOption)
            .match(QString::fromUtf8(script.readAll()));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

} // namespace

class TrialSetup : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { sim::reset(); }

    // The offer reaches the keyboard through the update dialog; after the bootloader has run the
    // keyboard reports exactly the offered version, and its next connect brings no offer.
    void installedOfferIsNotOfferedAgain()
    {
        const int offered = trialOffer();
        QVERIFY2(offered > 0 && offered <= 0xFFFF, qPrintable(QString::number(offered)));
        const QString offeredText = sim::keyboardVersionText(offered);
        QCOMPARE(sim::keyboardVersionNumber(offeredText), offered);

        TempAppDir app;
        QVERIFY(app.setUpForWindow(QFINDTESTDATA("../appdir")));
        LocalUpdate local;
        QVERIFY(sim::writeSampleTool(local.root.path(), QStringLiteral("1.0.0")));
        QVERIFY(sim::writeSampleFirmware(local.root.path(), QStringLiteral("TK104 Dual"), offeredText));
        QVERIFY(local.offer(QStringLiteral("/UpgradeFirmware/TK104 Dual/qv_usb_app_%1.bin").arg(offeredText),
                            QByteArray(30000, '\x6b')));
        QVERIFY(local.start(app.filePath(QStringLiteral("servers.ini"))));

        // As tessark-sim plugs the family and run.sh writes its control line.
        TempDir dir;
        const QString controlPath = dir.filePath(QStringLiteral("control"));
        sim::SimSession session;
        session.plugAll(sim::sampleFamily());
        session.setControlFile(controlPath);
        QVERIFY(control(controlPath, "next-version 1 " + QByteArray::number(offered) + "\n"));
        session.start(50);
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(controlPath), timescale::ms(10000));
        const int own = session.keyboard(1)->state().fwVersion;
        QVERIFY(own < offered);

        MessageBoxRecorder boxes;
        auto w = std::make_unique<Tessark>(nullptr, QStringLiteral("None"));
        QSignalSpy offers(g_overallVariate, &overallVariate::FirmwareUpdateSignal);
        const QPointer<onlineUpdate> dialog = g_overallVariate->updateWidget();
        const auto loadedWith = [&](int version) {
            return w->deviceLoaded() && w->device() && w->device()->boardName() == "TK104 Dual"
                   && w->device()->m_fw_version == version;
        };
        QVERIFY(QTest::qWaitFor([&] { return loadedWith(own); }, timescale::ms(20000)));
        QTRY_VERIFY_WITH_TIMEOUT(!offers.isEmpty(), timescale::ms(10000));
        QCOMPARE(offers.takeFirst().at(0).toBool(), true);
        QTRY_VERIFY_WITH_TIMEOUT(dialog && dialog->isVisible(), timescale::ms(10000));
        auto* upgrade = dialog->findChild<QPushButton*>(QStringLiteral("pushButton_FirmwareUpdate"));
        QVERIFY(upgrade && upgrade->isEnabled());
        upgrade->click();

        QTRY_VERIFY_WITH_TIMEOUT(session.keyboard(1) && session.keyboard(1)->state().fwVersion == offered, timescale::ms(30000));
        // The other keyboard is listed first now; the user picks the upgraded one in the device list.
        QTRY_VERIFY_WITH_TIMEOUT(w->deviceLoaded() && w->upgradePhase() == Tessark::UpgradePhase::Idle, timescale::ms(20000));
        if (!loadedWith(offered)) {
            const QString path = session.keyboard(1)->commandPath();
            UsbData upgraded;
            for (const UsbData& d : w->menuTree()->devices())
                if (d.path == path)
                    upgraded = d;
            QCOMPARE(upgraded.path, path);
            w->switchUsbDevice(upgraded);
        }
        QVERIFY(QTest::qWaitFor([&] { return loadedWith(offered); }, timescale::ms(20000)));
        QCOMPARE(g_overallVariate->getFirmwareInfo().usbAppVersion, offeredText);
        QTRY_VERIFY_WITH_TIMEOUT(!offers.isEmpty(), timescale::ms(10000));
        QCOMPARE(offers.takeFirst().at(0).toBool(), false);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(boxes.boxes().size(), 0);
        w.reset();
    }

    // A keyboard reports its version in 16 bits: lines beyond are not carried out and are named on
    // standard error; one within is carried out silently.
    void versionLinesBeyondSixteenBitsAreRefusedAloud_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("reported"); // -1: refused, the keyboard keeps its own version
        QTest::addRow("version 65536") << QByteArray("version 1 65536") << -1;
        QTest::addRow("next-version 70000") << QByteArray("next-version 1 70000") << -1;
        QTest::addRow("version -1") << QByteArray("version 1 -1") << -1;
        QTest::addRow("version 65535") << QByteArray("version 1 65535") << 65535;
        QTest::addRow("next-version 65535") << QByteArray("next-version 1 65535") << 0;
    }
    void versionLinesBeyondSixteenBitsAreRefusedAloud()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, reported);
        TempDir dir;
        const QString controlPath = dir.filePath(QStringLiteral("control"));
        sim::SimSession session;
        session.plugAll({sim::fullSizeDual()});
        session.setControlFile(controlPath);
        const int own = session.keyboard(1)->state().fwVersion;
        QVERIFY(control(controlPath, line + '\n'));
        StandardError err;
        session.poll();
        const QByteArray said = err.text();
        QVERIFY(!QFile::exists(controlPath));
        if (reported < 0)
            QCOMPARE(said, "tessark-sim: control line \"" + line + "\" refused: the version is a number from 0 to "
                           "65535 (655.3.5)\n");
        else
            QCOMPARE(said, QByteArray());
        QCOMPARE(int(session.keyboard(1)->state().fwVersion), reported > 0 ? reported : own);
    }
};

QTEST_MAIN(TrialSetup)
#include "test_trialupgrade.moc"
