#pragma once
// A one-second ticker that signals emitQuit at the fifth tick counted across all instances.
#include <QObject>
#include <atomic>

class QTimer;

class WorkerRead : public QObject {
    Q_OBJECT
public:
    static constexpr int TickMs = 1000;
    static constexpr int QuitTick = 5;

    WorkerRead();
    ~WorkerRead() override;

    void stop() { m_running = false; }
    bool isRunning() const { return m_running.load(); }
    QTimer* timer() const { return m_timer; }
    // Ticks of every instance since the program started.
    static int ticks() { return s_ticks.load(); }

signals:
    void emitQuit();

public slots:
    void timerOutSlot();
    void timerStartSlot();

private:
    QTimer* m_timer = nullptr;
    std::atomic<bool> m_running{true};
    static std::atomic<int> s_ticks;
};
