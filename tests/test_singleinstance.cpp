// One copy per executable and user, checked with the real executable started as separate processes.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

namespace {
constexpr int StartMs = 60000; // generous: the sanitizer build starts slowly
const QString Shown = QStringLiteral("main window shown");

// A copy of the built executable in a folder of its own (its app dir: log/ and config/ land there),
// with a private runtime and config folder so no copy outside the test ever answers it.
class Installation {
public:
    Installation()
    {
        QDir(m_root.path()).mkpath(QStringLiteral("run"));
        QFile::setPermissions(m_root.filePath(QStringLiteral("run")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir(m_root.path()).mkpath(QStringLiteral("xdgconfig"));
    }
    ~Installation()
    {
        for (auto& p : m_processes) {
            p->kill();
            p->waitForFinished(10000);
        }
    }

    // Copies the executable under a file name into a folder; returns its path.
    QString install(const QString& folder, const QString& fileName)
    {
        QDir(m_root.path()).mkpath(folder);
        const QString path = m_root.filePath(folder + QLatin1Char('/') + fileName);
        return QFile::copy(QStringLiteral(TESSARK_BIN_DIR "/tessark-sim"), path) ? path : QString();
    }

    QProcess* start(const QString& exe, const QStringList& args = {})
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_root.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_root.filePath(QStringLiteral("xdgconfig")));
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(exe, args);
        m_processes.push_back(std::move(p));
        return m_processes.back().get();
    }

    QString socketPath(const QString& fileName) const { return m_root.filePath(QStringLiteral("run/") + fileName); }

    // Everything the copies in a folder logged (all dates: a test may cross midnight).
    QString log(const QString& folder) const
    {
        QString all;
        const QDir dir(m_root.filePath(folder + QStringLiteral("/log")));
        for (const QFileInfo& f : dir.entryInfoList({QStringLiteral("*.txt")}, QDir::Files)) {
            QFile file(f.absoluteFilePath());
            if (file.open(QIODevice::ReadOnly))
                all += QString::fromUtf8(file.readAll());
        }
        return all;
    }

private:
    QTemporaryDir m_root;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

// Reads what the process printed so far into out; true once it holds the text.
bool printed(QProcess* p, QString& out, const QString& text)
{
    out += QString::fromLocal8Bit(p->readAll());
    return out.contains(text);
}

bool startsAndShows(QProcess* p, QString& out)
{
    if (!p->waitForStarted(StartMs))
        return false;
    QElapsedTimer clock;
    clock.start();
    while (!printed(p, out, Shown) && clock.elapsed() < StartMs && p->state() == QProcess::Running)
        p->waitForReadyRead(200);
    return printed(p, out, Shown);
}
} // namespace

class SingleInstance : public QObject {
    Q_OBJECT
private slots:
    void secondStartWakesTheFirstAndReturnsZero_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("with an argument") << QStringList{QStringLiteral("hello")};
        QTest::newRow("without arguments") << QStringList{};
    }
    void secondStartWakesTheFirstAndReturnsZero()
    {
        QFETCH(QStringList, args);
        Installation inst;
        const QString exe = inst.install(QStringLiteral("app"), QStringLiteral("tessark-sim"));
        QVERIFY(!exe.isEmpty());
        QString firstOut;
        QProcess* first = inst.start(exe);
        QVERIFY2(startsAndShows(first, firstOut), qPrintable(firstOut));

        QProcess* second = inst.start(exe, args);
        QVERIFY(second->waitForFinished(StartMs));
        const QString secondOut = QString::fromLocal8Bit(second->readAll());
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        // It stopped before the start mode and the window: not even its program path was logged.
        QVERIFY2(!secondOut.contains(exe) && !secondOut.contains(QLatin1String("start mode")), qPrintable(secondOut));

        QTRY_VERIFY_WITH_TIMEOUT(inst.log(QStringLiteral("app")).contains(QLatin1String("show slot")), 10000);
        QCOMPARE(first->state(), QProcess::Running);
    }

    void socketOfAKilledCopyIsTakenOver()
    {
        Installation inst;
        const QString exe = inst.install(QStringLiteral("app"), QStringLiteral("tessark-sim"));
        QString out;
        QProcess* crashed = inst.start(exe);
        QVERIFY2(startsAndShows(crashed, out), qPrintable(out));
        crashed->kill();
        QVERIFY(crashed->waitForFinished(10000));
        QVERIFY(QFileInfo::exists(inst.socketPath(QStringLiteral("tessark-sim"))));

        QString nextOut;
        QProcess* next = inst.start(exe);
        QVERIFY2(startsAndShows(next, nextOut), qPrintable(nextOut));
        QProcess* third = inst.start(exe);
        QVERIFY(third->waitForFinished(StartMs));
        QCOMPARE(third->exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(inst.log(QStringLiteral("app")).contains(QLatin1String("show slot")), 10000);
    }

    void differentFileNamesDoNotSeeEachOther()
    {
        Installation inst;
        const QString a = inst.install(QStringLiteral("a"), QStringLiteral("tessark-sim"));
        const QString b = inst.install(QStringLiteral("b"), QStringLiteral("tessark-other"));
        QString outA, outB;
        QProcess* first = inst.start(a);
        QVERIFY2(startsAndShows(first, outA), qPrintable(outA));
        QProcess* second = inst.start(b);
        QVERIFY2(startsAndShows(second, outB), qPrintable(outB));
        QVERIFY(QFileInfo::exists(inst.socketPath(QStringLiteral("tessark-other"))));
        // Past the once-a-second flush: nobody woke the first copy.
        QTest::qWait(1500);
        QCOMPARE(second->state(), QProcess::Running);
        QVERIFY(!inst.log(QStringLiteral("a")).contains(QLatin1String("show slot")));
    }

    void onlyTheExactArgumentStartsInTheBackground_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("mode");
        QTest::newRow("exact") << QStringList{"/background"} << "/background";
        QTest::newRow("any position") << QStringList{"x", "/background", "y"} << "/background";
        QTest::newRow("capital B") << QStringList{"/Background"} << "None";
        QTest::newRow("dash") << QStringList{"-background"} << "None";
        QTest::newRow("trailing blank") << QStringList{"/background "} << "None";
        QTest::newRow("none") << QStringList{} << "None";
    }
    void onlyTheExactArgumentStartsInTheBackground()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, mode);
        Installation inst;
        const QString exe = inst.install(QStringLiteral("app"), QStringLiteral("tessark-sim"));
        QString out;
        QVERIFY2(startsAndShows(inst.start(exe, args), out), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("start mode: \"%1\"").arg(mode)), qPrintable(out));
    }
};

QTEST_GUILESS_MAIN(SingleInstance)
#include "test_singleinstance.moc"
