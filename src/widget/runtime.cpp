#include "runtime.h"

#include <QDebug>
#include <QElapsedTimer>

RunTime::RunTime(std::function<qint64()> clockMs) : m_clock(std::move(clockMs))
{
    if (!m_clock) {
        // Monotonic: a step that crosses a minute (or a clock change) still measures right.
        QElapsedTimer timer;
        timer.start();
        m_clock = [timer] { return timer.elapsed(); };
    }
    m_start = m_end = now();
}

qint64 RunTime::now() const
{
    return m_clock();
}

void RunTime::mark(int kind)
{
    (kind == 1 ? m_start : m_end) = now();
}

void RunTime::stop(const QString& label, int kind) const
{
    const double seconds = double(now() - (kind == 1 ? m_start : m_end)) / 1000.0;
    qDebug() << (label + QStringLiteral("[ ") + QString::number(seconds, 'f', 3) + QStringLiteral("s ]"));
}
