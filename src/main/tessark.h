#pragma once
// The main window: frameless shell with its title buttons, tray icon, settings menu and tabs; finds,
// opens and loads the keyboards of the family and shows the open one.
#include "device/deviceconnection.h"
#include "device/upgradethreads.h"
#include "main/fullwait.h"
#include "main/pendinglayers.h"
#include "main/ui_tessark.h"
#include "widget/data.h"
#include "widget/qss.h"
#include "widget/runtime.h"
#include "widget/usbdata.h"

#include <QColor>
#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QMainWindow>
#include <QPoint>
#include <QRectF>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVector>
#include <functional>

class Color;
class Device;
class Macro;
class Setting;
class Shortcuts;
class KeyBtn;
class Menu;
class MenuTree;
class QAction;
class QFrame;
class QHBoxLayout;
class QKeyEvent;
class QLabel;
class QPushButton;
class TabLabel;

class Tessark : public QMainWindow {
    Q_OBJECT
    // The tests' one way in: hands the window a keyboard loaded beside it (tests/support).
    friend class WindowTestAccess;
public:
    static constexpr int ScanIntervalMs = 500;
    static constexpr int SwitchDelayMs = 1000;

    // mode is "None" or "/background", as qMain found it on the command line.
    Tessark(QWidget* parent, QString mode);
    ~Tessark() override;

    QString startArgument() const { return m_startArgument; }

    // The open keyboard's protocol client; null while none is open. Its tables are usable only
    // while deviceLoaded() (the loader writes them on the device thread until then).
    Device* device() const;
    bool deviceLoaded() const { return m_deviceLoaded; }
    bool initFinished() const { return m_initFinished; }
    Usb* usb() const { return m_connection ? m_connection->usb() : nullptr; }

    // HID interfaces of vid/pid that are the configured command interface.
    static QList<UsbData> listUsbDevices(ushort vid, ushort pid, int iface);

    void initButton();
    void initMenuTree();
    void initTrayIcon();
    void initSystemBoot();
    void initTabWidget();
    void initStaticLayoutArea();
    void createDisconPixBackground();
    void deleteDisconPixBackground();
    void setMinimizeButtonEnabled(bool enabled);
    void setMenuButtonEnabled(bool enabled);
    void setCloseButtonEnabled(bool enabled);
    void setTitleButtonsEnabled(bool enabled);

    void applyBoardFeatures(BoardInfo* record);
    void connectTabLabels(bool on);
    void setTabsDisabled(bool disabled);

    void openUSB();
    bool checkVersion();
    QString createCurDeviceFile();
    bool closeDevice();
    // Quitting: closes the keyboard and starts the quit timer, whose second tick tears down.
    void deinitTools();
    void quitTessark();
    // Releases the update hub at the next event loop turn; the quit sequence deletes it directly instead.
    void deleteOverallVariateLater();
    bool quitPending() const { return m_quitPending; }
    // The firmware upgrade's threads; a close stops and joins them before the transport closes.
    UpgradeThreads& upgradeThreads() { return m_upgrade; }

    // Read by tests and the screenshots.
    Ui_Tessark* form() const { return m_ui; }
    MenuTree* menuTree() const { return m_menuTree; }
    QSystemTrayIcon* trayIcon() const { return m_trayIcon; }
    Menu* trayMenu() const { return m_trayMenu; }
    QPushButton* closeButton() const { return m_closeButton; }
    QPushButton* minimizeButton() const { return m_minimizeButton; }
    QPushButton* menuButton() const { return m_menuButton; }
    QLabel* disconnectedPicture() const { return m_disconPix; }
    const QVector<TabLabel*>& tabList() const { return m_tabList; }
    TabLabel* macroTab() const { return m_tabMacro; }
    QRectF headerRect() const { return m_headerRect; }
    const QTimer& scanTimer() const { return m_scanDevice; }
    // Tests that hand the window a keyboard themselves keep the scans from opening it too.
    void stopScanning()
    {
        m_scanDevice.stop();
        m_MultiScanDevice.stop();
    }
    const QTimer& multiScanTimer() const { return m_MultiScanDevice; }
    const Data& data() const { return m_data; }
    bool switching() const { return m_switching; }
    // Single-shot, minimises the window when it fires; the window itself never starts it.
    QTimer& minimizeTimer() { return m_minimizeTimer; }

