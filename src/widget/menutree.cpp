#include "menutree.h"

#include "widget/filenotice.h"
#include "widget/smallxml.h"

#include "Update/overallvariate.h"
#include "platform/autostart.h"
#include "setting/Language.h"
#include "widget/aboutdialog.h"
#include "widget/helpdialog.h"
#include "widget/menu.h"
#include "widget/qss.h"
#include "widget/safeurl.h"
#include "widget/unreadablefile.h"

#include <QAction>
#include <QDebug>
#include <QDomDocument>
#include <QFileInfo>
#include <QWidget>

namespace {

const QColor Highlight(QStringLiteral("#46e6b7"));

} // namespace

MenuTree::MenuTree(QWidget* parent) : QObject(nullptr), m_parent(parent)
{
    initMenuSlot();
    const QString file = appDirPath() + QStringLiteral("/config/menutree.xml");
    bool flagsRead = true;
    const bool unreadable =
        (!Data::parseMenutreeXML(QStringLiteral("menutree.xml"), &m_data, &flagsRead) || !flagsRead)
        && QFileInfo::exists(file);
    if (unreadable) {
        // The file no longer says whether the tool starts with the system (a flag that is not a number
        // says nothing either): the entry stays as the user left it and the check mark shows it, so the
        // next save does not switch it off either.
        qWarning() << file << "does not read; start with the system left as it is";
        m_data.autoStart = isStartWithSystem();
    }

    // Applied before the connections below, so restoring the state triggers nothing. The entry is
    // brought in line at every start so that it follows the executable when the tool moves; what stands
    // in the way (a link the user put there) is only logged, as the user changed nothing.
    m_powerBoot->setChecked(m_data.autoStart);
    if (!unreadable)
        setAutoStart(m_data.autoStart);
    m_macOS->setChecked(m_data.MacOS);
    m_windows->setChecked(m_data.Windows);
    m_automatic->setChecked(m_data.Automatic);
    // Once kept aside, the file is replaced by what the menu now shows, so the next start reads that and
    // does not tell it again.
    if (unreadable)
        keepAndTellUnreadable(file, [this] { return writeFile(); });

    connect(m_powerBoot, &QAction::triggered, this, &MenuTree::powerBootActionSlot);
    connect(m_macOS, &QAction::triggered, this, &MenuTree::layoutVersionMac);
    connect(m_windows, &QAction::triggered, this, &MenuTree::layoutVersionWin);
    connect(m_automatic, &QAction::triggered, this, &MenuTree::layoutVersionAuto);
    connect(m_chinese, &QAction::triggered, this, &MenuTree::layoutLanguageChinese);
    connect(m_english, &QAction::triggered, this, &MenuTree::layoutLanguageEnglish);

    clearDevices();
}

MenuTree::~MenuTree()
{
    delete m_top; // the submenus are its children; the actions belong to the parent widget
}

void MenuTree::initMenuSlot()
{
    // Without a parent widget the actions fall to this object, so they are still released.
    QObject* owner = m_parent ? static_cast<QObject*>(m_parent) : this;
    auto checkable = [owner] {
        auto* a = new QAction(owner);
        a->setCheckable(true);
        return a;
    };

    m_top = new Menu;
    m_settingMenu = new Menu(m_top);
    m_layoutMenu = new Menu(m_top);
    m_languageMenu = new Menu(m_top);
    m_usbMenu = new Menu(m_top);
    Qss qss;
    qss.setMenuStyle(m_layoutMenu, Highlight, false);
    qss.setMenuStyle(m_languageMenu, Highlight, false);
    qss.setMenuStyle(m_usbMenu, Highlight, false);

    m_powerBoot = checkable();
    m_checkForUpdate = new QAction(this);
    m_macOS = checkable();
    m_windows = checkable();
    m_automatic = checkable();
    m_about = new QAction(owner);
    m_chinese = checkable();
    m_english = checkable();
    m_help = new QAction(owner);
    m_exit = new QAction(owner);

    m_settingMenu->addAction(m_powerBoot);
    m_layoutMenu->addAction(m_macOS);
    m_layoutMenu->addAction(m_windows);
    m_layoutMenu->addAction(m_automatic);
    m_languageMenu->addAction(m_chinese);
    m_languageMenu->addAction(m_english);
    m_top->addMenu(m_settingMenu);
    m_top->addAction(m_checkForUpdate);
    m_top->addMenu(m_layoutMenu);
    m_top->addMenu(m_usbMenu);
    m_top->addAction(m_about);
    m_top->addMenu(m_languageMenu);
    m_top->addAction(m_help);
    m_top->addAction(m_exit);

    connect(m_about, &QAction::triggered, this, &MenuTree::aboutSlot);
    connect(m_checkForUpdate, &QAction::triggered, this, &MenuTree::checkForUpdateSlot);
    connect(m_help, &QAction::triggered, this, &MenuTree::helpSlot);
    connect(m_exit, &QAction::triggered, this, &MenuTree::emitMainExit);
    // Connected before the check-mark slots, so a click changes the language first and then the marks.
    connect(m_chinese, &QAction::triggered, this, [] {
        if (g_language)
            g_language->setLanguageType(0);
    });
    connect(m_english, &QAction::triggered, this, [] {
        if (g_language)
            g_language->setLanguageType(1);
    });

    const int language = currentLanguageType();
    m_chinese->setChecked(language == 0);
    m_english->setChecked(language != 0);

    if (g_language)
        connect(g_language, &Language::LanguageChange, this, [this](int l) { retranslate(l); });
    retranslate(language);
}

