#pragma once
// Carries an upload's byte count from the thread that sends the packets to its own (the window's)
// thread with at most one delivery pending, so a fast upload never queues a backlog of progress.
#include <QObject>
#include <atomic>

class ProgressRelay : public QObject {
    Q_OBJECT
public:
    explicit ProgressRelay(QObject* parent = nullptr);

    // Thread-safe; connect the sender's per-packet signal with Qt::DirectConnection. Stores the count
    // and, unless a delivery is already on its way, posts one to this object's thread.
    void post(int bytes);

    // Deliveries posted so far, each one progress() emission.
    int deliveries() const { return m_deliveries.load(); }

signals:
    // On this object's thread: the latest count when the delivery runs.
    void progress(int bytes);

private:
    void deliver();

    std::atomic<int> m_latest{0};
    std::atomic<bool> m_pending{false};
    std::atomic<int> m_deliveries{0};
};
