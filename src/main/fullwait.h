#pragma once
// A single-shot wait that ends only once its whole length has passed on the monotonic clock.
#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

#include <atomic>

class FullWait : public QObject {
    Q_OBJECT
public:
    explicit FullWait(QObject* parent = nullptr);

    // Starts (or starts again) a wait of ms; ended() follows once ms have passed by the clock.
    void start(int ms);
    void stop();
    bool isActive() const { return m_active; }
    // What is left by the clock, in ms (rounded up); -1 when not waiting.
    int remainingTime() const;

    // Tests: the timer under each wait is first armed this much short of its length, as a coarse timer
    // may fire early; 0 arms it for the whole length.
    static void setTimerEarlyForTest(int ms) { s_earlyMs = ms; }

signals:
    void ended();

private:
    void fired();

    QTimer m_timer;
    QDeadlineTimer m_end;
    bool m_active = false;
    static inline std::atomic<int> s_earlyMs{0};
};