    // ---- pages
    // The shortcuts page: made by the constructor, lives as long as the window.
    void initShortcutsPage();
    void deleteShortcut();
    void removePage(QWidget* page);
    // The lighting page: made when its tab is chosen, deleted by every other tab, a close and quit.
    void createColor();
    void deleteColor();
    Color* colorPage() const { return m_ptrColor; }
    // The settings page: made on its tab (also for firmware mode), deleted by the others and at quit.
    void createSetting();
    void deleteSetting();
    void setSettingInformation(Device* dev);
    Setting* settingPage() const { return m_ptrSetting; }
    Shortcuts* shortcutsPage() const { return m_ptrShortcuts; }
    // The macro page: made on the first visit of its tab, hidden by the others, deleted at quit.
    void createMacro(QVector<KeyBtn*>* staticKeys);
    void deleteMacro();
    Macro* macroPage() const { return m_ptrMacro; }
    const QVector<QWidget*>& pageList() const { return m_pageList; }

signals:
    // Requests to the worker objects. The transport's open and the load currently travel through
    // the connection's signals of the same names, which it connects to the objects it creates.
    void emitStartReadDFUUsb();
    void emitFirmwareUpdateFinished();
    void emitWaitDfuOpen(bool open);
    void emitLoadDevInfo();
    void emitStartRead();
    void emitUsbOpen(ushort vid, ushort pid, int iface, QString path);
    void emitUsbRead();

public slots:
    // A downloaded firmware folder: the settings page upgrades with it.
    void updateSlot(QString folder);
    // The settings page left upgrade mode: tabs back, the staged download may go.
    void unModeUFSlot();
    void mainHide();
    // Restores, raises and activates the window (a second start of the tool calls it).
    void mainShow();
    void mainShowMinimized();
    // The tray icon turns white while its menu is open and black again when it closes.
    void trayMenuAboutToShowSlot();
    void trayMenuAboutToHideSlot();
    void deviceLoadInfoError();
    void scanDeviceSlot();
    void MultiscanDeviceSlot();
    void finishLoadDeviceSlot();
    void labelPageClickSlot(QString pageName);
    void menusSlot();
    void usbOpenSucceededSlot();
    void usbDisconnectSLot();
    // Ends the protocol client and its thread, waking a request it waits in; the transport stays.
    void deviceQuitThreadSlot();
    void activatedSysTrayIconSlot(QSystemTrayIcon::ActivationReason reason);
    void exitAppActionSlot();
    // The system asked the tool to stop (a signal, the log-out): nothing the keyboard notifies from now
    // on starts anything, whether or not Exit could run yet.
    void stopRequested();
    void switchUsbDevice(UsbData chosen);
    void CheckDfuUsbDisconnectSlot();
    void quitSlot();
    // Firmware mode: the tabs are unchecked and disabled until the upgrade ends.
    void modeDUFSlot();
    // While the macro page records, neither the title buttons nor the tabs act.
    void banWindowsButtonSlot(bool ban);
    void setDynamicUnsetCursorSlot();
    // The macro page's list changes, relayed to every key function row.
    void updateShortcutsComboboxAddItemSlot(QString name);
    void updateShortcutsComboboxRemoveItemSlot(int index);
    void updateShortcutsComboboxSetItemText(int index, QString name);

    // What the keyboard reports on its own, dispatched by its code. Once a stop has come, what would
    // start something (a key function, a layer to load) is dropped and counted instead.
    void onRecvNotifySlot(QByteArray report);
    // The result of a setting change (state 1); other states show nothing.
    void stateSlot(int state, int code);
    void nKeySlot(int n);
    void updateSSSlot(int ms);
    void updateUISlot(QString text);
    void SleepTimeSlot(int minutes);
    void BluetoothNameSlot(QString name);
    void FactoryResetSlot();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void retranslateUi(int language);
    void centreOnScreen();
    void wireConnection();
    // The first board record named like the open keyboard; -1 for none.
    int boardIndexOfDevice() const;
    void layoutTabs();
    // The listed tabs and the macro tab: all that the user can click.
    QVector<TabLabel*> clickableTabs() const;
    // Runs a setting request whose result the client reports through emitState; shows it here
    // when the client did not.
    uint32_t reportedSetting(Device* dev, const std::function<uint32_t()>& request);
    // A connection whose device thread would not stop is left alive and replaced.
    void abandonConnection();
    // Exit, a stop signal (taken or still waiting behind queued work) or the log-out has come.
    bool stopCame() const;
    // One line for the notifications dropped since the stop, once.
    void logDroppedAtStop();
    // The buttons of the selection layer of key maps, colour maps or lighting modes.
    const QVector<QPushButton*>& layerRow(PendingLayers::Kind kind) const;
    // Selects the layer a switch notification named, as a press of its button would.
    void selectNotifiedLayer(PendingLayers::Kind kind, int index);

