#pragma once
// Whether the update worker is to stop: asked of it (Exit, the window going away), or a stop signal came
// since it was made. The signal is seen the moment its handler counts it, on whatever thread, without
// waiting for the window's thread to pass it on: a check running on the worker's thread ends at once.
#include "platform/stopsignals.h"

#include <atomic>

class WorkerStop {
public:
    WorkerStop() : m_signalsAtStart(StopSignals::received().load()) {}

    // Safe from any thread; there is no taking it back.
    void request() { m_asked = true; }
    bool requested() const { return m_asked.load() || StopSignals::received().load() != m_signalsAtStart; }
    explicit operator bool() const { return requested(); }

private:
    std::atomic<bool> m_asked{false};
    const int m_signalsAtStart;
};
