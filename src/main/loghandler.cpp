#include "loghandler.h"

#include "widget/qss.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTextStream>
#include <QTimer>
#include <atomic>
#include <cstdio>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
constexpr int DayCheckMs = 600000;
constexpr int FlushMs = 1000;
constexpr int MaxLogFiles = 10;
// How many names a day's log may move on to when the ones before it have other names as well.
constexpr int MaxOwnNames = 9;
// Of a warning's words, what tells it from others, and what a count line repeats of them.
constexpr int RepeatKeyChars = 200;
constexpr int RepeatShownChars = 100;

// Shared by the handler function and the private part; all guarded by s_logMutex.
QFile* s_logFile = nullptr;
QTextStream* s_logStream = nullptr;
QMutex s_logMutex;
std::function<QDateTime()> s_clock;
qint64 s_dayBound = 0;     // 0: LogHandler::DayFileBound
qint64 s_dayReserve = 0;   // 0: LogHandler::DayFileReserve

// How much one output (the day's file, standard output) has taken today, and how far it may still grow:
// ordinary lines up to the bound, warnings, errors and outcomes on into the reserve past it.
struct Budget {
    qint64 bytes = 0;
    bool ordinaryStopped = false; // past the bound: only reserved lines go on
    bool allStopped = false;      // the reserve is used up too: nothing more goes there
    // Warnings written into the reserve, by where they come from and their words (numbers aside). One
    // that comes again is counted there instead of written again: see countRepeat().
    struct Repeat {
        QString shown;   // the words as first written, cut short
        qint64 count = 0; // times it came again since
        qint64 told = 0;  // the count last written
    };
    QHash<QString, Repeat> repeats;
};
Budget s_file;   // the open file, from its size on opening
Budget s_stdout; // standard output, from this run's start or the day's change

// Set while this thread holds s_logMutex: a message emitted then (Qt may warn from inside the
// file handling) must not lock again, since the mutex is not recursive.
thread_local bool t_holdsLogMutex = false;

class LogLock {
public:
    LogLock()
    {
        s_logMutex.lock();
        t_holdsLogMutex = true;
    }
    ~LogLock()
    {
        t_holdsLogMutex = false;
        s_logMutex.unlock();
    }
    LogLock(const LogLock&) = delete;
    LogLock& operator=(const LogLock&) = delete;
};

QDateTime now()
{
    return s_clock ? s_clock() : QDateTime::currentDateTime();
}


QString levelWord(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("Debug");
    case QtWarningMsg:
        return QStringLiteral("Warn ");
    case QtCriticalMsg:
        return QStringLiteral("Error");
    case QtFatalMsg:
        return QStringLiteral("Fatal");
    case QtInfoMsg:
        return QStringLiteral("Info ");
    }
    return QString();
}

QString fileNameOnly(const char* file)
{
    if (!file)
        return QString();
    const QString path = QString::fromLatin1(file);
    const int cut = qMax(path.lastIndexOf(QDir::separator()), path.lastIndexOf(QLatin1Char('/')));
    return path.mid(cut + 1);
}

QString logLine(QtMsgType type, const char* file, int line, const QString& message)
{
    return QStringLiteral("%1 - [%2] (%3:%4): %5\n")
        .arg(now().toString(QStringLiteral("hh:mm:ss")), levelWord(type), fileNameOnly(file), QString::number(line),
             message);
}

enum class Opening {
    Opened,
    Shared, // a file that has another name as well: left alone
    Failed,
};

// Opens the day's file for appending: never through a link at its name, and only a regular file (a
// FIFO there would hold the open until a reader came) that has no other name (a hard link: what is
// appended would grow that other file too). Judged on the descriptor, so on the file that was opened.
Opening openLogFile(QFile* file)
{
#ifndef Q_OS_WIN
    const int fd = ::open(QFile::encodeName(file->fileName()).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0)
        return Opening::Failed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Opening::Failed;
    }
    if (st.st_nlink > 1) {
        ::close(fd);
        return Opening::Shared;
    }
    if (::fcntl(fd, F_SETFL, O_APPEND) != 0) {
        ::close(fd);
        return Opening::Failed;
    }
    return file->open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text, QFileDevice::AutoCloseHandle)
               ? Opening::Opened
               : Opening::Failed;
