// The daily log file: line format, the ten-file limit, the day change, threads, and the lines kept before a crash.
#include "main/loghandler.h"
#include "widget/qss.h"
#include "tempappdir.h"
#include "timescale.h"

#include <QtTest>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <unistd.h>

static const QDateTime Morning(QDate(2024, 3, 9), QTime(9, 15, 2));

class LogHandlerFile : public QObject {
    Q_OBJECT
    std::unique_ptr<TempAppDir> m_dir;
    QDateTime m_now = Morning;

    QString log(const QDate& date = Morning.date()) const
    {
        return QString::fromUtf8(readFile(m_dir->filePath(date.toString(QStringLiteral("'log/'yyyy-MM-dd'.txt'")))));
    }

    // What this suite run as a child in the given mode writes to standard output; false when it does not end
    // normally in time.
    bool childOutput(const char* mode, QString* out) const
    {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(mode), m_dir->path()});
        if (!child.waitForFinished(timescale::ms(30000)) || child.exitStatus() != QProcess::NormalExit)
            return false;
        *out = QString::fromLocal8Bit(child.readAllStandardOutput());
        return true;
    }

private slots:
    void init()
    {
        m_dir.reset(new TempAppDir);
        setAppDirPathForTest(m_dir->path());
        m_now = Morning;
        LogHandler::setClock([this] { return m_now; });
    }
    void cleanup()
    {
        LogHandler::instance()->release();
        LogHandler::setClock({});
        LogHandler::setDayFileBound(0);
        setAppDirPathForTest(QString());
    }

    // Critical last, neither released nor flushed: its line must be on disk at once.
    void linesCarryTimeLevelFileAndLine()
    {
        const QVector<QPair<QtMsgType, QString>> levels{
            {QtDebugMsg, "Debug"}, {QtInfoMsg, "Info "}, {QtWarningMsg, "Warn "}, {QtCriticalMsg, "Error"}};
        QString expected;
        for (const auto& [type, level] : levels) {
            LogHandler::instance()->installMessageHandler();
            qt_message_output(type, QMessageLogContext("/src/a/b/source.cpp", 42, nullptr, "default"),
                              QStringLiteral("naïve 键 text"));
            if (type != QtCriticalMsg)
                LogHandler::instance()->release();
            expected += QStringLiteral("09:15:02 - [%1] (source.cpp:42): naïve 键 text\n").arg(level);
            QCOMPARE(log(), expected);
        }
    }

    // A link at the day's file name is left alone, and so is what it names: nothing is logged there. A
    // file that has another name as well (a hard link) is not appended to either: the run logs to a
    // file of its own beside it, and says so once.
    void linkAtTheFileNameIsLeftAlone_data()
    {
        QTest::addColumn<bool>("targetThere");
        QTest::addColumn<int>("hardLinks"); // names taken by hard links to the user's file, the day's first
        QTest::newRow("link to a file outside") << true << 0;
        QTest::newRow("link to nowhere outside") << false << 0;
        QTest::newRow("hard link to a file outside") << true << 1;
        QTest::newRow("hard links at the day's file and the first name beside it") << true << 2;
        // The names beside it are few: past them nothing is logged.
        QTest::newRow("hard links at the day's file and every name beside it") << true << 9;
    }
    void linkAtTheFileNameIsLeftAlone()
    {
        QFETCH(bool, targetThere);
        QFETCH(int, hardLinks);
        TempDir outside;
        const QString target = outside.filePath(QStringLiteral("own.txt"));
        QVERIFY(!targetThere || m_dir->write(QStringLiteral("own.txt"), "the user's own\n"));
        QVERIFY(!targetThere || QFile::rename(m_dir->filePath(QStringLiteral("own.txt")), target));
        const QString day = Morning.date().toString(QStringLiteral("'log/'yyyy-MM-dd"));
        const QString name = m_dir->filePath(day + QStringLiteral(".txt"));
        QVERIFY(QDir().mkpath(QFileInfo(name).path()));
        if (hardLinks == 0)
            QVERIFY(QFile::link(target, name));
        for (int i = 0; i < hardLinks; ++i) {
            const QString at = i == 0 ? name : m_dir->filePath(day + QStringLiteral("-%1.txt").arg(i + 1));
            QCOMPARE(::link(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()), 0);
        }
        LogHandler::instance()->installMessageHandler();
        qWarning("a line");
        LogHandler::instance()->checkDate();
        LogHandler::instance()->release();
        if (hardLinks == 0)
            QCOMPARE(QFileInfo(name).symLinkTarget(), target);
        QCOMPARE(readFile(target), targetThere ? QByteArray("the user's own\n") : QByteArray());
        QCOMPARE(QFileInfo::exists(target), targetThere);
        if (hardLinks == 0)
            return;
        const QString own = m_dir->filePath(day + QStringLiteral("-%1.txt").arg(hardLinks + 1));
        if (hardLinks == 9) {
            QVERIFY(!QFile::exists(own));
            QCOMPARE(QDir(QFileInfo(name).path()).entryList({QFileInfo(day).fileName() + '*'}, QDir::Files).size(), 9);
            return;
        }
        const QString text = QString::fromUtf8(readFile(own));
        QCOMPARE(text.count(QStringLiteral("another name")), 1);
        QVERIFY2(text.contains(name) && text.contains(own) && text.endsWith(QLatin1String(": a line\n")),
                 qPrintable(text));
        QCOMPARE(QFileInfo(name).size(), QFileInfo(target).size());
    }

    void moreThanTenFilesDeleteTheFirstByName_data()
    {
        QTest::addColumn<int>("existing"); // dated files before today's is created, besides one that is not .txt
        for (int n : {9, 10, 11}) // ten with today's: none deleted; eleven or twelve: only the first
            QTest::addRow("%d older", n) << n;
    }
    void moreThanTenFilesDeleteTheFirstByName()
    {
        QFETCH(int, existing);
        for (int day = 1; day <= existing; ++day)
            QVERIFY(m_dir->write(QStringLiteral("log/2020-01-%1.txt").arg(day, 2, 10, QLatin1Char('0')), "old\n"));
        QVERIFY(m_dir->write(QStringLiteral("log/a.log"), "not a log file\n"));
        LogHandler::instance()->installMessageHandler();
        const bool deleted = existing >= 10;
        QCOMPARE(QFile::exists(m_dir->filePath(QStringLiteral("log/2020-01-01.txt"))), !deleted);
        QCOMPARE(QDir(m_dir->filePath(QStringLiteral("log"))).entryList(QDir::Files).size(), existing + 2 - deleted);
    }

    void dayChangeMovesToTheNewDateAndKeepsTheOld()
    {
        m_now = QDateTime(QDate(2024, 3, 9), QTime(23, 59, 30));
        LogHandler::instance()->installMessageHandler();
        qWarning("before midnight");
        m_now = QDateTime(QDate(2024, 3, 10), QTime(0, 0, 30));
        qWarning("after midnight, unseen");
        LogHandler::instance()->checkDate();
        qWarning("after the check");
        LogHandler::instance()->release();

        const QRegularExpression place(QStringLiteral(" \\(test_loghandler\\.cpp:\\d+\\)"));
        QCOMPARE(log(QDate(2024, 3, 9)).remove(place),
                 QStringLiteral("23:59:30 - [Warn ]: before midnight\n00:00:30 - [Warn ]: after midnight, unseen\n"));
        QCOMPARE(log(QDate(2024, 3, 10)).remove(place), QStringLiteral("00:00:30 - [Warn ]: after the check\n"));
    }

    // The application folder removed while the tool runs (deleted, moved away) is not made again by the
    // day's check nor by the lines that follow.
    void aRemovedApplicationFolderIsNotMadeAgain()
    {
        LogHandler::instance()->installMessageHandler();
        qWarning("before the folder goes");
        QVERIFY(QDir(m_dir->path()).removeRecursively());
        LogHandler::instance()->checkDate();
        m_now = m_now.addDays(1);
        LogHandler::instance()->checkDate();
        qWarning("after the folder went");
        LogHandler::instance()->release();
        QVERIFY(!QFileInfo::exists(m_dir->path()));
    }

    // A day's file stops growing at its bound, after one line saying so; an earlier run's file at its
    // bound takes nothing more; the next day's file starts again.
    void dayFileStopsAtItsBound_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("earlierBytes");
        QTest::addColumn<bool>("nextDay");
        QTest::addColumn<int>("bound"); // 0: the shipped one, 16 MiB
        QTest::newRow("below the bound") << 10 << 0 << false << 4096;
        QTest::newRow("a flood of lines") << 5000 << 0 << false << 4096;
        QTest::newRow("an earlier run reached it") << 10 << 4096 << false << 4096;
        QTest::newRow("the next day starts again") << 5000 << 0 << true << 4096;
        // An earlier run left the file 64 KiB short of it: this run's lines take it just past.
        QTest::newRow("the shipped bound of 16 MiB") << 1000 << (16 << 20) - (64 << 10) << false << 0;
    }
    void dayFileStopsAtItsBound()
    {
        QFETCH(int, lines);
        QFETCH(int, earlierBytes);
        QFETCH(bool, nextDay);
        QFETCH(int, bound);
        LogHandler::setDayFileBound(bound);
        if (bound == 0)
            bound = 16 << 20; // the bound the tool ships with, written out: a changed one shows here
        if (earlierBytes > 0)
            QVERIFY(m_dir->write(QStringLiteral("log/2024-03-09.txt"), QByteArray(earlierBytes, 'e')));
        LogHandler::instance()->installMessageHandler();
        for (int i = 0; i < lines; ++i)
            qDebug("line %d %s", i, QByteArray(60, 'x').constData());
        if (nextDay) {
            m_now = m_now.addDays(1);
            LogHandler::instance()->checkDate();
            qWarning("the next day");
        }
        LogHandler::instance()->release();

        const QString text = log();
        const int said = text.count(QStringLiteral("reached its bound of"));
        if (earlierBytes >= bound) {
            QCOMPARE(text, QString(earlierBytes, QLatin1Char('e')));
        } else if (earlierBytes + lines * 100 < bound) {
            QCOMPARE(text.count(QLatin1Char('\n')), lines);
            QCOMPARE(said, 0);
        } else {
            QVERIFY2(text.size() <= bound + 200 && text.size() > bound - 200, qPrintable(QString::number(text.size())));
            QCOMPARE(said, 1);
            QVERIFY(text.endsWith(QStringLiteral("this day's file reached its bound of %1 bytes today; from here on "
                                                 "only warnings, errors and outcomes go there, within %2 bytes more\n")
                                      .arg(bound)
                                      .arg(LogHandler::DayFileReserve)));
        }
        if (nextDay)
            QVERIFY(log(Morning.date().addDays(1)).endsWith(QStringLiteral("the next day\n")));
    }

    // The bound's edges: a line that ends exactly at it is written, one a byte longer is not; a file an
    // earlier run left past bound and reserve takes nothing more, whatever the level.
    void dayFileBoundIsExact_data()
    {
        QTest::addColumn<int>("earlierBytes"); // -1: the bound less the line; -2: one byte less than that
        QTest::addColumn<int>("level");
        QTest::addColumn<bool>("written");
        QTest::newRow("a line ending exactly at the bound") << -1 << int(QtDebugMsg) << true;
        QTest::newRow("a line one byte past the bound") << -2 << int(QtDebugMsg) << false;
        QTest::newRow("a warning on a file past bound and reserve") << 4096 + 1024 << int(QtWarningMsg) << false;
        QTest::newRow("an outcome on a file past bound and reserve") << 4096 + 1024 << int(QtInfoMsg) << false;
        QTest::newRow("an error on a file far past both") << 3 * 4096 << int(QtCriticalMsg) << false;
    }
    void dayFileBoundIsExact()
    {
        QFETCH(int, earlierBytes);
        QFETCH(int, level);
        QFETCH(bool, written);
        const int bound = 4096, reserve = 1024;
        LogHandler::setDayFileBound(bound, reserve);
        const QMessageLogContext here("/src/source.cpp", 42, nullptr, "default");
        const QString message = QStringLiteral("the line at the edge");
        const int lineBytes = QStringLiteral("09:15:02 - [Debug] (source.cpp:42): %1\n").arg(message).size();
        if (earlierBytes < 0)
            earlierBytes = bound - lineBytes + (earlierBytes == -2 ? 1 : 0);
        const QByteArray earlier = QByteArray(earlierBytes - 1, 'e') + '\n';
        QVERIFY(m_dir->write(QStringLiteral("log/2024-03-09.txt"), earlier));
        LogHandler::instance()->installMessageHandler();
        qt_message_output(QtMsgType(level), here, message);
        LogHandler::instance()->release();

        const QString text = log();
        if (written) {
            QCOMPARE(text.size(), bound);
            QVERIFY(text.endsWith(QStringLiteral("(source.cpp:42): %1\n").arg(message)));
        } else if (level == QtDebugMsg) {
            QVERIFY(!text.contains(message));
            QVERIFY(text.contains(QLatin1String("reached its bound of")));
        } else {
            QCOMPARE(text, QString::fromLatin1(earlier)); // not a byte more, not even a line saying so
        }
    }

    // Past the bound warnings, errors and outcomes (Info) still go in, into a reserve; ordinary lines do
    // not. When the reserve is used up as well one last line says so, and nothing goes in after it.
    void reservedLinesGoOnPastTheBound_data()
    {
        QTest::addColumn<int>("earlierBytes"); // left by an earlier run; else debug lines fill the bound
        QTest::addColumn<int>("level");        // of the lines after the bound
        QTest::addColumn<int>("lines");
        QTest::addColumn<bool>("reserveUsedUp");
        QTest::newRow("a few warnings") << 0 << int(QtWarningMsg) << 5 << false;
        QTest::newRow("a few errors") << 0 << int(QtCriticalMsg) << 5 << false;
        QTest::newRow("a few outcomes") << 0 << int(QtInfoMsg) << 5 << false;
        QTest::newRow("an earlier run reached the bound") << 4096 << int(QtWarningMsg) << 5 << false;
        QTest::newRow("a flood of warnings") << 0 << int(QtWarningMsg) << 500 << true;
        QTest::newRow("a flood of outcomes after an earlier run") << 4096 << int(QtInfoMsg) << 500 << true;
    }
    void reservedLinesGoOnPastTheBound()
    {
        QFETCH(int, earlierBytes);
        QFETCH(int, level);
        QFETCH(int, lines);
        QFETCH(bool, reserveUsedUp);
        const int bound = 4096, reserve = 1024;
        LogHandler::setDayFileBound(bound, reserve);
        if (earlierBytes > 0)
            QVERIFY(m_dir->write(QStringLiteral("log/2024-03-09.txt"), QByteArray(earlierBytes - 1, 'e') + '\n'));
        LogHandler::instance()->installMessageHandler();
        for (int i = 0; earlierBytes == 0 && i < 100; ++i)
            qDebug("line %d %s", i, QByteArray(60, 'x').constData());
        for (int i = 0; i < lines; ++i) {
            // Each from a place of its own: different lines, none a repeat of another.
            const QMessageLogContext here(__FILE__, i + 1, nullptr, "default");
            qt_message_output(QtMsgType(level), here, QStringLiteral("kept %1 %2").arg(i).arg(QString(60, 'k')));
            qDebug("ordinary after %d", i);
        }
        LogHandler::instance()->release();

        const QString text = log();
        QCOMPARE(text.count(QLatin1String("ordinary after")), 0);
        // An earlier run said it already.
        QCOMPARE(text.count(QLatin1String("reached its bound of")), earlierBytes > 0 ? 0 : 1);
        const int kept = text.count(QLatin1String("kept "));
        const QString last = QStringLiteral("used up the room kept for warnings, errors and outcomes as well; "
                                            "nothing more is logged there today\n");
        if (!reserveUsedUp) {
            QCOMPARE(kept, lines);
            QCOMPARE(text.count(QLatin1String("used up the room")), 0);
            QVERIFY2(text.endsWith(QStringLiteral("kept %1 %2\n").arg(lines - 1).arg(QString(60, 'k'))), qPrintable(text));
        } else {
            // About reserve / 100 lines, then the one line saying so.
            QVERIFY2(kept >= 5 && kept <= 10, qPrintable(QString::number(kept)));
            QCOMPARE(text.count(QLatin1String("used up the room")), 1);
            QVERIFY2(text.endsWith(last), qPrintable(text.right(300)));
            QVERIFY(text.size() <= bound + reserve + 200);
        }
    }

    // Past the bound a warning that comes again (its numbers aside) is counted, not written again: the
    // count is written at 1, 2, 4 ... and at the close, so a warning repeating all day leaves the reserve
    // to the outcomes after it. Below the bound every line is written; errors and outcomes always are.
    // A warning seen below the bound is written once more past it before it is counted.
    void repeatingWarningIsCountedInTheReserve_data()
    {
        QTest::addColumn<bool>("pastTheBound");
        QTest::addColumn<int>("places"); // warnings from this many places, in turn
        QTest::addColumn<int>("times");  // each
        QTest::addColumn<QStringList>("counts"); // the counts written for each, in order
        QTest::addColumn<int>("level");
        QTest::addColumn<bool>("seenBelow"); // each came once below the bound already
        const QStringList upTo256{"1", "2", "4", "8", "16", "32", "64", "128", "256"};
        const int warning = QtWarningMsg;
        QTest::newRow("one warning 500 times") << true << 1 << 500 << (upTo256 + QStringList{"499"}) << warning << false;
        QTest::newRow("two warnings in turn, 300 each") << true << 2 << 300 << (upTo256 + QStringList{"299"})
                                                        << warning << false;
        QTest::newRow("one warning 20000 times") << true << 1 << 20000
                                                 << (upTo256 + QStringList{"512", "1024", "2048", "4096", "8192",
                                                                           "16384", "19999"})
                                                 << warning << false;
        QTest::newRow("one warning twice") << true << 1 << 2 << QStringList{"1"} << warning << false;
        QTest::newRow("below the bound, each written") << false << 1 << 5 << QStringList() << warning << false;
        QTest::newRow("one error 20 times past the bound, each written")
            << true << 1 << 20 << QStringList() << int(QtCriticalMsg) << false;
        QTest::newRow("one outcome 20 times past the bound, each written")
            << true << 1 << 20 << QStringList() << int(QtInfoMsg) << false;
        QTest::newRow("a warning seen below the bound, then 6 times past it")
            << true << 1 << 6 << QStringList{"1", "2", "4", "5"} << warning << true;
    }
    void repeatingWarningIsCountedInTheReserve()
    {
        QFETCH(bool, pastTheBound);
        QFETCH(int, places);
        QFETCH(int, times);
        QFETCH(QStringList, counts);
        QFETCH(int, level);
        QFETCH(bool, seenBelow);
        const int bound = 4096, reserve = 8192;
        LogHandler::setDayFileBound(bound, reserve);
        LogHandler::instance()->installMessageHandler();
        const auto from = [](int p) { return QMessageLogContext(__FILE__, 1000 + p, nullptr, "default"); };
        for (int p = 0; seenBelow && p < places; ++p) // the same words, numbers aside
            qt_message_output(QtMsgType(level), from(p),
                              QStringLiteral("again 999 from %1 %2").arg(QChar('a' + p)).arg(QString(40, 'w')));
        for (int i = 0; pastTheBound && i < 100; ++i)
            qDebug("line %d %s", i, QByteArray(60, 'x').constData());
        for (int i = 0; i < times; ++i) {
            for (int p = 0; p < places; ++p)
                qt_message_output(QtMsgType(level), from(p),
                                  QStringLiteral("again %1 from %2 %3").arg(i).arg(QChar('a' + p)).arg(QString(40, 'w')));
        }
        qInfo("the outcome after them");
        LogHandler::instance()->release();

        const QString text = log();
        QCOMPARE(text.count(QLatin1String("used up the room")), 0);
        QVERIFY(text.contains(QLatin1String("the outcome after them\n")));
        for (int p = 0; p < places; ++p) {
            const QString from = QStringLiteral(" from %1 ").arg(QChar('a' + p));
            QStringList whole, told;
            for (const QString& line : text.split(QLatin1Char('\n'))) {
                if (!line.contains(from))
                    continue;
                const int at = line.indexOf(QLatin1String("log: the warning \""));
                if (at < 0) {
                    whole << line;
                    continue;
                }
                // Written with the words of the first one past the bound.
                QVERIFY2(line.mid(at).startsWith(QStringLiteral("log: the warning \"again 0%1").arg(from)), qPrintable(line));
                told << line.section(QLatin1String(" came "), 1).section(QLatin1Char(' '), 0, 0);
            }
            const bool counted = pastTheBound && level == QtWarningMsg;
            QCOMPARE(whole.size(), (counted ? 1 : times) + (seenBelow ? 1 : 0));
            QCOMPARE(told, counts);
        }
        QVERIFY2(text.size() <= bound + reserve, qPrintable(QString::number(text.size())));
    }

    // A reserve left a few bytes short of a count line never lets it pass bound plus reserve: the one
    // last line saying the reserve is used up goes there instead, whether the count is due at its step
    // or at the close. Tried with every room from the warning's own line to a few count lines past it.
    void countLineNeverPassesBoundAndReserve_data()
    {
        QTest::addColumn<int>("again"); // times the warning comes again after the one written
        QTest::newRow("a count due at its step") << 1;
        QTest::newRow("a count due at the close") << 3; // 1 and 2 at their steps, 3 at the close
    }
    void countLineNeverPassesBoundAndReserve()
    {
        QFETCH(int, again);
        const int bound = 4096, reserve = 1024;
        const QMessageLogContext here("/src/source.cpp", 42, nullptr, "default");
        const QString message = QStringLiteral("again 0 %1").arg(QString(40, 'w'));
        const int warningBytes = QStringLiteral("09:15:02 - [Warn ] (source.cpp:42): %1\n").arg(message).size();
        int counted = 0; // rooms where a count line fitted, so the sweep covers both sides
        for (int room = warningBytes; room < warningBytes + 3 * 200; room += 7) {
            cleanup();
            init();
            LogHandler::setDayFileBound(bound, reserve);
            QVERIFY(m_dir->write(QStringLiteral("log/2024-03-09.txt"),
                                 QByteArray(bound + reserve - room - 1, 'e') + '\n'));
            LogHandler::instance()->installMessageHandler();
            for (int i = 0; i <= again; ++i)
                qt_message_output(QtWarningMsg, here, QStringLiteral("again %1 %2").arg(i).arg(QString(40, 'w')));
            LogHandler::instance()->release();

            const QByteArray text = readFile(m_dir->filePath(QStringLiteral("log/2024-03-09.txt")));
            const QByteArray usedUp = "nothing more is logged there today\n";
            int end = 0;
            for (const QByteArray& line : text.split('\n')) {
                end += line.size() + 1;
                if (line.contains("log: the warning \"")) {
                    ++counted;
                    QVERIFY2(end <= bound + reserve, qPrintable(QStringLiteral("room %1: %2").arg(room).arg(QString(line))));
                }
            }
            QVERIFY2(text.contains(QStringLiteral("): %1\n").arg(message).toUtf8()), qPrintable(QString::number(room)));
            QVERIFY2(text.size() <= bound + reserve || text.endsWith(usedUp), qPrintable(QString::number(room)));
            QVERIFY(text.count(usedUp) <= 1);
        }
        QVERIFY(counted > 0);
    }

    // Standard output takes what the file takes: ordinary lines up to the bound, one line saying so,
    // then warnings and outcomes up to the reserve and one last line.
    void standardOutputIsBoundedLikeTheFile()
    {
        QString out;
        QVERIFY(childOutput("--flood-child", &out));
        QVERIFY2(out.size() <= 4096 + 1024 + 300, qPrintable(QString::number(out.size())));
        QCOMPARE(out.count(QLatin1String("standard output reached its bound of 4096 bytes")), 1);
        QCOMPARE(out.count(QLatin1String("standard output used up the room")), 1);
        QVERIFY(out.contains(QLatin1String("ordinary 0 ")) && !out.contains(QLatin1String("ordinary 199 ")));
        QVERIFY(out.contains(QLatin1String("warning 0 ")) && !out.contains(QLatin1String("warning 199 ")));
        QVERIFY(out.endsWith(QLatin1String("nothing more is logged there today\n")));
    }

    // Standard output's bound is a day's: on the next day ordinary lines go out again.
    void standardOutputStartsAgainOnANewDay()
    {
        QString out;
        QVERIFY(childOutput("--new-day-child", &out));
        QCOMPARE(out.count(QLatin1String("standard output reached its bound of 4096 bytes")), 2);
        QVERIFY(!out.contains(QLatin1String("ordinary 199 ")));
        QVERIFY2(out.contains(QLatin1String("next day 0 ")) && !out.contains(QLatin1String("next day 199 ")),
                 qPrintable(out.right(400)));
    }

    // A warning counted past standard output's bound has its count written there when the day changes
    // (the new day starts counting afresh) and when the handler is released, after what came before.
    void standardOutputTellsItsCountsAtTheDayChangeAndRelease_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("at the day's change") << "--repeat-new-day-child";
        QTest::newRow("at release") << "--repeat-child";
    }
    void standardOutputTellsItsCountsAtTheDayChangeAndRelease()
    {
        QFETCH(QString, mode);
        QString out;
        QVERIFY(childOutput(qPrintable(mode), &out));
        // Written once, counted five times since: 1, 2 and 4 at their steps, 5 when the output's day ends.
        const QString counts = QStringLiteral("log: the warning \"again 0 ");
        QCOMPARE(out.count(QStringLiteral("again 0 ")) - out.count(counts), 1);
        QStringList told;
        for (const QString& line : out.split(QLatin1Char('\n')))
            if (line.startsWith(counts))
                told << line.section(QLatin1String(" came "), 1).section(QLatin1Char(' '), 0, 0);
        QCOMPARE(told, QStringList({"1", "2", "4", "5"}));
        const int fifth = out.indexOf(QLatin1String("came 5 more times"));
        if (mode == QLatin1String("--repeat-new-day-child"))
            QVERIFY2(fifth < out.indexOf(QLatin1String("the next day")), qPrintable(out.right(600)));
        else
            QVERIFY2(fifth > out.indexOf(QLatin1String("the last outcome")), qPrintable(out.right(600)));
        QVERIFY(out.endsWith(QLatin1Char('\n')));
    }

    void fourThreadsWriteWholeLines()
    {
        LogHandler::instance()->installMessageHandler();
        std::vector<std::thread> workers;
        for (int t = 0; t < 4; ++t)
            workers.emplace_back([t] {
                for (int i = 0; i < 300; ++i)
                    qDebug("thread %d line %d %s", t, i, QByteArray(60, 'x').constData());
            });
        for (auto& w : workers)
            w.join();
        LogHandler::instance()->release();

        const QRegularExpression whole(
            QStringLiteral("^09:15:02 - \\[Debug\\] \\(test_loghandler\\.cpp:\\d+\\): thread \\d line \\d+ x{60}$"));
        const QStringList lines = log().trimmed().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 4 * 300);
        for (const QString& line : lines)
            QVERIFY2(whole.match(line).hasMatch(), qPrintable(line));
    }

    void fatalLineReachesTheFile()
    {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--fatal-child"), m_dir->path()});
        QVERIFY(child.waitForFinished(timescale::ms(30000)));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        const QString text = log(QDate::currentDate()) + log(QDate::currentDate().addDays(-1));
        const QRegularExpression lastWords(QStringLiteral("\\[Fatal\\] \\(test_loghandler\\.cpp:\\d+\\): last words"));
        QVERIFY2(text.contains(QLatin1String("[Debug]")) && text.contains(lastWords), qPrintable(text));
    }

    // Qt may warn from inside the file handling while the log lock is held; here the clock does in the day check.
    void messageUnderTheLogLockGoesToStandardOutputOnly()
    {
        LogHandler::setClock([] { qWarning("clock asked"); return Morning; });
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
        QVERIFY(log().contains(QLatin1String("outer message")) && !log().contains(QLatin1String("clock asked")));
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--fatal-child") == 0) { // the child of fatalLineReachesTheFile
        setAppDirPathForTest(QString::fromLocal8Bit(argv[2]));
        LogHandler::instance()->installMessageHandler();
        qDebug("an ordinary line first");
        qFatal("last words");
    }
    const QByteArray mode = argc == 3 ? QByteArray(argv[1]) : QByteArray();
    // The children of the standard output rows: their own folder and clock, the day's bound, and plain
    // lines past it first.
    QDateTime now = Morning;
    const auto startChild = [&](qint64 reserve, int ordinary) {
        setAppDirPathForTest(QString::fromLocal8Bit(argv[2]));
        LogHandler::setClock([&now] { return now; });
        LogHandler::setDayFileBound(4096, reserve);
        LogHandler::instance()->installMessageHandler();
        for (int i = 0; i < ordinary; ++i)
            qDebug("ordinary %d %s", i, QByteArray(60, 'x').constData());
    };
    const auto nextDay = [&now] {
        now = now.addDays(1);
        LogHandler::instance()->checkDate();
    };
    if (mode == "--flood-child") { // the child of standardOutputIsBoundedLikeTheFile
        startChild(1024, 200);
        for (int i = 0; i < 200; ++i) // each from a place of its own: none a repeat of another
            qt_message_output(QtWarningMsg, QMessageLogContext(__FILE__, i + 1, nullptr, "default"),
                              QStringLiteral("warning %1 %2").arg(i).arg(QString(60, 'w')));
    } else if (mode == "--new-day-child") { // the child of standardOutputStartsAgainOnANewDay
        startChild(1024, 200);
        nextDay();
        for (int i = 0; i < 200; ++i)
            qDebug("next day %d %s", i, QByteArray(60, 'x').constData());
    } else if (mode == "--repeat-child" || mode == "--repeat-new-day-child") {
        // The children of standardOutputTellsItsCountsAtTheDayChangeAndRelease: a warning past the bound
        // six times, then the day changes or the handler is released.
        startChild(8192, 100);
        for (int i = 0; i < 6; ++i)
            qWarning("again %d %s", i, QByteArray(40, 'w').constData());
        qInfo("the last outcome");
        if (mode == "--repeat-new-day-child") {
            nextDay();
            qInfo("the next day");
        }
    }
    if (mode.endsWith("-child")) {
        LogHandler::instance()->release();
        return 0;
    }
    LogHandlerFile test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_loghandler.moc"