void MenuTree::retranslate(int language)
{
    const bool en = language != 0;
    m_settingMenu->setTitle(en ? QStringLiteral("Setting") : QStringLiteral("设置"));
    m_powerBoot->setText(en ? QStringLiteral("Power Boot") : QStringLiteral("开机启动"));
    m_checkForUpdate->setText(en ? QStringLiteral("Check for update") : QStringLiteral("检查更新"));
    m_layoutMenu->setTitle(en ? QStringLiteral("Layout version") : QStringLiteral("布局版本"));
    m_macOS->setText(QStringLiteral("MacOS"));
    m_windows->setText(QStringLiteral("Windows System"));
    m_automatic->setText(en ? QStringLiteral("Automatic") : QStringLiteral("自动"));
    m_usbMenu->setTitle(en ? QStringLiteral("USB Device") : QStringLiteral("USB 设备"));
    m_about->setText(en ? QStringLiteral("About tessark") : QStringLiteral("关于 tessark"));
    m_languageMenu->setTitle(QStringLiteral("语言(Language)"));
    m_chinese->setText(QStringLiteral("中文"));
    m_english->setText(QStringLiteral("English"));
    m_help->setText(en ? QStringLiteral("Help") : QStringLiteral("帮助"));
    m_exit->setText(en ? QStringLiteral("Exit") : QStringLiteral("退出"));
}

bool MenuTree::isAutoStart() const
{
    const bool on = m_powerBoot->isChecked();
    qDebug() << "is checked to the : " << on;
    return on;
}

void MenuTree::emitLayoutVersion()
{
    if (m_macOS->isChecked())
        emit emitLayoutVersionMac();
    else if (m_windows->isChecked())
        emit emitLayoutVersionWin();
    else if (m_automatic->isChecked())
        emit emitLayoutVersionAuto();
}

void MenuTree::showMenuTreeSlot(QPoint pos)
{
    m_top->raise();
    m_top->exec(QPoint(pos.x(), pos.y() + 35));
}

bool MenuTree::setAutoStart(bool on, QString* reason)
{
    bool link = false;
    QString error;
    if (setStartWithSystem(on, &link, &error))
        return true;
    const QString place = startWithSystemPlace();
    if (link)
        qWarning().noquote() << "start with the system: a link stands at" << place << "- left alone";
    else
        qWarning().noquote() << "start with the system: the entry could not be" << (on ? "written:" : "removed:")
                             << place << error;
    if (reason) {
        // The link stays as the user put it, and nothing is written through it.
        const bool zh = chineseInterface();
        *reason = !link && !error.isEmpty() ? error
                  : !link          ? QStringLiteral("the entry could not be changed")
                  : zh             ? QStringLiteral("该位置是一个链接，链接及其指向的内容均保持不变")
                                   : QStringLiteral("a link stands at its name; the link and what it points at are "
                                                    "left as they are");
    }
    return false;
}

void MenuTree::powerBootActionSlot(bool on)
{
    qDebug() << __LINE__ << "set power boot " << on;
    // The check mark stays as the user set it; they learn why the system will not follow it. The start
    // only logs, as the user changed nothing then.
    QString reason;
    if (!setAutoStart(on, &reason))
        filenotice::saveFailedBecause(startWithSystemPlace(), reason);
    save();
}

void MenuTree::aboutSlot()
{
    // The dialog deletes itself however it is closed; the menu never does.
    auto* dialog = new AboutDialog;
    dialog->exec();
}

void MenuTree::helpSlot()
{
    auto* dialog = new HelpDialog;
    dialog->exec();
}

void MenuTree::checkForUpdateSlot(bool)
{
    if (g_overallVariate)
        g_overallVariate->showUpdateWidget();
}

bool MenuTree::chooseExclusive(QAction* chosen, bool checked, QAction* other1, QAction* other2)
{
    if (!checked) {
        chosen->setChecked(true);
        return false;
    }
    other1->setChecked(false);
    other2->setChecked(false);
    return true;
}

void MenuTree::layoutVersionMac(bool checked)
{
    if (!chooseExclusive(m_macOS, checked, m_automatic, m_windows))
        return;
    save();
    emit emitLayoutVersionMac();
}

void MenuTree::layoutVersionWin(bool checked)
{
    if (!chooseExclusive(m_windows, checked, m_automatic, m_macOS))
        return;
    save();
    emit emitLayoutVersionWin();
}

void MenuTree::layoutVersionAuto(bool checked)
{
    if (!chooseExclusive(m_automatic, checked, m_macOS, m_windows))
        return;
    save();
    emit emitLayoutVersionAuto();
}

