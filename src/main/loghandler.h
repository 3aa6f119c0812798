#pragma once
// The process-wide message handler: every Qt message goes to log/yyyy-MM-dd.txt and to standard output,
// both within a day's bound (see DayFileBound).
#include <QDateTime>
#include <QMutex>
#include <functional>

class LogHandlerPrivate;

class LogHandler {
public:
    static LogHandler* instance();

    // Opens today's file, trims the folder to ten files and starts the flush and day check timers.
    // Call on the GUI thread (the timers live there); a second call does nothing.
    void installMessageHandler();
    // Back to Qt's default output; the file is flushed and closed.
    void release();

    // What the day check timer runs: moves to the new date's file when the day has changed.
    void checkDate();

    // Tests only, while not installed: the local clock for file dates and line times.
    static void setClock(std::function<QDateTime()> clock);

    // A day's file takes ordinary (Debug) lines up to this size, then one line saying so. Warnings,
    // errors and outcomes (logged at Info level) go on into a reserve of DayFileReserve bytes past it;
    // when that is used up as well, one last line says so and nothing more is logged there that day.
    // In the reserve a warning that comes again (the same place and words, numbers aside) is counted,
    // the count written as it reaches 1, 2, 4, 8 ... more and when the output closes.
    // Standard output is bounded the same way, counted from the run's start and each new day.
    static constexpr qint64 DayFileBound = 16 * 1024 * 1024;
    static constexpr qint64 DayFileReserve = 1024 * 1024;
    // Tests only, while not installed: another bound and reserve (0 restores the shipped ones).
    static void setDayFileBound(qint64 bytes, qint64 reserve = 0);

private:
    LogHandler() = default;

    LogHandlerPrivate* d = nullptr; // guarded by the log mutex
};