    Ui_Tessark* m_ui = nullptr;
    QPoint m_windowPos;
    QPoint m_dragOffset;
    bool m_dragging = false;
    QRectF m_headerRect{0.0, 0.0, 0.0, 0.0};

    QPushButton* m_closeButton = nullptr;
    QPushButton* m_minimizeButton = nullptr;
    QPushButton* m_menuButton = nullptr;
    MenuTree* m_menuTree = nullptr; // no Qt parent: deleted by the window

    TabLabel* m_tabKey = nullptr;
    TabLabel* m_tabColor = nullptr;
    TabLabel* m_tabShortcuts = nullptr;
    TabLabel* m_tabMacro = nullptr; // not in the tab list
    TabLabel* m_tabSetting = nullptr;
    QVector<TabLabel*> m_tabList;   // KEY, COLOR, SHORTCUTS, SETTING
    QVector<QWidget*> m_pageList;
    Shortcuts* m_ptrShortcuts = nullptr;
    Macro* m_ptrMacro = nullptr;

    QLabel* m_disconPix = nullptr;

    // The shared request lock, both threads and the transport and client of the open keyboard.
    DeviceConnection* m_connection = nullptr;
    bool m_switching = false;
    bool m_deviceLoaded = false; // set when a load finished, cleared by the close

    QTimer m_scanDevice;
    QTimer m_MultiScanDevice;
    QTimer* m_hideTimer = nullptr;
    QTimer m_minimizeTimer;

    QSystemTrayIcon* m_trayIcon = nullptr;
    Menu* m_trayMenu = nullptr;
    QAction* m_restoreAction = nullptr;
    QAction* m_exitAction = nullptr;
    QAction* m_minimizeAction = nullptr;

    bool m_firstShow = true;
    bool m_exiting = false;
    // Stop signals the handler had taken when this window was made: one more means a stop has come,
    // even before its notifier is served behind the notifications queued ahead of it.
    int m_signalsAtStart = 0;
    bool m_stopRequested = false;
    int m_droppedAtStop = 0; // notifications that would have started something after the stop
    // Map and mode switches the keyboard reported, selected one pass of the event loop at a time.
    PendingLayers m_pendingLayers{[this](PendingLayers::Kind kind, int index) { selectNotifiedLayer(kind, index); }};
    QTimer* m_quitTimer = nullptr;
    bool m_quitPending = false;
    int m_quitTicks = 1; // the first tick of the quit timer passes without effect
    UpgradeThreads m_upgrade;
    QString m_startArgument;
    bool m_initFinished = false;
    QString m_appDir;
    Data m_data;
    bool m_shownOnce = false;
    RunTime m_runTime;
    Qss m_qss;

    // --- keyboard picture and static key palette ---
    // Position i of the picture, its key index and table index i of the keyboard are one number.
public:
    void createDynamicKeybtn();
    void drawDynamicLayout(int boardIndex);
    void connectDynamicKeybtn();
    bool setKeyColor(int btnId, QColor color);
    bool setKeyMode(int btnId, int mode);
    void applyDeviceKeyValues(int displayMode);
    void applyDeviceKeyColors();
    void clearKeySelections();
    void deleteDynamicKeybtn();
    // The palette from the static layout file, laid out; legends come with the layout version.
    void createStaticKeyBtn();
    void initStaticKeyBtn(QVector<KeyBtn*>* keys);
    void drawKeyCode();

