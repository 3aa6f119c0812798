#include "uploadpace.h"

#include <QtGlobal>

namespace {
std::atomic<int> s_defaultWindow{UploadPace::Window};
std::atomic<int> s_defaultSlowestMs{UploadPace::SlowestAckMs};
}

UploadPace::UploadPace() : m_window(s_defaultWindow.load()), m_slowestMs(s_defaultSlowestMs.load()) {}

void UploadPace::setBound(int window, int slowestAckMs)
{
    m_window = qBound(1, window, MaxWindow);
    m_slowestMs = qBound(1, slowestAckMs, MaxSlowestAckMs);
}

void UploadPace::setDefaultBoundForTest(int window, int slowestAckMs)
{
    const bool shipped = window <= 0 && slowestAckMs <= 0;
    s_defaultWindow = shipped ? Window : qBound(1, window, MaxWindow);
    s_defaultSlowestMs = shipped ? SlowestAckMs : qBound(1, slowestAckMs, MaxSlowestAckMs);
}

void UploadPace::start(qint64 nowMs)
{
    m_runWindow = m_window;
    m_runSlowestMs = m_slowestMs;
    m_times.clear();
    m_times.push_back(nowMs);
    m_deadline = nowMs + qint64(m_runWindow) * m_runSlowestMs;
}

void UploadPace::acknowledged(qint64 nowMs)
{
    if (m_deadline.load() == 0 || m_times.empty())
        return;
    m_times.push_back(nowMs);
    while (m_times.size() > size_t(m_runWindow))
        m_times.pop_front();
    m_deadline = m_times.front() + qint64(m_runWindow) * m_runSlowestMs;
}

QString UploadPace::describe(qint64 nowMs) const
{
    if (m_times.empty())
        return QStringLiteral("no pace measured");
    const qint64 span = qMax<qint64>(0, nowMs - m_times.front());
    const int acks = int(m_times.size()) - 1; // the oldest entry opens the window
    return QStringLiteral("%1 acknowledgement(s) in the last %2 ms, at least %3 ms each; the bound is %4 in %5 ms "
                          "(%6 ms each)")
        .arg(acks)
        .arg(span)
        .arg(span / qMax(1, acks + 1))
        .arg(m_runWindow)
        .arg(qint64(m_runWindow) * m_runSlowestMs)
        .arg(m_runSlowestMs);
}