#else
    return file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text) ? Opening::Opened
                                                                                    : Opening::Failed;
#endif
}

qint64 dayBound()
{
    return s_dayBound > 0 ? s_dayBound : LogHandler::DayFileBound;
}

qint64 dayReserve()
{
    return s_dayReserve > 0 ? s_dayReserve : LogHandler::DayFileReserve;
}

// Warnings and worse, and outcomes (logged at Info level), may use the reserve.
bool reserved(QtMsgType type)
{
    return type != QtDebugMsg;
}

enum class Output { File, Stdout };

// A line of ours as the output takes it: the file's line format, or the message alone.
QByteArray ownLine(Output output, const QString& message)
{
    if (output == Output::File)
        return logLine(QtWarningMsg, __FILE__, __LINE__, message).toUtf8();
    return message.toLocal8Bit() + '\n';
}

// Whether a line of `bytes` may go out through this budget. When it may not, *said receives what is
// written instead, once at each step: the bound reached, then the reserve used up as well.
bool admit(Budget& budget, Output output, qint64 bytes, bool mayUseReserve, QByteArray* said)
{
    said->clear();
    if (budget.allStopped)
        return false;
    if (!mayUseReserve && budget.ordinaryStopped)
        return false;
    const qint64 limit = dayBound() + (mayUseReserve ? dayReserve() : 0);
    if (budget.bytes + bytes <= limit) {
        budget.bytes += bytes;
        return true;
    }
    const QString where = output == Output::File ? QStringLiteral("this day's file") : QStringLiteral("standard output");
    if (!mayUseReserve) {
        budget.ordinaryStopped = true;
        const QByteArray line = ownLine(output, QStringLiteral("log: %1 reached its bound of %2 bytes today; from here "
                                                               "on only warnings, errors and outcomes go there, "
                                                               "within %3 bytes more")
                                                    .arg(where)
                                                    .arg(dayBound())
                                                    .arg(dayReserve()));
        QByteArray after;
        if (admit(budget, output, line.size(), true, &after))
            *said = line;
        else
            *said = after;
        return false;
    }
    budget.ordinaryStopped = true;
    budget.allStopped = true;
    // The one line past the reserve: short and ours.
    *said = ownLine(output, QStringLiteral("log: %1 used up the room kept for warnings, errors and outcomes as well; "
                                           "nothing more is logged there today")
                                .arg(where));
    budget.bytes += said->size();
    return false;
}

// What makes two warnings the same one: where they come from and their words, numbers aside (a
// count or an index in them changes from one to the next).
// Only warnings are counted: other lines have no key.
QString repeatKey(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtWarningMsg)
        return QString();
    QString key = QString::fromUtf8(context.file ? context.file : "") + QLatin1Char(':')
                  + QString::number(context.line) + QLatin1Char(' ');
    bool inNumber = false;
    for (const QChar c : message.left(RepeatKeyChars)) {
        if (!c.isDigit())
            key += c;
        else if (!inNumber)
            key += QLatin1Char('#');
        inNumber = c.isDigit();
    }
    return key;
}

bool inReserve(const Budget& budget)
{
    return budget.ordinaryStopped || budget.bytes >= dayBound();
}

QByteArray repeatLine(Output output, const Budget::Repeat& repeat)
{
    return ownLine(output, QStringLiteral("log: the warning \"%1\" came %2 more times since it was written past "
                                          "the bound")
                               .arg(repeat.shown)
                               .arg(repeat.count));
}

// A warning in the reserve that came there before is only counted: the count is written when it reaches
// 1, 2, 4, 8 ... and when the output closes, so a warning that repeats all day takes a few lines of the
// reserve, not one a time. True when the line is counted; *said is then the count line to write, if any.
bool countRepeat(Budget& budget, Output output, const QString& key, QByteArray* said)
{
    said->clear();
    if (key.isEmpty() || budget.allStopped || !inReserve(budget))
        return false;
    const auto it = budget.repeats.find(key);
    if (it == budget.repeats.end())
        return false;
    const qint64 n = ++it->count;
    if ((n & (n - 1)) != 0)
        return true;
    const QByteArray line = repeatLine(output, *it);
    QByteArray after;
    *said = admit(budget, output, line.size(), true, &after) ? line : after;
    it->told = n;
    return true;
}

