#pragma once
// The settings menu of the title bar: start with the system, update, layout version, keyboards,
// About, language, Help and Exit; keeps config/menutree.xml.
#include "widget/data.h"
#include "widget/usbdata.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPoint>

class Menu;
class QAction;
class QWidget;

class MenuTree : public QObject {
    Q_OBJECT
public:
    // parent (the main window) owns the menu's actions; the MenuTree itself has no Qt parent.
    explicit MenuTree(QWidget* parent);
    ~MenuTree() override;

    bool isAutoStart() const;
    // Re-announces the checked layout version (MacOS before Windows before Automatic).
    void emitLayoutVersion();

    QMap<int, UsbData>& devices() { return m_devices; }
    void addDevice(UsbData d);
    void removeDevice(UsbData d);
    void selectDevice(UsbData d);
    void clearDevices();
    void setDevicesEnabled(bool enabled);

    void openWeb(const QString& url);

    // Rewrites (with the current executable) or removes the start-with-the-system entry; false (logged)
    // when the change could not be made, with *reason, when given, saying why for the user.
    static bool setAutoStart(bool on, QString* reason = nullptr);

    // Tests and the screenshot reach the menu through these.
    Menu* topMenu() const { return m_top; }
    Menu* usbMenu() const { return m_usbMenu; }

signals:
    void emitMainExit();
    void emitLayoutVersionMac();
    void emitLayoutVersionWin();
    void emitLayoutVersionAuto();
    void ActionTriggered(UsbData d);

public slots:
    int save();
    void initMenuSlot();
    void showMenuTreeSlot(QPoint pos);
    void powerBootActionSlot(bool on);
    void aboutSlot();
    void helpSlot();
    void checkForUpdateSlot(bool);
    void layoutVersionMac(bool checked);
    void layoutVersionWin(bool checked);
    void layoutVersionAuto(bool checked);
    void layoutLanguageChinese(bool checked);
    void layoutLanguageEnglish(bool checked);

private:
    // Writes the menu's choices to menutree.xml; false when it could not.
    bool writeFile() const;
    int nextDeviceId() const;
    void retranslate(int language);
    void checkOnly(QAction* chosen);
    // Checks chosen and unchecks the two others; false when chosen was unchecked (a click on the
    // checked entry), which is undone.
    bool chooseExclusive(QAction* chosen, bool checked, QAction* other1, QAction* other2);

    Menu* m_top = nullptr;
    MenuTreeData m_data;
    Menu* m_settingMenu = nullptr;
    QAction* m_checkForUpdate = nullptr;
    Menu* m_layoutMenu = nullptr;
    QAction* m_about = nullptr;
    QAction* m_help = nullptr;
    QAction* m_exit = nullptr;
    QAction* m_powerBoot = nullptr;
    QAction* m_macOS = nullptr;
    QAction* m_windows = nullptr;
    QAction* m_automatic = nullptr;
    QWidget* m_parent = nullptr;
    QAction* m_chinese = nullptr;
    QAction* m_english = nullptr;
    Menu* m_usbMenu = nullptr;
    QMap<int, UsbData> m_devices;
    // Entry k-1 is +k while number k is listed and -k once it was freed.
    QList<int> m_deviceIds;
    Menu* m_languageMenu = nullptr;
};
