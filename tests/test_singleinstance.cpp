// One copy per executable and user, checked with the real executable started as separate processes.
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

namespace {
constexpr int StartMs = 60000; // generous: the sanitizer build starts slowly
const char* const Shown = "main window shown";

// Copies of the built executable, each in a folder of its own (its app dir: log/ and config/ land there).
// The private root folder (0700) is also their runtime and config folder: no copy outside the test answers them.
class Installation {
public:
    Installation()
    {
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_root.path());
        m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_root.path());
    }
    ~Installation()
    {
        for (auto& p : m_processes) {
            p->kill();
            p->waitForFinished(10000);
        }
    }

    QString path(const char* relative) const { return m_root.filePath(QLatin1String(relative)); }

    // Copies the executable to "folder/file name"; returns its path.
    QString install(const char* folderAndName)
    {
        const QString exe = path(folderAndName);
        QDir().mkpath(QFileInfo(exe).path());
        return QFile::copy(QStringLiteral(TESSARK_BIN_DIR "/tessark-sim"), exe) ? exe : QString();
    }

    QProcess* start(const QString& exe, const QStringList& args = {})
    {
        m_processes.push_back(std::make_unique<QProcess>());
        QProcess* p = m_processes.back().get();
        p->setProcessEnvironment(m_env);
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(exe, args);
        return p;
    }

private:
    QTemporaryDir m_root;
    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

// Reads what the process prints (its log lines too) into out until it holds the text; false if it did not in time.
bool prints(QProcess* p, QString& out, const char* text, int ms = StartMs)
{
    const QDeadlineTimer deadline(ms);
    while (!out.contains(QLatin1String(text)) && p->waitForReadyRead(int(deadline.remainingTime())))
        out += QString::fromLocal8Bit(p->readAll());
    return out.contains(QLatin1String(text));
}
} // namespace

class SingleInstance : public QObject {
    Q_OBJECT
private slots:
    void secondStartWakesTheFirstAndReturnsZero_data()
    {
        QTest::addColumn<bool>("staleSocket");
        QTest::newRow("first copy running") << false;
        QTest::newRow("socket of a killed copy taken over") << true;
    }
    void secondStartWakesTheFirstAndReturnsZero()
    {
        QFETCH(bool, staleSocket);
        Installation inst;
        const QString exe = inst.install("app/tessark-sim");
        QString out;
        if (staleSocket) {
            QProcess* killed = inst.start(exe);
            QVERIFY2(prints(killed, out, Shown), qPrintable(out));
            killed->kill();
            QVERIFY(killed->waitForFinished(10000));
            QVERIFY(QFile::exists(inst.path("tessark-sim")));
            out.clear();
        }
        QProcess* first = inst.start(exe);
        QVERIFY2(prints(first, out, Shown), qPrintable(out));

        QProcess* second = inst.start(exe, {QStringLiteral("hello")});
        QVERIFY(second->waitForFinished(StartMs));
        const QString secondOut = QString::fromLocal8Bit(second->readAll());
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        // It stopped before the start mode and the window: not even its program path was logged.
        QVERIFY2(!secondOut.contains(exe) && !secondOut.contains(QLatin1String("start mode")), qPrintable(secondOut));
        QVERIFY2(prints(first, out, "show slot", 10000), qPrintable(out));
        QCOMPARE(first->state(), QProcess::Running);
    }

    void differentFileNamesDoNotSeeEachOther()
    {
        Installation inst;
        QString outA, outB;
        QProcess* first = inst.start(inst.install("a/tessark-sim"));
        QVERIFY2(prints(first, outA, Shown), qPrintable(outA));
        QProcess* second = inst.start(inst.install("b/tessark-other"));
        QVERIFY2(prints(second, outB, Shown), qPrintable(outB));
        QVERIFY(QFile::exists(inst.path("tessark-other")));
        QVERIFY2(!prints(first, outA, "show slot", 1000), qPrintable(outA));
        QCOMPARE(second->state(), QProcess::Running);
    }

    void onlyTheExactArgumentStartsInTheBackground_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("mode");
        QTest::newRow("exact") << QStringList{"/background"} << "/background";
        QTest::newRow("among others") << QStringList{"x", "/background", "y"} << "/background";
        QTest::newRow("capital B") << QStringList{"/Background"} << "None";
        QTest::newRow("dash") << QStringList{"-background"} << "None";
        QTest::newRow("trailing blank") << QStringList{"/background "} << "None";
    }
    void onlyTheExactArgumentStartsInTheBackground()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, mode);
        Installation inst;
        QString out;
        QVERIFY2(prints(inst.start(inst.install("app/tessark-sim"), args), out, Shown), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("start mode: \"%1\"").arg(mode)), qPrintable(out));
    }
};

QTEST_GUILESS_MAIN(SingleInstance)
#include "test_singleinstance.moc"
