// One copy per executable and user, checked with the real executable started as separate processes.
#include <QtTest>
#include <memory>
#include <vector>

static constexpr int StartMs = 60000; // generous: the sanitizer build starts slowly
static const char* const Shown = "main window shown";

// Copies of the built executable, each in a folder of its own (its app dir: log/ and config/ land there).
// The private root folder (0700) is also their runtime and config folder: no copy outside the test answers them.
struct Installation {
    QTemporaryDir root;
    std::vector<std::unique_ptr<QProcess>> processes;

    ~Installation()
    {
        for (auto& p : processes) {
            p->kill();
            p->waitForFinished(10000);
        }
    }
    // Copies the executable to "folder/file name"; returns its path.
    QString install(const char* folderAndName)
    {
        const QString exe = root.filePath(folderAndName);
        QDir().mkpath(QFileInfo(exe).path());
        return QFile::copy(QStringLiteral(TESSARK_BIN_DIR "/tessark-sim"), exe) ? exe : QString();
    }
    QProcess* start(const QString& exe, const QStringList& args = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), root.path());
        processes.push_back(std::make_unique<QProcess>());
        QProcess* p = processes.back().get();
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(exe, args);
        return p;
    }
};

// Reads what the process prints (its log lines too) into out until it holds the text; false if it did not in time.
static bool prints(QProcess* p, QString& out, const char* text, int ms = StartMs)
{
    const QDeadlineTimer deadline(ms);
    while (!out.contains(QLatin1String(text)) && p->waitForReadyRead(int(deadline.remainingTime())))
        out += QString::fromLocal8Bit(p->readAll());
    return out.contains(QLatin1String(text));
}

class SingleInstance : public QObject {
    Q_OBJECT
private slots:
    void secondCopyWakesTheFirstAndOtherFileNamesRunBeside_data()
    {
        QTest::addColumn<bool>("staleSocket");
        QTest::newRow("first copy running") << false;
        QTest::newRow("socket of a killed copy taken over") << true;
    }
    // A copy under another file name is a separate instance: it runs beside the first, which is not woken.
    // A second copy of the same file wakes the first and ends with 0.
    void secondCopyWakesTheFirstAndOtherFileNamesRunBeside()
    {
        QFETCH(bool, staleSocket);
        Installation inst;
        const QString exe = inst.install("app/tessark-sim");
        QString out, otherOut;
        if (staleSocket) {
            QProcess* killed = inst.start(exe);
            QVERIFY2(prints(killed, out, Shown), qPrintable(out));
            killed->kill();
            QVERIFY(killed->waitForFinished(10000));
            QVERIFY(QFile::exists(inst.root.filePath("tessark-sim")));
            out.clear();
        }
        QProcess* first = inst.start(exe);
        QVERIFY2(prints(first, out, Shown), qPrintable(out));
        QProcess* other = inst.start(inst.install("b/tessark-other"));
        QVERIFY2(prints(other, otherOut, Shown), qPrintable(otherOut));
        QVERIFY(QFile::exists(inst.root.filePath("tessark-other")) && other->state() == QProcess::Running);
        QVERIFY2(!prints(first, out, "show slot", 1000), qPrintable(out));

        QProcess* second = inst.start(exe, {QStringLiteral("hello")});
        QVERIFY(second->waitForFinished(StartMs));
        const QString secondOut = QString::fromLocal8Bit(second->readAll());
        QVERIFY(second->exitStatus() == QProcess::NormalExit && second->exitCode() == 0);
        // It stopped before the start mode and the window: not even its program path was logged.
        QVERIFY2(!secondOut.contains(exe) && !secondOut.contains(QLatin1String("start mode")), qPrintable(secondOut));
        QVERIFY2(prints(first, out, "show slot", 10000), qPrintable(out));
        QCOMPARE(first->state(), QProcess::Running);
    }

    void onlyTheExactArgumentStartsInTheBackground_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("mode");
        QTest::newRow("exact") << QStringList{"/background"} << "/background";
        QTest::newRow("among others") << QStringList{"x", "/background", "y"} << "/background";
        QTest::newRow("capital B, dash, trailing blank") << QStringList{"/Background", "-background", "/background "}
                                                          << "None";
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
