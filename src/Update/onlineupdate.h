#pragma once
// The update dialog: shows check results and download progress, keeps the automatic-check choice, and
// owns the update worker and its thread.
#include <QPointer>
#include <QString>
#include <QThread>
#include <QWidget>

#include <memory>

class DownloadFile;
class QDomDocument;
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
    // Null once the worker's thread has ended.
    DownloadFile* worker() const;
    QThread* workerThread() { return m_thread; }

    // How long teardown waits for the worker's thread.
    static constexpr int WorkerStopWaitMs = 3000;
    // The tip timer's period while a check runs.
    static constexpr int TipIntervalMs = 300;
    // The firmware frame's place in the form, below the tool frame.
    static constexpr int FirmwareFrameY = 250;
    static constexpr int InterfacePointSize = 9;
    // The tip's width in the form, where the row leaves room for it.
    static constexpr int TipMinimumWidth = 240;

    // Texts of the window title, the check box, the check button and the two upgrade buttons.
    void setLanguage(int type);
    // Starts the tip timer and shows the one-dot checking text; the dot counter runs on.
    void startCheckTip();
    // Writes config/AutoUpdate.xml with `value` as the Auto attribute (the hub's flag follows `value`
    // first); false when the file could not be written, which then keeps its old content.
    bool writeAutoUpdateXml(const QString& path, const QString& value);
    // Reads the automatic-check choice into the hub and the check box; false (logged) when the file
    // cannot be read.
    bool parseXmlAutoUpdateFile(const QString& path);
    // Null when the file cannot be opened or does not parse (logged).
    std::unique_ptr<QDomDocument> openXMLDomDocument(const QString& path);

    QTimer* tipTimer() const { return m_tipTimer; }
    // The checking text's dot counter, shared by the whole process: 0, 1 or 2 (1 at start).
    static int dotCounter();

public slots:
    void on_pushButton_TessarkUpdate_clicked();
    void on_pushButton_FirmwareUpdate_clicked();
    void on_pushButton_checkUpdate_clicked();
    void TessarkWidgetShow(bool found);
    void FirmeareWidgetShow(bool found);
    void on_checkBox_AutoCheckUpdate_stateChanged(int state);
    void ErrorInfoSlot(QString message);
    void DeviceOfflineSlot();
    void checkUpdateSlot();
    void checkFirmwareUpdateSlot();
    void setTessarkUpdateInfoSlot(QString text);
    void setFirmwareUpdateInfoSlot(QString text);
    void threadBusySignalSolt(bool busy);
    void setDownloadProgress(int value);
    void setDownloadNumber(int count);
    void UpdateTipSlot();

private:
    // The nine queued connections between the hub, this dialog and the worker.
    void connectSignals();
    // The progress ball the worker's download mode moves: the tool's, the firmware's, or none.
    WaterProgressbar* progressBallOfMode() const;
    // Gives the tip what the check row leaves of its frame, at most its 240 pixels.
    void fitTipLabel();

    Ui_onlineUpdate* m_ui = nullptr;
    // Deletes itself on its own thread once that thread's loop ends.
    QPointer<DownloadFile> m_worker;
    QString m_settingsPath;
    // Held by pointer: when the worker does not stop within WorkerStopWaitMs, the running thread and
    // the worker are leaked on purpose rather than destroyed under it.
    QThread* m_thread = nullptr;
    WaterProgressbar* m_toolProgress = nullptr;
    WaterProgressbar* m_firmwareProgress = nullptr;
    QTimer* m_tipTimer = nullptr;
    // Set while the check box shows what the file holds: that rewrite is no choice of the user's.
    bool m_showingFile = false;
};
