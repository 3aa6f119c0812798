#pragma once
// The application object that keeps one copy per executable and user: a second start wakes the first.
#include <QApplication>
#include <QString>
#include <QStringList>

class QDeadlineTimer;
class QLocalServer;
class Tessark;

class SingleApplication : public QApplication {
    Q_OBJECT
public:
    SingleApplication(int& argc, char** argv);

    // A running copy took this start's message: this one ends.
    bool isRunning() const { return m_running; }
    // A copy is alive (it holds the instance lock) but took no message in time, being busy or stopped:
    // this one must not run beside it, nor touch its files.
    bool runningCopyDoesNotAnswer() const { return m_notAnswering; }
    // Tells the user so, in a box, and on standard error (no log file is ours to write).
    static void tellRunningCopyDoesNotAnswer();
    // Why this copy is not guarded, or what it found squatting its socket's name. Kept, not logged at once:
    // the log handler is installed only by the main window, after the check.
    QStringList guardWarnings() const { return m_guardWarnings; }

private slots:
    void newLocalConnection();

private:
    enum class Lock { Taken, HeldElsewhere, Unusable };
    enum class Asked { Taken, NotReached, Silent };

    void initLocalConnection();
    void newLocalServer();
    Lock takeInstanceLock();
    Asked askRunningCopy(const QDeadlineTimer& deadline);

    friend int qMain(int argc, char** argv); // the only writer of the main window field

    Tessark* m_mainWindow = nullptr;
    bool m_running = false;
    bool m_notAnswering = false;
    bool m_toldOtherUser = false;
    QLocalServer* m_server = nullptr;
    QString m_serverName;
    QString m_serverPath; // the full local server name; empty when there is no private place for it
    QString m_lockPath;   // beside the socket: held by the running copy for as long as its process lives
    // The lock file as this copy opened it, once; the only thing ever locked. Never closed by the
    // first copy: the system releases the lock when the process ends, however it ends.
    qintptr m_lockHandle = -1;
    QStringList m_guardWarnings;
};
