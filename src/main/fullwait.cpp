#include "fullwait.h"

#include <QtGlobal>

#include <limits>

FullWait::FullWait(QObject* parent) : QObject(parent), m_end(QDeadlineTimer::Forever)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &FullWait::fired);
}

void FullWait::start(int ms)
{
    ms = qMax(0, ms);
    m_end = QDeadlineTimer(qint64(ms), Qt::PreciseTimer);
    m_active = true;
    m_timer.start(qMax(0, ms - qMax(0, s_earlyMs.load())));
}

void FullWait::stop()
{
    m_timer.stop();
    m_active = false;
}

int FullWait::remainingTime() const
{
    if (!m_active)
        return -1;
    const qint64 ns = m_end.remainingTimeNSecs();
    return ns <= 0 ? 0 : int(qMin<qint64>((ns + 999999) / 1000000, std::numeric_limits<int>::max()));
}

void FullWait::fired()
{
    if (!m_active)
        return;
    // A timer may fire before its time (a coarse one by up to 5 %): only the clock says the wait is over.
    if (!m_end.hasExpired()) {
        m_timer.start(qMax(1, remainingTime()));
        return;
    }
    m_active = false;
    emit ended();
}
