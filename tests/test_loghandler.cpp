// The daily log file: line format, the ten-file limit, the day change, threads, and the lines kept before a crash.
#include "main/loghandler.h"
#include "widget/qss.h"
#include "tempappdir.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace {
const QDateTime Morning(QDate(2024, 3, 9), QTime(9, 15, 2));

QString logPath(const TempAppDir& dir, const QDate& date)
{
    return dir.filePath(QStringLiteral("log/") + date.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".txt"));
}

QString readUtf8(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// The child process of fatalLineReachesTheFile: logs a fatal message, which aborts.
int fatalChild(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    setAppDirPathForTest(QString::fromLocal8Bit(argv[2]));
    LogHandler::instance()->installMessageHandler();
    qDebug("an ordinary line first");
    qFatal("last words");
    return 0;
}
} // namespace

class LogHandlerFile : public QObject {
    Q_OBJECT
    std::unique_ptr<TempAppDir> m_dir;
    QDateTime m_now = Morning;

private slots:
    void init()
    {
        m_dir.reset(new TempAppDir);
        QVERIFY(m_dir->isValid());
        setAppDirPathForTest(m_dir->path());
        m_now = Morning;
        LogHandler::setClock([this] { return m_now; });
    }

    void cleanup()
    {
        LogHandler::instance()->release();
        LogHandler::setClock({});
        setAppDirPathForTest(QString());
    }

