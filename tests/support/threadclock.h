#pragma once
// The processor time the calling thread has used, for rows that bound what work costs whatever else
// the machine runs.
#include <QtGlobal>

class ThreadClock
{
public:
    ThreadClock() { start(); }
    void start() { m_startNs = nowNs(); }
    // Milliseconds of this thread's processor time since start().
    qint64 elapsed() const { return (nowNs() - m_startNs) / 1000000; }
    static qint64 nowNs();

private:
    qint64 m_startNs = 0;
};