void MenuTree::layoutLanguageChinese(bool checked)
{
    if (checked)
        m_english->setChecked(false);
    else
        m_chinese->setChecked(true);
}

void MenuTree::layoutLanguageEnglish(bool checked)
{
    if (checked)
        m_chinese->setChecked(false);
    else
        m_english->setChecked(true);
}

int MenuTree::save()
{
    if (!writeFile()) {
        // Every caller is a choice the user just made in the menu: they learn it was not kept.
        filenotice::saveFailed(appDirPath() + QStringLiteral("/config/menutree.xml"),
                               QStringLiteral("the menu settings could not be written"));
        return -2;
    }
    qDebug() << __LINE__ << "menutree xml save.";
    return 0;
}

bool MenuTree::writeFile() const
{
    auto flag = [](const QAction* a) { return a->isChecked() ? QStringLiteral("1") : QStringLiteral("0"); };

    QDomElement root;
    QDomDocument doc = newCommandDocument(QStringLiteral("version = '1.0' encoding = 'UTF-8'"), &root);
    QDomElement setting = doc.createElement(QStringLiteral("setting"));
    setting.setAttribute(QStringLiteral("auto_start"), flag(m_powerBoot));
    root.appendChild(setting);
    QDomElement layout = doc.createElement(QStringLiteral("layout_version"));
    layout.setAttribute(QStringLiteral("MacOS"), flag(m_macOS));
    layout.setAttribute(QStringLiteral("Windows"), flag(m_windows));
    layout.setAttribute(QStringLiteral("Automatic"), flag(m_automatic));
    root.appendChild(layout);
    // The two addresses go back exactly as they were read; the menu neither shows nor changes them.
    QDomElement download = doc.createElement(QStringLiteral("webDownload"));
    download.setAttribute(QStringLiteral("web"), m_data.webDownload);
    root.appendChild(download);
    QDomElement help = doc.createElement(QStringLiteral("webHelp"));
    help.setAttribute(QStringLiteral("web"), m_data.webHelp);
    root.appendChild(help);

    return saveSmallXml(appDirPath() + QStringLiteral("/config/menutree.xml"), doc);
}

int MenuTree::nextDeviceId() const
{
    if (m_deviceIds.isEmpty())
        return 1;
    for (int id : m_deviceIds)
        if (id < 0)
            return -id; // the smallest freed number
    return m_deviceIds.last() + 1;
}

void MenuTree::addDevice(UsbData d)
{
    const int n = nextDeviceId();
    auto* action = new QAction(m_parent ? static_cast<QObject*>(m_parent) : this);
    action->setCheckable(true);
    action->setText((currentLanguageType() != 0 ? QStringLiteral("Device ") : QStringLiteral("设备")) + QString::number(n));
    d.action = action;
    d.number = n;
    if (m_deviceIds.size() < n)
        m_deviceIds.append(n);
    else
        m_deviceIds[n - 1] = n;
    m_devices.insert(n, d);

    // Keep the submenu in ascending number order.
    QAction* before = nullptr;
    for (auto it = m_devices.upperBound(n); it != m_devices.end() && it.key() < 9999; ++it) {
        if (it.value().action) {
            before = it.value().action;
            break;
        }
    }
    if (before)
        m_usbMenu->insertAction(before, action);
    else
        m_usbMenu->addAction(action);

    connect(action, &QAction::triggered, this, [this, n](bool) {
        auto* chosen = qobject_cast<QAction*>(sender());
        if (!chosen)
            return;
        for (QAction* other : m_usbMenu->actions())
            if (other != chosen)
                other->setChecked(false);
        emit ActionTriggered(m_devices.value(n));
    });
}

void MenuTree::removeDevice(UsbData d)
{
    // Only an action still in the list is ours to release; a stale copy must not free it twice.
    // Released, not kept until exit, so a keyboard that keeps dropping off the bus costs nothing.
    if (d.action && m_usbMenu->actions().contains(d.action)) {
        m_usbMenu->removeAction(d.action);
        d.action->deleteLater();
    }
    m_devices.remove(d.number);
    const int k = d.number;
    if (k >= 1 && k <= m_deviceIds.size())
        m_deviceIds[k - 1] = -k;
}

void MenuTree::checkOnly(QAction* chosen)
{
    for (QAction* a : m_usbMenu->actions())
        a->setChecked(a == chosen);
}

void MenuTree::selectDevice(UsbData d)
{
    for (const UsbData& listed : qAsConst(m_devices)) {
        if (listed.path == d.path) {
            checkOnly(listed.action);
            return;
        }
    }
}

void MenuTree::clearDevices()
{
    m_deviceIds.clear();
    m_devices.clear();
    const QList<QAction*> listed = m_usbMenu->actions();
    for (QAction* a : listed) {
        m_usbMenu->removeAction(a);
        a->deleteLater();
    }
}

void MenuTree::setDevicesEnabled(bool enabled)
{
    for (QAction* a : m_usbMenu->actions())
        if (a->isEnabled() != enabled)
            a->setEnabled(enabled);
}

void MenuTree::openWeb(const QString& url)
{
    if (openSafeUrl(url))
        qInfo() << __LINE__ << "Open:" << url;
}
