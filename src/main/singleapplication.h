#pragma once
// The application object that keeps one copy per executable and user: a second start wakes the first.
#include <QApplication>
#include <QString>

class QLocalServer;
class Tessark;

class SingleApplication : public QApplication {
    Q_OBJECT
public:
    SingleApplication(int& argc, char** argv);

    bool isRunning() const { return m_running; }

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
};
