#pragma once
// The application object that keeps one copy per executable and user: a second start wakes the first.
#include <QApplication>
#include <QString>
#include <QStringList>

class QLocalServer;
class Tessark;

class SingleApplication : public QApplication {
    Q_OBJECT
public:
    SingleApplication(int& argc, char** argv);

    bool isRunning() const { return m_running; }
    // Why this copy is not guarded, or what it found squatting its socket's name. Kept, not logged at once:
    // the log handler is installed only by the main window, after the check.
    QStringList guardWarnings() const { return m_guardWarnings; }

private slots:
    void newLocalConnection();

private:
    void initLocalConnection();
    void newLocalServer();

    friend int qMain(int argc, char** argv); // the only writer of the main window field

    Tessark* m_mainWindow = nullptr;
    bool m_running = false;
    QLocalServer* m_server = nullptr;
    QString m_serverName;
    QString m_serverPath; // the full local server name; empty when there is no private place for it
    QStringList m_guardWarnings;
};
