#pragma once
// The online update's one shared state and signal hub between the main window, the update dialog and
// the update worker.
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>

class onlineUpdate;

// What the connected keyboard reported about its firmware; always copied whole.
struct FirmwareInfo {
    QString modelDir;     // the board name: the keyboard's folder on the download server
    QString usbAppVersion;
    QString btAppVersion;
    QString btSdVersion;
    int modelType = 0;    // 0 USB only, 1 dual mode (three versions compared)
    QString hardwareVersion;
};

class overallVariate : public QObject {
    Q_OBJECT
public:
    explicit overallVariate(QObject* parent = nullptr);
    // Stops the worker first (bounded), then schedules the dialog for deletion.
    ~overallVariate() override;

    // Creates the update dialog (and with it the worker and its thread) and connects it.
    void createUpdateWidget();
    void connectUpdateWidget();
    void showUpdateWidget();
    // Safe from any thread: the hide is queued to the GUI thread, ahead of what the caller emits next.
    void hideUpdateWidget();
    onlineUpdate* updateWidget() const;
    // Asks the worker to stop and waits a bounded time for its thread; false when it still runs.
    bool stopWorker();
    // Asks the worker to stop without waiting: a check of the updater running on its thread then starts
    // nothing, however long the tool takes to end.
    void askWorkerToStop();

    void setBusy(bool busy);
    bool getBusy() const { return m_busy; }
    void setOnlinState(bool online);
    bool getOnlinState() const { return m_online; }
    void setAutoCheckUpdate(bool on) { m_autoCheckUpdate = on; }
    bool getAutoCheckUpdate() const { return m_autoCheckUpdate; }

    void setFirmwareInfo(const QString& modelDir, const QString& usbAppVersion, int modelType,
                         const QString& btAppVersion, const QString& btSdVersion, const QString& hardwareVersion);
    FirmwareInfo getFirmwareInfo() const;
    void clearFirmwareInfo();
    // The USB application version the server offers, as its version file writes it ("3.0.1"): the
    // downloaded image must bring the keyboard to it. Taking it clears it; -1 when none was offered or
    // the text is not a keyboard version.
    void setOfferedUsbVersion(const QString& text);
    int takeOfferedUsbVersion() { return m_offeredUsbVersion.exchange(-1); }

    // The last space-separated word of the firmware line of config/about.xml; empty when the file
    // cannot be opened or parsed.
    static QString getTessarkVersions();

    void emitCheckUpdate() { emit checkUpdateSignal(); }
    void emitCheckFirmwareUpdate() { emit checkFirmwareUpdateSignal(); }
    void emitDownloadTessarkUpdateFile() { emit dowmloadTessarkUpdateFileSignal(); }
    void emitDownloadFirmwareUpdateFile() { emit dowmloadFirmwareUpdateFileSignal(); }
    void emitTessarkUpdate(bool found) { emit TessarkUpdateSignal(found); }
    void emitFirmwareUpdate(bool found) { emit FirmwareUpdateSignal(found); }
    void emitErrorInfo(const QString& message) { emit ErrorInfoSignal(message); }
    void emitDeviceOffline() { emit DeviceOfflineSignal(); }
    void emitTessarkUpdateInfo(const QString& text) { emit setTessarkUpdateInfoSignal(text); }
    void emitFirmwareUpdateInfo(const QString& text) { emit setFirmwareUpdateInfoSignal(text); }
    void emitDownloadProgress(int done) { emit downloadProgressSignal(done); }
    void emitDownloadNumber(int count) { emit downloadNumberSignal(count); }
    void emitMainExitSignal() { emit emitMainExit(); }
    void emitUpdate(const QString& folder) { emit emitUpdateSignal(folder); }
    void emitUnModeFirmware() { emit unModeFirmwareSignal(); }
    void emitCheckUpdateDownload() { emit checkUpdateDownloadSignal(); }

signals:
    void checkUpdateSignal();
    void checkFirmwareUpdateSignal();
    void checkUpdateSignalFirmware();
    void dowmloadTessarkUpdateFileSignal();
    void dowmloadFirmwareUpdateFileSignal();
    void TessarkUpdateSignal(bool found);
    void FirmwareUpdateSignal(bool found);
    void ErrorInfoSignal(QString message);
    void DeviceOfflineSignal();
    void setTessarkUpdateInfoSignal(QString text);
    void setFirmwareUpdateInfoSignal(QString text);
    void threadBusySignal(bool busy);
    void downloadProgressSignal(int done);
    void downloadNumberSignal(int count);
    void emitMainExit();
    void emitUpdateSignal(QString folder);
    void unModeFirmwareSignal();
    void checkUpdateDownloadSignal();

private:
    // The worker's thread reads and writes these while the GUI thread does.
    std::atomic<bool> m_busy{false};
    std::atomic<bool> m_online{false};
    std::atomic<bool> m_autoCheckUpdate{true};
    std::atomic<int> m_offeredUsbVersion{-1};
    mutable QMutex m_firmwareInfoLock;
    FirmwareInfo m_firmwareInfo;
    QPointer<onlineUpdate> m_updateWidget;
};

// The one update hub, created by the main window before the settings menu can be used.
extern overallVariate* g_overallVariate;
