#pragma once
// The update dialog: shows check results and download progress, keeps the automatic-check choice, and
// owns the update worker and its thread.
#include <QThread>
#include <QWidget>

class DownloadFile;
class QTimer;
class Ui_onlineUpdate;
class WaterProgressbar;

class onlineUpdate : public QWidget {
    Q_OBJECT
public:
    explicit onlineUpdate(QWidget* parent = nullptr);
    // Stops the worker's thread (bounded wait) before anything it uses goes.
    ~onlineUpdate() override;

    // Stop flag, quit, bounded wait; false (logged) when the thread still runs past it.
    bool stopWorker();
    DownloadFile* worker() const { return m_worker; }
    QThread* workerThread() { return &m_thread; }

    // How long teardown waits for the worker's thread.
    static constexpr int WorkerStopWaitMs = 3000;

public slots:
    void TessarkWidgetShow(bool found);
    void FirmeareWidgetShow(bool found);
    void ErrorInfoSlot(QString message);
    void DeviceOfflineSlot();
    void checkUpdateSlot();
    void checkFirmwareUpdateSlot();
    void setTessarkUpdateInfoSlot(QString text);
    void setFirmwareUpdateInfoSlot(QString text);
    void threadBusySignalSolt(bool busy);
    void setDownloadProgress(int value);
    void setDownloadNumber(int count);

private:
    Ui_onlineUpdate* m_ui = nullptr;
    DownloadFile* m_worker = nullptr;
    QThread m_thread;
};
