#pragma once
// Notices gathered during one action, shown together once the event loop runs again.
#include <QCoreApplication>
#include <QList>
#include <QStringList>
#include <QTimer>

#include <utility>

template <typename Notice>
class NoticeQueue {
public:
    // Queues n unless an equal one waits already (once per action); the first one queued schedules
    // flush, so the box never opens inside the code that failed.
    void add(const Notice& n, void (*flush)())
    {
        if (m_notices.contains(n))
            return;
        m_notices.append(n);
        if (m_notices.size() == 1 && QCoreApplication::instance())
            QTimer::singleShot(0, QCoreApplication::instance(), flush);
    }
    // The queued notices as one text, a line each, and the queue emptied: first, as the box that shows
    // them runs an event loop, in which another action may queue again. Empty when none waits.
    QString takeText(QString (*line)(const Notice&))
    {
        QStringList lines;
        for (const Notice& n : std::exchange(m_notices, QList<Notice>()))
            lines << line(n);
        return lines.join(QLatin1Char('\n'));
    }
    int size() const { return m_notices.size(); }

private:
    QList<Notice> m_notices;
};
