#pragma once
// The online update's shared state: the tool's version from about.xml and the update dialog it shows.
#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

class overallVariate : public QObject {
    Q_OBJECT
public:
    explicit overallVariate(QObject* parent = nullptr);

    // The last space-separated word of the firmware line of config/about.xml; empty when the file
    // cannot be opened or parsed.
    static QString getTessarkVersions();

    // Restores, activates and shows the update dialog; only logs while none is held.
    void showUpdateWidget();

    QWidget* updateWidget() const { return m_updateWidget; }
    // The update dialog, once the online update creates it; the caller keeps ownership.
    void setUpdateWidget(QWidget* widget) { m_updateWidget = widget; }

    // Until the online update exists: no dialog, automatic checking off, no network.
    void createUpdateWidget() {}
    bool getAutoCheckUpdate() const { return m_autoCheckUpdate; }
    void emitCheckUpdate();
    // The settings page left firmware upgrade mode.
    void emitUnModeFirmware() { emit unModeFirmwareSignal(); }

    // Whether a keyboard is connected; going offline is announced.
    void setOnlinState(bool online);
    bool onlineState() const { return m_online; }
    // The connected keyboard's data, as the firmware update check will need it.
    void setFirmwareInfo(const QString& modelDir, const QString& usbAppVersion, int modelType,
                         const QString& btAppVersion, const QString& btSdVersion, const QString& fifth);
    void clearFirmwareInfo();

    struct FirmwareInfo {
        QString modelDir;
        QString usbAppVersion;
        int modelType = 0;
        QString btAppVersion;
        QString btSdVersion;
        QString fifth;
    };
    const FirmwareInfo& firmwareInfo() const { return m_firmwareInfo; }

signals:
    void emitMainExit();
    void emitUpdateSignal(QString folder);
    void unModeFirmwareSignal();
    void emitDeviceOffline();

private:
    QPointer<QWidget> m_updateWidget;
    bool m_autoCheckUpdate = false;
    bool m_online = false;
    FirmwareInfo m_firmwareInfo;
};

// The one update state, created by the main window before the settings menu can be used.
extern overallVariate* g_overallVariate;