    const QVector<KeyBtn*>& dynamicKeyBtns() const { return m_vDynamicKeyBtn; }
    const QVector<KeyBtn*>& staticKeyBtns() const { return m_vStaticKeyBtn; }
    KeyBtn* selectedKeyBtn() const { return m_pkeyBtn; }
    int dynamicBottom() const { return m_dynamicBottom; }

public slots:
    void clickKeyBtnSlot(KeyBtn* key);
    void keyCodeSlot(KeyBtn* key);
    void clickKeyBtnStaticSlot(KeyBtn* key);
    void layoutVersionAutoSlot();
    void layoutVersionWinSlot();
    void layoutVersionMacSlot();
    void unsetCursorKeySlot();

private:
    // The open keyboard's client once its load has finished, else null.
    Device* loadedDevice() const;
    void reloadStaticKeys(const QString& file);

    QVector<KeyBtn*> m_vDynamicKeyBtn;       // keyboard picture, layout file order
    QVector<KeyBtn*> m_vStaticKeyBtn;        // static key palette
    KeyBtn* m_pkeyBtn = nullptr;             // picture key selected for assignment
    KeyBtn* m_pkeyBtnHighlight = nullptr;    // picture key with the selected border
    KeyBtn* m_pStaticKeyBtn = nullptr;       // palette key selected
    KeyBtn* m_pStaticKeyBtnHighlight = nullptr;
    int m_dynamicBottom = 0;                 // below it go the selection layers
    // --- end keyboard picture and static key palette ---

    // --- selection layers ---
    // Rows of numbered buttons (globules) for the key maps, colour maps and lighting modes; button n
    // stands for map or mode n. The layout pointer tells whether a layer exists.
public:
    void createGlobuleKeyLayer();
    void createGlobuleColorLayer();
    void createGlobuleModeLayer();
    // Height of a layer that holds its globules in one row; more rows add a globule and a spacing each.
    static constexpr int GlobuleLayerHeight = 40;
    bool createGlobules(QFrame* frame, QHBoxLayout* layout, QVector<QPushButton*>* list, int n);
    void deleteGlobuleKeyLayer();
    void deleteGlobuleColorLayer();
    void deleteGlobuleModeLayer();
    void onLMMChange();
    void setDynamicKeyUnsetCursor();

    const QVector<QPushButton*>& globuleKeys() const { return m_vGlobuleKey; }
    const QVector<QPushButton*>& globuleColors() const { return m_vGlobuleColor; }
    const QVector<QPushButton*>& globuleModes() const { return m_vGlobuleMode; }
    QFrame* globuleKeyFrame() const { return m_globuleKeyFrame; }
    QFrame* globuleColorFrame() const { return m_globuleColorFrame; }
    QFrame* globuleModeFrame() const { return m_globuleModeFrame; }

public slots:
    void globuleKeyPressedSlot();
    void globuleColorPressedSlot();
    void globuleModePressedSlot();
    void setCursorColorSlot(QColor* colour);
    void setCursorModeSlot(int mode);
    void receiveRequestColorSlot(int keyIndex);
    void unsetCursorColorSlot();
    void unsetCursorModeSlot();
    void unsetCursorSlot();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Removes one layer: its buttons, layout and frame; the list is emptied.
    void deleteGlobuleLayer(QFrame** frame, QHBoxLayout** layout, QVector<QPushButton*>* list);
    // A colour-map or mode press: earlier buttons lose the pressed look; the current one changes
    // nothing; any other is pressed, `select` switches the keyboard, later buttons lose the look.
    void pressGlobule(const QVector<QPushButton*>& row, int pressed, int current, const char* unchangedLog,
                      const std::function<void()>& select);

    QVector<QPushButton*> m_vGlobuleKey;
    QVector<QPushButton*> m_vGlobuleColor;
    QVector<QPushButton*> m_vGlobuleMode;
    QFrame* m_globuleKeyFrame = nullptr;
    QFrame* m_globuleColorFrame = nullptr;
    QFrame* m_globuleModeFrame = nullptr;
    QHBoxLayout* m_hGlobuleKeyLayout = nullptr;
    QHBoxLayout* m_hGlobuleColorLayout = nullptr;
    QHBoxLayout* m_hGlobuleModeLayout = nullptr;
    // The lighting page; null while it is not shown (it does not exist yet in this tool).
    Color* m_ptrColor = nullptr;
    Setting* m_ptrSetting = nullptr;
    // --- end selection layers ---

