#pragma once
// Turns the system's requests to stop (SIGTERM, SIGINT, SIGHUP) into a Qt signal on the thread that
// made the object, so the tool can end the way its Exit does instead of dying where it stands.
#include <QObject>
#include <atomic>

class QSocketNotifier;

class StopSignals : public QObject {
    Q_OBJECT
public:
    // Takes the three signals over from the first instant of the program, before any object can watch
    // them: one that comes meanwhile is kept for the first object (caughtBefore). A signal inherited as
    // ignored (started under nohup) stays ignored, here and by the objects.
    static void catchFromStart();

    // Takes the three signals over for as long as it lives; one object at a time. On systems without
    // them (Windows, where a log-out reaches the tool as the session's commit request) it does nothing.
    explicit StopSignals(QObject* parent = nullptr);
    // Puts back what was there before.
    ~StopSignals() override;

    // How many of the signals the handler took since the program started, counted in the handler
    // itself: code that holds the thread of the objects (a request waiting for the keyboard) can watch it.
    static const std::atomic<int>& received();

    // Whether the signals reach this object (false on Windows, or when another object holds them).
    bool isWatching() const { return m_watching; }
    // The signal that came after catchFromStart and before this object watched; 0 when none did. It is
    // not emitted: the owner acts on it before anything is loaded.
    int caughtBefore() const { return m_caughtBefore; }

signals:
    // Once per signal received; number is the signal's.
    void stopRequested(int number);

private:
    void readSignals();

    bool m_watching = false;
    int m_caughtBefore = 0;
    QSocketNotifier* m_notifier = nullptr;
};
