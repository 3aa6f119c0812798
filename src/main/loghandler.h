#pragma once
// The process-wide message handler: every Qt message goes to log/yyyy-MM-dd.txt and to standard output.
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

    // A day's file stops growing at this size, after one line saying so; standard output still gets all.
    static constexpr qint64 DayFileBound = 16 * 1024 * 1024;
    // Tests only, while not installed: another bound (0 restores DayFileBound).
    static void setDayFileBound(qint64 bytes);

private:
    LogHandler() = default;

    LogHandlerPrivate* d = nullptr; // guarded by the log mutex
};