    // ---- firmware upgrade
    // Up to three images from one folder, in kind order: the Bluetooth module's application (1) and
    // SoftDevice (2) through the open keyboard and a thread reading its acknowledgements, then the USB
    // controller's application (3) to the USB bootloader the keyboard restarts into.
public:
    enum ImageKind { BtAppImage = 1, BtSdImage = 2, UsbAppImage = 3 };
    static constexpr qint64 MaxImageBytes = 16 * 1024 * 1024;
    static constexpr qint64 MinSoftDeviceBytes = 4096; // the module keeps the first 4096 bytes
    static constexpr int DfuWaitIntervalMs = 1000;
    static constexpr int DfuOpenAttempts = 19;
    // From the run command to the keyboard back again: its restart and enumeration, and mostly its load.
    static constexpr int RestartWaitMs = 20000;
    // A keyboard back within that wait finishes its load whatever the wait's clock says; this bounds
    // the time after the wait that its load (or the loads of the keyboards that came with it) may take.
    static constexpr int RestartLoadGraceMs = 40000;
    // Restarting: the image is in, the scans look for the keyboard it should start.
    enum class UpgradePhase { Idle, Bluetooth, UsbWait, UsbUpload, Restarting };

    // The image kind a file qualifies as, 0 for none.
    static int firmwareImageKind(const QString& fileName);
    // The newest qualifying file of each kind in folder, by kind.
    static QMap<int, QString> chooseFirmwareImages(const QString& folder);
    // Why the image cannot be sent; empty when it can.
    static QString firmwareImageProblem(int kind, const QString& path);

    void enterFirmwareModeUi();
    void enterFirmwareUpdateUi();
    void DualmodeUpgrade(QString path);
    void readUpgradeFile(QString path);
    void quitBtUpgrade();
    void updateDFU_Key(QString path);
    // Makes the bootloader's transport when there is none (no request lock: only the upload uses it).
    bool newDFUUsb(Usb*& usb);
    bool openDFUDevice(Usb* usb);
    bool readBinFileBuf(QString path);
    bool readBtBinFileBuf(QString path);
    void disconnectDfuSignals();
    // Not called by the window itself: the bootloader's upgrade screen, and the start of the first image.
    void createDfuUiSlot();
    void updateBtFile();
    // Uploads through the keyboard's Device, one request per frame; the module must be in its bootloader.
    uint32_t updateBtSync(const QString& path, bool softDevice);
    uint32_t updateBtAppSync(QString path);
    uint32_t updateBtSdSync(QString path);

