#pragma once
// Ends the tool as its Exit does when the system asks it to stop (SIGTERM, SIGINT, SIGHUP, the
// desktop's log-out): boxes and menus open at the time are answered as cancelled, so nothing is left
// waiting for a user who is not there.
#include "platform/stopsignals.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

class Tessark;

class SystemStop : public QObject {
    Q_OBJECT
public:
    static constexpr int TickMs = 50;

    // Watches the stop signals and the application's log-out request. A signal caught since the
    // program's start (StopSignals::catchFromStart) is a request already: see requested().
    explicit SystemStop(QObject* parent = nullptr);

    // The window whose Exit runs; a request that came before it existed is carried out once it is set.
    void setWindow(Tessark* window);
    bool requested() const { return m_requested; }
    bool isWatchingSignals() const { return m_signals.isWatching(); }

public slots:
    // Answers open boxes and menus, then runs the window's Exit once none is open; later boxes, until
    // the tool has ended, are answered too.
    void request();

private:
    void tick();
    // True when something was open and has been told to close.
    static bool closeOpenBoxes();

    StopSignals m_signals;
    QPointer<Tessark> m_window;
    QTimer m_timer;
    bool m_requested = false;
    bool m_exitStarted = false;
};