// After a warning went into the reserve: the next like it is counted.
void noteWritten(Budget& budget, const QString& key, const QString& message)
{
    if (!key.isEmpty() && inReserve(budget) && !budget.repeats.contains(key))
        budget.repeats.insert(key, {message.left(RepeatShownChars), 0, 0});
}

// The counts not written yet, as the output closes or its day ends.
QByteArray tellRepeats(Budget& budget, Output output)
{
    QByteArray lines;
    for (Budget::Repeat& repeat : budget.repeats) {
        if (repeat.count == repeat.told)
            continue;
        const QByteArray line = repeatLine(output, repeat);
        QByteArray after;
        lines += admit(budget, output, line.size(), true, &after) ? line : after;
        repeat.told = repeat.count;
    }
    return lines;
}

void putStdout(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

// Standard output gets the message alone, within the same bound and reserve as the file, counted
// for this run and day.
void writeStdout(QtMsgType type, const QString& message, const QString& key)
{
    QByteArray said;
    if (countRepeat(s_stdout, Output::Stdout, key, &said)) {
        putStdout(said);
        return;
    }
    QByteArray bytes = message.toLocal8Bit() + '\n';
    if (!admit(s_stdout, Output::Stdout, bytes.size(), reserved(type), &said)) {
        putStdout(said);
        return;
    }
    noteWritten(s_stdout, key, message);
    putStdout(bytes);
}

// Appends a line unless the day's file has no room for it; see admit() for what is written then.
void appendLine(QtMsgType type, const QString& line, const QString& key = QString(),
                const QString& message = QString())
{
    QByteArray said;
    if (countRepeat(s_file, Output::File, key, &said)) {
        if (!said.isEmpty())
            *s_logStream << QString::fromUtf8(said);
        return;
    }
    if (admit(s_file, Output::File, line.toUtf8().size(), reserved(type), &said)) {
        noteWritten(s_file, key, message);
        *s_logStream << line;
        return;
    }
    if (said.isEmpty())
        return;
    *s_logStream << QString::fromUtf8(said);
    s_logStream->flush();
}

// The day's file, or, when that has another name as well, the first file of its own among
// <date>-2.txt ... <date>-<MaxOwnNames>.txt; that move is said once, on standard error and in the
// file it starts.
bool openStream(const QString& path)
{
    QString name = path;
    for (int n = 2;; ++n) {
        s_logFile = new QFile(name);
        const Opening opening = openLogFile(s_logFile);
        if (opening == Opening::Opened)
            break;
        delete s_logFile;
        s_logFile = nullptr;
        if (opening == Opening::Failed || n > MaxOwnNames) {
            std::fprintf(stderr, "log: %s does not open as a regular file of its own; nothing is logged there\n",
                         QFile::encodeName(name).constData());
            return false;
        }
        name = path.left(path.size() - 4) + QStringLiteral("-%1.txt").arg(n);
    }
    s_logStream = new QTextStream(s_logFile);
    s_logStream->setCodec("UTF-8");
    // A file already at its bound or past its reserve (an earlier run said so) takes no more ordinary
    // lines, or none at all, without saying so again.
    s_file = Budget();
    s_file.bytes = s_logFile->size();
    s_file.ordinaryStopped = s_file.bytes >= dayBound();
    s_file.allStopped = s_file.bytes >= dayBound() + dayReserve();
    if (name != path) {
        const QString said = QStringLiteral("log: %1 has another name as well (a hard link) and is left alone; "
                                            "this run logs to %2")
                                 .arg(path, name);
        std::fprintf(stderr, "%s\n", said.toLocal8Bit().constData());
        appendLine(QtWarningMsg, logLine(QtWarningMsg, __FILE__, __LINE__, said));
        s_logStream->flush();
    }
    return true;
}

void closeStream()
{
    if (s_logStream) {
        *s_logStream << QString::fromUtf8(tellRepeats(s_file, Output::File));
        s_logStream->flush();
    }
    delete s_logStream;
    s_logStream = nullptr;
    if (s_logFile)
        s_logFile->close();
    delete s_logFile;
    s_logFile = nullptr;
}
} // namespace