    UpgradePhase upgradePhase() const { return m_upgradePhase; }
    const QTimer& dfuWaitTimer() const { return m_waitOpenDfuTimer; }
    // Tests: the wait-for-bootloader timer's interval for the next USB image.
    void setDfuWaitIntervalForTest(int ms) { m_dfuWaitIntervalMs = ms; }
    // Tests: how long the next upgrade waits for the keyboard after the run command.
    void setRestartWaitForTest(int ms) { m_restartWaitMs = ms; }
    // Tests: how long after that wait a keyboard that came back within it may still take to load.
    void setRestartLoadGraceForTest(int ms) { m_restartGraceMs = ms; }
    const FullWait& restartWaitTimer() const { return m_restartWaitTimer; }
    // The keyboard's firmware version an upgrade must end with (the online road knows it); -1: not known.
    void setExpectedFirmwareVersion(int version) { m_expectedVersion = version; }
    const QMap<int, QString>& firmwareImages() const { return m_mapFilePath; }
    void setFirmwareImagesForTest(const QMap<int, QString>& images) { m_mapFilePath = images; }
    Usb* dfuUsb() const { return m_dfuUsb; }

public slots:
    void updateDFUSlot(QString folder);
    void waitOpenDfuDeviceSolt();
    void updateDfuFinishedSlot();
    void updateErrorStopSlot();
    void afterDFUSlot();
    void DFUErrorCode(int step, int code);

private slots:
    // The upgrade thread: an image was sent whole, its read failed, it finished.
    void btImageFinishedSlot();
    void btUpgradeStopSlot();
    void btThreadFinishedSlot();

private:
    // The open keyboard's transport while its load has finished; null otherwise.
    Usb* keyboardUsb() const;
    void startFirstImage();
    // Ends an upgrade refused before anything was sent; the box has title, "ErrorCode" when empty.
    void refuseUpgrade(const QString& problems, const QString& title = QString());
    // Tells the user the upgrade failed and how to try again: the last step of a failed end.
    void tellUpgradeFailed();
    // The keyboard did not take the switch to its bootloader: the upgrade ends, the keyboard stays open.
    void failWithKeyboardKept();
    // The failure box, with the scans held until it is closed.
    void showUpgradeFailure(const QString& text);
    // Starts the scans an upgrade stopped, unless quitting or another upgrade owns them.
    void resumeScans();
    // The end of the USB road without the scans: the firmware thread, its Device and the transport go.
    void releaseUsbRoad();
    // The settings page's keyboard controls as the open keyboard has them; off without one.
    void restoreSettingControls();
    // The Bluetooth road's end; not succeeded when an image could not be sent.
    void endBtUpgrade(bool succeeded);
    // Sends the erase frame of the thread's image, chosen by the file name.
    void eraseForImage(const QString& path);
    // Runs a Bluetooth step of the keyboard's Device; reported: it raised UpdateError itself.
    uint32_t btStep(const std::function<uint32_t(Device*)>& step, bool* reported);
    // The image is in: the window says the keyboard restarts, and the scans look for it.
    void waitForRestartedKeyboard();
    // The wait's clock ran out: a failed upgrade, unless a keyboard that came back within it still loads.
    void restartWaitEndedSlot();
    // The time a keyboard back within the wait had for its load ran out.
    void restartGraceEndedSlot();
    // The upgraded keyboard did not come back, or did not load: the failure box. Its result is told
    // still when it loads later.
    void failRestartWait();
    bool restartBackMayReturn() const;
    // Keyboards of the family on the bus that may be the upgraded one: none beside it as it left, nor
    // any found since to be another one.
    QStringList restartCandidates();
    // A keyboard finished its load: the upgrade's result where it is the upgraded one. False when it
    // is another one loaded while the upgraded one restarts: that one is closed again, so that the
    // upgraded one can be opened and judged.
    bool takeLoadedKeyboard(Device* dev);
    // A keyboard loaded while the upgrade waited for it: whether it took the image, and the user told
    // (queued, after its load) when not.
    void judgeRestartedKeyboard(int version);
    // The upgraded keyboard loaded after the wait for it failed: what it reports, told.
    void tellLateKeyboard(int version, int expected, int before);
    // Whether dev is the keyboard being upgraded, as far as known.
    bool isUpgradedKeyboard(const Device* dev) const;
    void tellSameVersion(int version);
    void tellWrongVersion(int version, int expected);
    // Exit and the system's close: no later tick may start an upload under the teardown.
    void stopUpgradeForExit();
    void releaseDfuUsb();

    QMap<int, QString> m_mapFilePath;
    QByteArray m_dfuFileBuf;   // the USB image
    QByteArray m_btDfuFileBuf; // the Bluetooth image the thread sends
    uint32_t m_sendByte = 0;   // file sizes of the images started so far
    QElapsedTimer m_upgradeClock;
    int m_dfuOpenCount = 0;    // failed attempts to open the bootloader in a row
    Usb* m_dfuUsb = nullptr;   // the bootloader's transport, the window's own
    QTimer m_waitOpenDfuTimer;
    int m_dfuWaitIntervalMs = DfuWaitIntervalMs;
    UpgradePhase m_upgradePhase = UpgradePhase::Idle;
    // Both decide the verdict: each runs its whole length by the clock, however early a timer fires.
    FullWait m_restartWaitTimer;
    int m_restartWaitMs = RestartWaitMs;
    FullWait m_restartGraceTimer;
    int m_restartGraceMs = RestartLoadGraceMs;
    bool m_restartOvertime = false; // the clock ran out while a keyboard back within it loads
    QStringList m_restartBackPaths; // the keyboards back as the clock ran out: the extra time is theirs
    bool m_restartBackLeft = false; // one of them left during the extra time and is not back yet
    bool m_lateUpgradeWatch = false; // the wait failed: the upgraded keyboard's next load is told
    int m_versionBefore = -1;   // the open keyboard's, as the upgrade started; -1 without one
    QByteArray m_upgradedId;    // its device id; empty without one
    QStringList m_pathsBeside;  // the other keyboards: listed as it left for its bootloader, or loaded since
    int m_expectedVersion = -1; // the image's, where known; taken by the next upgrade
    int m_upgradeExpects = -1;  // the running upgrade's
    QMetaObject::Connection m_deviceErrorConnection; // the keyboard Device's UpdateError
    // ---- end firmware upgrade
};