    void linesCarryTimeLevelFileAndLine_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("expected");
        QTest::newRow("debug") << int(QtDebugMsg) << QByteArray("/src/a/b/source.cpp")
                               << "09:15:02 - [Debug] (source.cpp:42): naïve 键 text\n";
        QTest::newRow("info") << int(QtInfoMsg) << QByteArray("source.cpp")
                              << "09:15:02 - [Info ] (source.cpp:42): naïve 键 text\n";
        QTest::newRow("warning") << int(QtWarningMsg) << QByteArray("/x/source.cpp")
                                 << "09:15:02 - [Warn ] (source.cpp:42): naïve 键 text\n";
        QTest::newRow("critical") << int(QtCriticalMsg) << QByteArray("/x/source.cpp")
                                  << "09:15:02 - [Error] (source.cpp:42): naïve 键 text\n";
        QTest::newRow("no context") << int(QtWarningMsg) << QByteArray() << "09:15:02 - [Warn ] (:0): naïve 键 text\n";
    }
    void linesCarryTimeLevelFileAndLine()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, file);
        QFETCH(QString, expected);
        LogHandler::instance()->installMessageHandler();
        const QString text = QStringLiteral("naïve 键 text");
        QMessageLogger logger(file.isEmpty() ? nullptr : file.constData(), file.isEmpty() ? 0 : 42, nullptr);
        switch (QtMsgType(type)) {
        case QtDebugMsg: logger.debug("%s", qUtf8Printable(text)); break;
        case QtInfoMsg: logger.info("%s", qUtf8Printable(text)); break;
        case QtWarningMsg: logger.warning("%s", qUtf8Printable(text)); break;
        default: logger.critical("%s", qUtf8Printable(text)); break;
        }
        LogHandler::instance()->release();
        QCOMPARE(readUtf8(logPath(*m_dir, Morning.date())), expected);
    }

    void moreThanTenFilesDeleteTheFirstByName_data()
    {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("deleted");
        QStringList dated;
        for (int day = 1; day <= 11; ++day)
            dated << QStringLiteral("2020-01-%1.txt").arg(day, 2, 10, QLatin1Char('0'));
        // Today's file is created first and counts.
        QTest::newRow("ten with today's") << QStringList(dated.mid(0, 9)) << QString();
        QTest::newRow("eleven") << QStringList(dated.mid(0, 10)) << "2020-01-01.txt";
        QTest::newRow("twelve, still one") << dated << "2020-01-01.txt";
        QTest::newRow("case-insensitive order")
            << (QStringList(dated.mid(0, 9)) << QStringLiteral("1B.txt") << QStringLiteral("1a.txt")) << "1a.txt";
        QTest::newRow("only .txt counts")
            << (QStringList(dated.mid(0, 9)) << QStringLiteral("a.log") << QStringLiteral("b.log")) << QString();
    }
    void moreThanTenFilesDeleteTheFirstByName()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, deleted);
        for (const QString& name : existing)
            QVERIFY(m_dir->write(QStringLiteral("log/") + name, "old\n"));
        LogHandler::instance()->installMessageHandler();
        for (const QString& name : existing)
            QCOMPARE(QFile::exists(m_dir->filePath(QStringLiteral("log/") + name)), name != deleted);
        QVERIFY(QFile::exists(logPath(*m_dir, Morning.date())));
    }

    void dayChangeMovesToTheNewDateAndKeepsTheOld()
    {
        m_now = QDateTime(QDate(2024, 3, 9), QTime(23, 59, 30));
        LogHandler::instance()->installMessageHandler();
        qWarning("before midnight");
        m_now = QDateTime(QDate(2024, 3, 10), QTime(0, 0, 30));
        qWarning("after midnight, before the check");
        LogHandler::instance()->checkDate();
        qWarning("after the check");
        LogHandler::instance()->release();

        const QString oldDay = readUtf8(logPath(*m_dir, QDate(2024, 3, 9)));
        const QString newDay = readUtf8(logPath(*m_dir, QDate(2024, 3, 10)));
        QVERIFY(oldDay.contains(QLatin1String("23:59:30 - [Warn ]")));
        QVERIFY(oldDay.contains(QLatin1String("before midnight")));
        QVERIFY(oldDay.contains(QLatin1String("after midnight, before the check")));
        QVERIFY(!oldDay.contains(QLatin1String("after the check")));
        QVERIFY(newDay.startsWith(QLatin1String("00:00:30 - [Warn ]")));
        QVERIFY(newDay.contains(QLatin1String("after the check")));
        QCOMPARE(newDay.count(QLatin1Char('\n')), 1);
    }

    void fourThreadsWriteWholeLines()
    {
        constexpr int Threads = 4;
        constexpr int Lines = 300;
        LogHandler::instance()->installMessageHandler();
        std::vector<std::thread> workers;
        for (int t = 0; t < Threads; ++t)
            workers.emplace_back([t] {
                for (int i = 0; i < Lines; ++i)
                    qDebug("thread %d line %d %s", t, i, QByteArray(60, 'x').constData());
            });
        for (auto& w : workers)
            w.join();
        LogHandler::instance()->release();

        const QStringList lines = readUtf8(logPath(*m_dir, Morning.date())).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), Threads * Lines);
        const QRegularExpression whole(
            QStringLiteral("^09:15:02 - \\[Debug\\] \\(test_loghandler\\.cpp:\\d+\\): thread (\\d) line (\\d+) x{60}$"));
        QSet<QString> seen;
        for (const QString& line : lines) {
            const auto m = whole.match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line));
            seen.insert(m.captured(1) + QLatin1Char('/') + m.captured(2));
        }
        QCOMPARE(seen.size(), Threads * Lines);
    }

    void errorLineIsInTheFileAtOnce()
    {
        LogHandler::instance()->installMessageHandler();
        qCritical("disk failing");
        // No release and no flush timer: the line must already be on disk.
        QVERIFY(readUtf8(logPath(*m_dir, Morning.date())).contains(QLatin1String("[Error] (test_loghandler.cpp:")));
    }

    void fatalLineReachesTheFile()
    {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--fatal-child"), m_dir->path()});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        const QString log = readUtf8(logPath(*m_dir, QDate::currentDate()))
                            + readUtf8(logPath(*m_dir, QDate::currentDate().addDays(-1)));
        QVERIFY(log.contains(QLatin1String("[Debug] (test_loghandler.cpp:")));
        QVERIFY2(log.contains(QRegularExpression(QStringLiteral("\\[Fatal\\] \\(test_loghandler\\.cpp:\\d+\\): last words"))),
                 qPrintable(log));
    }

    // Qt may warn from inside the file handling while the log lock is held (day check, flush, install);
    // here the clock does, during the day check.
    void messageUnderTheLogLockGoesToStandardOutputOnly()
    {
        LogHandler::setClock([] {
            qWarning("clock asked");
            return Morning;
        });
        LogHandler::instance()->installMessageHandler();
        std::unique_ptr<QThread> worker(QThread::create([] {
            LogHandler::instance()->checkDate();
            qWarning("outer message");
        }));
        worker->start();
        if (!worker->wait(10000)) {
            // The lock stays taken for good: nothing after this could log, so end here.
            std::fprintf(stderr, "FAIL: the handler deadlocked on a message emitted under its own lock\n");
            std::_Exit(1);
        }
        LogHandler::instance()->release();
        const QString log = readUtf8(logPath(*m_dir, Morning.date()));
        QVERIFY(log.contains(QLatin1String("outer message")));
        QVERIFY(!log.contains(QLatin1String("clock asked")));
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--fatal-child") == 0)
        return fatalChild(argc, argv);
    QCoreApplication app(argc, argv);
    LogHandlerFile test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_loghandler.moc"