class LogHandlerPrivate {
public:
    // Runs under the log mutex.
    LogHandlerPrivate()
        : m_logDir(appDirPath() + QStringLiteral("/log"))
    {
        const QDate today = now().date();
        const QFileInfo todays(filePath(today));
        if (todays.exists()) {
            // Where the file system keeps no creation time the file counts as today's.
            const QDateTime born = todays.birthTime();
            m_fileDate = born.isValid() ? born.toLocalTime().date() : today;
        }
        openAndBackupLogFile();
        QObject::connect(&m_dayCheckTimer, &QTimer::timeout, [] { LogHandler::instance()->checkDate(); });
        m_dayCheckTimer.start(DayCheckMs);
        QObject::connect(&m_flushTimer, &QTimer::timeout, [] {
            LogLock lock;
            if (s_logStream)
                s_logStream->flush();
        });
        m_flushTimer.start(FlushMs);
    }

    // Runs under the log mutex.
    ~LogHandlerPrivate() { closeStream(); }

    static void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

    // Runs under the log mutex.
    void openAndBackupLogFile()
    {
        makeLogDir();
        const QDate today = now().date();
        if (!m_fileDate.isValid())
            m_fileDate = today;

        if (!s_logFile) {
            openStream(filePath(m_fileDate));
            const QFileInfoList files = m_logDir.entryInfoList(QStringList(QStringLiteral("*.txt")));
            if (files.size() > MaxLogFiles) {
                // Date names sort oldest first; one file per start keeps the folder near ten.
                const QString oldest = files.first().absoluteFilePath();
                qDebug() << __LINE__ << "delete file = " << oldest;
                QFile::remove(oldest);
            }
        }

        if (today != m_fileDate) {
            // The finished day's file stays as it is; logging goes on in the new date's file, and
            // standard output has a new day's room.
            closeStream();
            m_fileDate = today;
            putStdout(tellRepeats(s_stdout, Output::Stdout));
            s_stdout = Budget();
            openStream(filePath(m_fileDate));
        }
    }

    void makeLogDir()
    {
        // The log folder only, never the application folder above it: one removed (the tool's folder
        // deleted or moved while it runs) is not made again.
        if (!m_logDir.exists())
            QDir().mkdir(m_logDir.absolutePath());
    }

private:
    QString filePath(const QDate& date) const
    {
        return appDirPath() + QStringLiteral("/log/") + date.toString(QStringLiteral("yyyy-MM-dd"))
               + QStringLiteral(".txt");
    }

    QDir m_logDir;
    QTimer m_dayCheckTimer;
    QTimer m_flushTimer;
    QDate m_fileDate;
};

void LogHandlerPrivate::messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QString key = repeatKey(type, context, message);
    if (t_holdsLogMutex) {
        writeStdout(type, message, key);
        return;
    }
    LogLock lock;
    writeStdout(type, message, key);
    if (!s_logStream)
        return;
    appendLine(type, logLine(type, context.file, context.line, message), key, message);
    // A crash often follows an error, and a fatal message aborts right after this: keep both lines.
    if (type == QtCriticalMsg || type == QtFatalMsg)
        s_logStream->flush();
}

LogHandler* LogHandler::instance()
{
    static std::atomic<LogHandler*> s_instance{nullptr};
    static QMutex s_instanceMutex;
    LogHandler* handler = s_instance.load(std::memory_order_acquire);
    if (!handler) {
        QMutexLocker lock(&s_instanceMutex);
        handler = s_instance.load(std::memory_order_relaxed);
        if (!handler) {
            handler = new LogHandler;
            s_instance.store(handler, std::memory_order_release);
        }
    }
    return handler;
}

void LogHandler::installMessageHandler()
{
    LogLock lock;
    if (d)
        return;
    d = new LogHandlerPrivate;
    qInstallMessageHandler(LogHandlerPrivate::messageHandler);
}

void LogHandler::release()
{
    LogLock lock;
    putStdout(tellRepeats(s_stdout, Output::Stdout));
    qInstallMessageHandler(nullptr);
    delete d;
    d = nullptr;
}

void LogHandler::checkDate()
{
    LogLock lock;
    if (d)
        d->openAndBackupLogFile();
}

void LogHandler::setDayFileBound(qint64 bytes, qint64 reserve)
{
    LogLock lock;
    s_dayBound = bytes;
    s_dayReserve = reserve;
    s_stdout = Budget();
}

void LogHandler::setClock(std::function<QDateTime()> clock)
{
    LogLock lock;
    s_clock = std::move(clock);
}
