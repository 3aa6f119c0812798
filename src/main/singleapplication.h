#pragma once
// The application object that keeps one copy per application folder: a second start wakes the first.
#include <QApplication>
#include <QString>
#include <QStringList>
#include <memory>

class InstanceLock;
class QDeadlineTimer;
class QLocalServer;
class Tessark;

class SingleApplication : public QApplication {
    Q_OBJECT
public:
    SingleApplication(int& argc, char** argv);
    ~SingleApplication() override;

    // A running copy took this start's message: this one ends.
    bool isRunning() const { return m_running; }
    // Why this start must not run beside a copy of its folder that lives, or may live, nor touch its files.
    enum class Refusal {
        None,
        NotAnswering, // it holds the lock and took the connection, but gave no answer in time (busy, stopped)
        NotReachable, // it holds the lock, but no socket of its own is where this start looks
        LockUnusable, // the lock cannot be had, so whether a copy lives cannot be told
    };
    Refusal refusal() const { return m_refusal; }
    // Tells the user why, in a box, and on standard error (no log file is ours to write).
    void tellRefusal() const;
    // Why this copy is not guarded, or what it found squatting its socket's name. Kept, not logged at once:
    // the log handler is installed only by the main window, after the check.
    QStringList guardWarnings() const { return m_guardWarnings; }

private slots:
    void newLocalConnection();

private:
    enum class Asked { Taken, NotReached, Silent };

    void initLocalConnection();
    void newLocalServer();
    Asked askRunningCopy(const QDeadlineTimer& deadline);

    friend int qMain(int argc, char** argv); // the only writer of the main window field

    Tessark* m_mainWindow = nullptr;
    bool m_running = false;
    Refusal m_refusal = Refusal::None;
    bool m_toldOtherUser = false;
    QLocalServer* m_server = nullptr;
    QString m_serverName;
    QString m_serverPath; // the full local server name; empty when there is no private place for it
    // In the application folder: held by the running copy for as long as its process lives.
    std::unique_ptr<InstanceLock> m_lock;
    QStringList m_guardWarnings;
};
