#pragma once
// Notices gathered during one action, shown together once the event loop runs again.
#include <QCoreApplication>
#include <QList>
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
    // Empties the queue first: a box runs an event loop, in which another action may queue again.
    QList<Notice> take() { return std::exchange(m_notices, QList<Notice>()); }
    int size() const { return m_notices.size(); }

private:
    QList<Notice> m_notices;
};
