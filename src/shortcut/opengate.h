#pragma once
// Lets something through at most a number of times within any span of time, counting what it held back.
#include <QElapsedTimer>
#include <QVector>
#include <QtGlobal>

class OpenGate {
public:
    explicit OpenGate(int times = 1, qint64 spanMs = 0)
        : m_passed(qMax(1, times)), m_spanMs(spanMs)
    {
    }

    // 0 when open; otherwise how long until the earliest passage in the span has left it.
    qint64 msUntilOpen() const
    {
        const QElapsedTimer& oldest = m_passed.at(m_oldest);
        if (!oldest.isValid())
            return 0;
        const qint64 elapsed = oldest.elapsed();
        return elapsed > m_spanMs ? 0 : m_spanMs - elapsed + 1;
    }
    bool isOpen() const { return msUntilOpen() == 0; }
    void pass()
    {
        m_passed[m_oldest].start();
        m_oldest = (m_oldest + 1) % m_passed.size();
    }
    // Forgets every passage: the next ones go through at once.
    void clear()
    {
        for (QElapsedTimer& t : m_passed)
            t.invalidate();
    }
    qint64 spanMs() const { return m_spanMs; }
    int times() const { return m_passed.size(); }

    int held = 0; // held back since last told

private:
    QVector<QElapsedTimer> m_passed; // a ring; m_oldest is the earliest passage still kept
    int m_oldest = 0;
    qint64 m_spanMs;
};
