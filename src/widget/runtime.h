#pragma once
// A stopwatch that logs how long a step took, as one debug line "<label>[ 0.123s ]".
#include <QString>
#include <functional>

class RunTime {
public:
    // The clock gives monotonic milliseconds; the default is a QElapsedTimer (tests pass their own).
    explicit RunTime(std::function<qint64()> clockMs = {});

    // Kind 1 marks the first measurement, any other kind the second one.
    void mark(int kind);
    // Logs the time since the mark of that kind, or since construction when it was never marked.
    void stop(const QString& label, int kind) const;

private:
    qint64 now() const;

    std::function<qint64()> m_clock;
    qint64 m_start = 0; // ms on m_clock
    qint64 m_end = 0;
};
