#pragma once
// The settings tab: product information, sleep time, Bluetooth name, the firmware upgrade panel and
// the way into the layout editor. The page never talks to the keyboard: what the user changes leaves
// as a signal, what it shows is pushed in by the main window.
#include "widget/cslider.h"
#include "widget/qss.h"

#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>

class BuildingBlock;
class CheckUSB;
class Device;
class Firmware;
class QLabel;
class QPaintEvent;
class Ui_Setting;

class Setting : public QWidget {
    Q_OBJECT
public:
    // showBuildingBlock: the open keyboard's board record offers the layout editor (false without one).
    Setting(QWidget* parent, Device* device, bool showBuildingBlock);
    ~Setting() override;

    // Sizes the three panels to width and stacks them, centred on the page.
    void setPageSize(int width, int height);
    void setProductInfo(const QString& name, const QString& firmwareVersion, const QString& hardwareVersion,
                        const QString& releaseDate);
    void setDeviceControlsEnabled(bool on);
    // The name as the keyboard pads it: NUL characters are dropped.
    void setBluetoothName(const QString& name);
    // The keyboard's current and last non-zero sleep time; 0 ms shows automatic sleep off.
    void setSleepTime(uint32_t ms, uint32_t lastMs);
    // "None" everywhere and every device control off; an open layout editor goes.
    void clearInformation();
    // Called just before the page is deleted.
    void clearDevice();
    void setBuildingBlockButtonVisible(bool visible);
    // Upgrade mode watching that device; 0, 0 watches the keyboard's USB bootloader.
    void intoUpdate(uint16_t vid, uint16_t pid);
    void updateFinished();
    void updateErrorStop();
    // The keyboard came back, but nothing shows that the image took.
    void updateUnconfirmed();
    // The image is in; the ring says the keyboard restarts until one of the ends above.
    void showKeyboardRestarting();

    // What the page holds, for the main window's checks and for tests.
    Firmware* firmware() const { return m_firmware; }
    CheckUSB* checkUSB() const { return m_checkUSB; }
    BuildingBlock* buildingBlock() const { return m_buildingBlock; }
    CSlider* sleepSlider() const { return m_sleepSlider; }
    QLabel* overlayLabel() const { return m_overlayLabel; }
    bool isNormalLayout() const { return m_normalLayout; }
    int sleepMinutes() const { return m_sleepMinutes; }

    // The poller's interval while upgrade mode watches a device.
    static constexpr int CheckUsbIntervalMs = 500;

signals:
    // Declared for the main window's connections; the page itself never raises them.
    void emitUpdateSS(int);
    void emitUpdateUI(QString);
    // The folder of the image files, right after emitModeDUF.
    void emitUpdateFU(QString folder);
    void emitNKey(int);
    void emitModeDUF();
    void emitNuModeDUF();
    // Relayed from the main window to the firmware panel's wait animation.
    void emitWaitDfuOpen(bool on);
    void emitBanWindowsButton(bool);
    void emitStartScanDevice();
    // Minutes; 0 switches automatic sleep off.
    void emitSleepTime(int minutes);
    void emitBluetoothName(QString name);
    void emitFactoryReset();

public slots:
    void sliderReleasedSlot();
    void Enabled_AutoSleepSlot(bool checked);
    void BluetoothNameSlot();
    void buildingBlockButtonToggledSlot();
    void buildingBlockCloseSlot();
    void dfuModeSlot();
    void updateSureSlot(const QString& folder);
    // Bytes of the current image sent so far.
    void UpdateProgressSlot(int bytes);
    void checkUSBDisconnectSlot();
    void cancelSlot();
    void retranslate(int language);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void setDownloadButtonEnabled(bool on);
    void createSleepSlider(int pointSize);
    void setFonts();
    void createCheckUSB(uint16_t vid, uint16_t pid);
    void deleteCheckUSB();
    void createBackgroundImage();
    void deleteBackgroundImage();
    void setOverlayMode(bool normal);
    void outlineFrame(const QWidget* frame, int roundness, int count);

    QLabel* m_overlayLabel = nullptr; // upgrade mode only
    CheckUSB* m_checkUSB = nullptr;   // while upgrade mode watches a device
    QPointer<Device> m_ptrDevice;     // not owned; only handed to the layout editor
    BuildingBlock* m_buildingBlock = nullptr;
    Firmware* m_firmware = nullptr;
    bool m_normalLayout = true;
    Ui_Setting* ui = nullptr;
    QString m_appDir;
    Qss m_qss;

public:
    // Written directly by the main window as an upgrade starts and moves on to each further image.
    int m_progressTotal = 0;  // bytes of all images of the running upgrade
    int m_progressOffset = 0; // bytes of the images before the current one

private:
    int m_sleepMinutes = 0;
    QPointer<CSlider> m_sleepSlider;
};
