#include "tessark.h"

#include "device/device.h"
#include "Update/overallvariate.h"
#include "Update/updaternotice.h"
#include "images/compiledimages.h"
#include "macro/macro.h"
#include "main/loghandler.h"
#include "platform/stopsignals.h"
#include "setting/Language.h"
#include "shortcut/shortcuts.h"
#include "widget/framepainter.h"
#include "widget/menu.h"
#include "widget/menutree.h"
#include "widget/messagebox.h"
#include "widget/tablabel.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QDebug>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>

namespace {
constexpr int HeaderBand = 80;
constexpr int PanelMargin = 5;
const char* const IconPath = "://images/Tessark-icon-tools-win.svg";
const char* const TrayMenuOpenIconPath = "://images/Tessark-icon-tray-mac-white.svg";
const char* const TrayMenuClosedIconPath = "://images/Tessark-icon-tray-mac-black.svg";
}

Tessark::Tessark(QWidget* parent, QString mode)
    : QMainWindow(parent), m_ui(new Ui_Tessark), m_minimizeTimer(this), m_startArgument(std::move(mode)),
      m_appDir(appDirPath())
{
    m_signalsAtStart = StopSignals::received().load();
    m_minimizeTimer.setSingleShot(true);
    connect(&m_minimizeTimer, &QTimer::timeout, this, &Tessark::mainShowMinimized);
    m_connection = new DeviceConnection(this);
    wireConnection();

    m_ui->setupUi(this);

    // From here on every message of every thread goes to the day's log file as well.
    LogHandler::instance()->installMessageHandler();
    qDebug() << "start mode:" << m_startArgument;
    // The window hides to the tray instead of closing; quitting is explicit.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    initCompiledImages();
    g_language = new Language;

    g_overallVariate = new overallVariate(this);
    g_overallVariate->createUpdateWidget();
    if (g_overallVariate->getAutoCheckUpdate())
        g_overallVariate->emitCheckUpdate();
    connect(g_overallVariate, &overallVariate::emitMainExit, this, &Tessark::exitAppActionSlot);
    connect(g_overallVariate, &overallVariate::emitUpdateSignal, this, &Tessark::updateSlot);
    // From the event loop, once the window is up: what an updater could not finish stops later updates.
    QTimer::singleShot(0, this, [this] { updaternotice::tellIfAny(this, m_appDir); });

    m_data.parseConfigXML(&m_data.boards, QStringLiteral("config.xml"));
    createStaticKeyBtn(); // its legends come with the layout version the menu emits

    initMenuTree();
    initButton();
    initTrayIcon();
    initTabWidget();
    initSystemBoot();
    createDisconPixBackground();
    initShortcutsPage();

    m_waitOpenDfuTimer.setParent(this);
    m_scanDevice.setParent(this);
    m_MultiScanDevice.setParent(this);
    // Its attempts are counted toward giving up: a coarse timer would bring them early.
    m_waitOpenDfuTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_waitOpenDfuTimer, &QTimer::timeout, this, &Tessark::waitOpenDfuDeviceSolt);
    connect(&m_scanDevice, &QTimer::timeout, this, &Tessark::scanDeviceSlot);
    connect(&m_MultiScanDevice, &QTimer::timeout, this, &Tessark::MultiscanDeviceSlot);

    m_initFinished = true;

    connect(g_language, &Language::LanguageChange, this, [this](int language) {
        retranslateUi(language);
        setWindowTitle(QCoreApplication::translate("Tessark", "Tessark"));
        update();
    });
    g_language->emitLanguageChange();

    m_MultiScanDevice.setInterval(ScanIntervalMs);
    m_MultiScanDevice.start();
    m_scanDevice.setInterval(ScanIntervalMs);
    m_scanDevice.start();
}

Tessark::~Tessark()
{
    qDebug() << "delete ~Tessark()";
    logDroppedAtStop();
    m_scanDevice.stop();
    m_MultiScanDevice.stop();
    // As in a close: an upgrade thread still reading the transport ends before it closes.
    if (m_connection && (!m_upgrade.stop() || !m_connection->close())) {
        // A thread still runs: leave the connection alive rather than free what that thread uses.
        m_connection->setParent(nullptr);
        disconnect(m_connection, nullptr, this, nullptr);
    }
    // Before the language goes: the update worker's thread reads it.
    if (g_overallVariate)
        g_overallVariate->stopWorker();
    delete m_menuTree;
    m_menuTree = nullptr;
    delete m_ui;
    if (g_overallVariate && g_overallVariate->parent() == this)
        g_overallVariate = nullptr; // deleted with the window's children
    delete g_language;
    g_language = nullptr;
}

Device* Tessark::device() const
{
    return m_connection ? m_connection->device() : nullptr;
}

void Tessark::initMenuTree()
{
    m_runTime.mark(1);
    m_menuTree = new MenuTree(this);
    connect(m_menuTree, &MenuTree::emitMainExit, this, &Tessark::exitAppActionSlot);
    connect(m_menuTree, &MenuTree::emitLayoutVersionAuto, this, &Tessark::layoutVersionAutoSlot);
    connect(m_menuTree, &MenuTree::emitLayoutVersionWin, this, &Tessark::layoutVersionWinSlot);
    connect(m_menuTree, &MenuTree::emitLayoutVersionMac, this, &Tessark::layoutVersionMacSlot);
    m_menuTree->emitLayoutVersion();
    connect(m_menuTree, &MenuTree::ActionTriggered, this, &Tessark::switchUsbDevice);
    m_runTime.stop(QStringLiteral("initMenuTree   "), 1);
}

void Tessark::menusSlot()
{
    if (m_menuTree && m_menuButton)
        m_menuTree->showMenuTreeSlot(m_menuButton->mapToGlobal(QPoint(0, 0)));
}

void Tessark::initButton()
{
    m_runTime.mark(1);
    const int right = width() - 1;
    m_closeButton = new QPushButton(this);
    m_minimizeButton = new QPushButton(this);
    m_menuButton = new QPushButton(this);
    m_closeButton->setGeometry(right - 42, 12, 25, 25);
    m_minimizeButton->setGeometry(right - 72, 12, 25, 25);
    m_menuButton->setGeometry(right - 102, 12, 25, 25);
    setTitleButtonsEnabled(true);
    connect(m_menuButton, &QPushButton::pressed, this, &Tessark::menusSlot);
    connect(m_closeButton, &QPushButton::pressed, this, &Tessark::mainHide);
    connect(m_minimizeButton, &QPushButton::pressed, this, &Tessark::showMinimized);
    m_closeButton->show();
    m_minimizeButton->show();
    m_menuButton->show();
    m_runTime.stop(QStringLiteral("initButton     "), 1);
}

void Tessark::setMinimizeButtonEnabled(bool enabled)
{
    if (!m_minimizeButton)
        return;
    m_minimizeButton->setEnabled(enabled);
    m_qss.setImageButtonStyle(m_minimizeButton, enabled ? QStringLiteral("minimize.svg") : QStringLiteral("minimize-ban.svg"),
                              QString(), QString(), QString(), false);
}

void Tessark::setMenuButtonEnabled(bool enabled)
{
    if (!m_menuButton)
        return;
    m_menuButton->setEnabled(enabled);
    m_qss.setImageButtonStyle(m_menuButton, enabled ? QStringLiteral("menu.svg") : QStringLiteral("menu-ban.svg"),
                              QString(), QString(), QString(), false);
}

void Tessark::setCloseButtonEnabled(bool enabled)
{
    if (!m_closeButton)
        return;
    m_closeButton->setEnabled(enabled);
    m_qss.setImageButtonStyle(m_closeButton, enabled ? QStringLiteral("close.svg") : QStringLiteral("close-ban.svg"),
                              QString(), QString(), QString(), false);
}

void Tessark::setTitleButtonsEnabled(bool enabled)
{
    setMinimizeButtonEnabled(enabled);
    setMenuButtonEnabled(enabled);
    setCloseButtonEnabled(enabled);
}

void Tessark::initStaticLayoutArea()
{
    m_ui->scrollAreaStaticLayout->setStyleSheet(QStringLiteral("QScrollArea#scrollAreaStaticLayout{ border-radius: 0px; }"));
    m_ui->staticLayout->setStyleSheet(QStringLiteral("QWidget#staticLayout{ background: #fff; }"));
    QSlider* slider = m_ui->verticalSliderStaticLayout;
    QScrollBar* bar = m_ui->scrollAreaStaticLayout->verticalScrollBar();
    m_qss.setVerticalSliderStyle(slider, 0);
    slider->setPageStep(bar->pageStep());
    slider->setInvertedAppearance(true);
    slider->setInvertedControls(true);
    connect(slider, &QSlider::valueChanged, bar, &QScrollBar::setValue, Qt::UniqueConnection);
    connect(bar, &QScrollBar::valueChanged, slider, &QSlider::setValue, Qt::UniqueConnection);
}

void Tessark::initSystemBoot()
{
    m_hideTimer = new QTimer(this);
    // Without a tray a hidden window could not be reached again: it is minimised instead.
    connect(m_hideTimer, &QTimer::timeout, this, [this] {
        if (canHideToTray())
            hide();
        else
            showMinimized();
    });
    connect(m_hideTimer, &QTimer::timeout, m_hideTimer, &QTimer::stop);

    setWindowIcon(QIcon(QPixmap(QString::fromLatin1(IconPath)).scaled(32, 32)));
    if (m_menuTree && m_menuTree->isAutoStart() && m_startArgument == QLatin1String("/background")) {
        setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint);
        setAttribute(Qt::WA_TranslucentBackground);
        m_hideTimer->start(1);
    } else {
        setWindowFlags(Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint);
        setAttribute(Qt::WA_TranslucentBackground);
        centreOnScreen();
    }
}

void Tessark::initTrayIcon()
{
    m_runTime.mark(1);
    m_trayIcon = new QSystemTrayIcon(this);
    m_trayIcon->setIcon(QIcon(QPixmap(QString::fromLatin1(IconPath)).scaled(16, 16)));
    m_trayIcon->setToolTip(tr("Tessark"));
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &Tessark::activatedSysTrayIconSlot);
    m_trayIcon->setVisible(true);

    m_trayMenu = new Menu(this);
    m_restoreAction = new QAction(tr("Restore"), this);
    m_exitAction = new QAction(tr("Exit"), this);
    m_minimizeAction = new QAction(tr("Minimize"), this);
    connect(m_exitAction, &QAction::triggered, this, &Tessark::exitAppActionSlot);
    connect(m_minimizeAction, &QAction::triggered, this, &Tessark::mainHide);
    connect(m_restoreAction, &QAction::triggered, this, &Tessark::mainShow);
    m_trayMenu->addAction(m_minimizeAction);
    m_trayMenu->addAction(m_restoreAction);
    m_trayMenu->addAction(m_exitAction);
    m_trayIcon->setContextMenu(m_trayMenu);
    connect(m_trayMenu, &QMenu::aboutToShow, this, &Tessark::trayMenuAboutToShowSlot);
    connect(m_trayMenu, &QMenu::aboutToHide, this, &Tessark::trayMenuAboutToHideSlot);
    m_runTime.stop(QStringLiteral("initTrayIcon   "), 1);
}

void Tessark::activatedSysTrayIconSlot(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger)
        mainShow();
}

void Tessark::mainHide()
{
    if (m_hideTimer)
        m_hideTimer->start(1);
}

void Tessark::centreOnScreen()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    move(available.width() / 2 - width() / 2, available.height() / 2 - height() / 2);
}

void Tessark::mainShow()
{
    qDebug() << "show slot";
    if (!isMinimized() && isHidden())
        centreOnScreen();
    if (m_firstShow) {
        setWindowFlags(Qt::FramelessWindowHint);
        setAttribute(Qt::WA_TranslucentBackground);
        m_firstShow = false;
    }
    raise();
    activateWindow();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    showNormal();
}

void Tessark::mainShowMinimized()
{
    qDebug() << "this->isMinimized())=" << (isMinimized() ? "true" : "false");
    if (!isMinimized())
        showMinimized();
}

void Tessark::trayMenuAboutToShowSlot()
{
    if (m_trayIcon)
        m_trayIcon->setIcon(QIcon(QString::fromLatin1(TrayMenuOpenIconPath)));
}

void Tessark::trayMenuAboutToHideSlot()
{
    if (m_trayIcon)
        m_trayIcon->setIcon(QIcon(QString::fromLatin1(TrayMenuClosedIconPath)));
}

void Tessark::retranslateUi(int language)
{
    const bool zh = language == 0;
    if (m_tabKey) {
        m_tabKey->setText3(zh ? QStringLiteral("键值") : QStringLiteral("KEY"));
        m_tabColor->setText3(zh ? QStringLiteral("颜色") : QStringLiteral("COLOR"));
        m_tabShortcuts->setText3(zh ? QStringLiteral("快捷键") : QStringLiteral("SHORTCUTS"));
        m_tabMacro->setText3(zh ? QStringLiteral("宏") : QStringLiteral("MACRO"));
        m_tabSetting->setText3(zh ? QStringLiteral("设置") : QStringLiteral("SETTING"));
        for (TabLabel* tab : {m_tabKey, m_tabColor, m_tabShortcuts, m_tabMacro, m_tabSetting})
            tab->update();
    }
    if (m_restoreAction) {
        m_restoreAction->setText(tr(zh ? "还原" : "Restore"));
        m_exitAction->setText(tr(zh ? "退出" : "Exit"));
        m_minimizeAction->setText(tr(zh ? "最小化" : "Minimize"));
    }
    if (m_ptrShortcuts)
        m_ptrShortcuts->setLanguage(language);
}

void Tessark::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        unsetCursorColorSlot();
        unsetCursorKeySlot();
        unsetCursorColorSlot();
        if (m_ptrShortcuts) {
            m_ptrShortcuts->shortcutsItemBtnMouseTimerReleaseSlot(true);
            m_ptrShortcuts->parameterBtnReleaseSlot(true);
            m_ptrShortcuts->shortcutsItemReleaseSelectDynamicLayoutKey();
        }
    }
    if (qRound(event->localPos().y()) <= m_headerRect.height()) {
        m_windowPos = pos();
        m_dragOffset = QCursor::pos() - pos();
        m_dragging = true;
    }
    QMainWindow::mousePressEvent(event);
}

void Tessark::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_initFinished) {
        qDebug() << "INFO: Tessark not init finished.";
        return;
    }
    if (m_dragging)
        move(QPoint(qRound(event->screenPos().x()), qRound(event->screenPos().y())) - m_dragOffset);
    QMainWindow::mouseMoveEvent(event);
}

void Tessark::mouseReleaseEvent(QMouseEvent* event)
{
    m_dragging = false;
    QMainWindow::mouseReleaseEvent(event);
}

void Tessark::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event);
    // The header's height is the drag band. The window paints 1 px past its size, square edged.
    FrameStyle style;
    style.margin = PanelMargin;
    style.bandHeight = HeaderBand - 2 * PanelMargin;
    style.shadowRoundness = 2;
    style.overhang = 1;
    style.outlineWidth = 0;
    style.curveEveryCorner = false;
    QPainter p(this);
    m_headerRect = paintFrame(p, size(), style);
}

void Tessark::createDisconPixBackground()
{
    qDebug() << "create discon pixmap.";
    if (m_disconPix)
        return;
    QFrame* frame = m_ui->dynamicLayout;
    m_disconPix = new QLabel(frame);
    m_disconPix->setPixmap(
        QPixmap(m_appDir + QStringLiteral("/images/disconnect.svg")).scaled(frame->size()));
    m_disconPix->resize(416, 145);
    m_disconPix->setScaledContents(true);
    m_disconPix->move(frame->width() / 2 - m_disconPix->width() / 2, frame->height() / 2 - m_disconPix->height() / 2);
    m_disconPix->show();
}

void Tessark::deleteDisconPixBackground()
{
    if (!m_disconPix)
        return;
    qDebug() << "INFO: delete discon pixmap background finished.";
    m_disconPix->hide();
    delete m_disconPix;
    m_disconPix = nullptr;
}

// ---- tabs -------------------------------------------------------------------------------------

void Tessark::initTabWidget()
{
    m_runTime.mark(1);
    m_pageList.append(m_ui->staticLayout);
    const bool zh = currentLanguageType() == 0;
    const QColor black(QStringLiteral("#000000"));
    m_tabKey = new TabLabel(this, QStringLiteral("key"), zh ? QStringLiteral("键值") : QStringLiteral("KEY"),
                            QStringLiteral("staticLayout"), -3, black);
    m_tabKey->resize(72, 28);
    m_tabColor = new TabLabel(this, QStringLiteral("color"), zh ? QStringLiteral("颜色") : QStringLiteral("COLOR"),
                              QStringLiteral("Color"), -3, black);
    m_tabColor->resize(92, 28);
    m_tabShortcuts = new TabLabel(this, QStringLiteral("shortcuts"),
                                  zh ? QStringLiteral("快捷键") : QStringLiteral("SHORTCUTS"),
                                  QStringLiteral("Shortcuts"), -13, black);
    m_tabShortcuts->resize(138, 28);
    m_tabMacro = new TabLabel(this, QStringLiteral("macro"), zh ? QStringLiteral("宏") : QStringLiteral("MACRO"),
                              QStringLiteral("Macro"), 0, black);
    m_tabSetting = new TabLabel(this, QStringLiteral("setting"), zh ? QStringLiteral("设置") : QStringLiteral("SETTING"),
                                QStringLiteral("Setting"), -3, black);
    m_tabSetting->resize(122, 28);

    m_tabList = {m_tabKey, m_tabColor, m_tabShortcuts};
    m_tabMacro->hide();
    m_tabList.append(m_tabSetting);
    for (TabLabel* tab : m_tabList)
        tab->setChecked(false);
    connectTabLabels(true);
    applyBoardFeatures(nullptr);
    m_runTime.stop(QStringLiteral("initTabWidget  "), 1);
}

QVector<TabLabel*> Tessark::clickableTabs() const
{
    // The macro tab is not laid out or selected with the listed tabs, but it is clicked like them.
    QVector<TabLabel*> tabs = m_tabList;
    if (m_tabMacro)
        tabs.append(m_tabMacro);
    return tabs;
}

void Tessark::connectTabLabels(bool on)
{
    for (TabLabel* tab : clickableTabs()) {
        if (on)
            connect(tab, &TabLabel::emitClicked, this, &Tessark::labelPageClickSlot, Qt::UniqueConnection);
        else
            disconnect(tab, &TabLabel::emitClicked, this, &Tessark::labelPageClickSlot);
    }
}

void Tessark::setTabsDisabled(bool disabled)
{
    for (TabLabel* tab : clickableTabs())
        tab->setEnabled(!disabled);
}

void Tessark::modeDUFSlot()
{
    for (TabLabel* tab : clickableTabs()) {
        tab->setChecked(false);
        tab->setEnabled(false);
    }
}

void Tessark::banWindowsButtonSlot(bool ban)
{
    setTitleButtonsEnabled(!ban);
    connectTabLabels(!ban);
}

void Tessark::setDynamicUnsetCursorSlot()
{
    m_ui->dynamicLayout->unsetCursor();
}

void Tessark::applyBoardFeatures(BoardInfo* record)
{
    if (record) {
        m_tabKey->setVisible(record->key);
        m_tabColor->setVisible(record->color);
        m_tabShortcuts->setVisible(record->shortcuts);
        m_tabMacro->setVisible(record->macro);
        m_tabSetting->setVisible(record->setting);
    } else {
        for (TabLabel* tab : m_tabList)
            tab->setVisible(tab != m_tabColor);
    }
    for (TabLabel* tab : m_tabList) {
        if (!tab->isHidden()) {
            tab->setChecked(true);
            labelPageClickSlot(tab->text2());
            break;
        }
    }
    layoutTabs();
}

void Tessark::layoutTabs()
{
    const int n = m_tabList.size();
    int hidden = 0;
    int spare = 0;
    for (TabLabel* tab : m_tabList) {
        if (tab->isHidden()) {
            ++hidden;
            spare += tab->width() + 35;
        }
    }
    const int gaps = (n - 1) - hidden;
    // Fewer than two visible tabs leave no gap to share the spare width between.
    const int step = gaps > 0 ? spare / gaps : 0;
    int x = spare / 2 + 115;
    if (step != 0)
        x = x - step - 17;
    for (int i = 0; i < n; ++i) {
        TabLabel* tab = m_tabList[i];
        if (tab->isHidden())
            x = x - (tab->width() + 35);
        tab->move(x, 40 - tab->height() / 2);
        x = x + tab->width() + 35 + step;
        if (step != 0)
            x = x - 5 * (n - i);
    }
    // The macro tab is not in the tab list; it sits right of the last visible listed tab.
    int right = 115 - 35;
    for (TabLabel* tab : m_tabList) {
        if (!tab->isHidden())
            right = tab->x() + tab->width();
    }
    m_tabMacro->move(right + 35, 40 - m_tabMacro->height() / 2);
}

void Tessark::labelPageClickSlot(QString pageName)
{
    if (!m_initFinished) {
        qDebug() << "menu lab click slot reutrn. initLock == false, not fnished.";
        return;
    }
    unsetCursorSlot();
    auto showRow = [](QFrame* row, bool on) {
        if (row)
            row->setVisible(on);
    };
    // Only the colour tab keeps the lighting page, only the settings tab the settings page.
    if (pageName != QLatin1String("Color"))
        deleteColor();
    if (pageName != QLatin1String("Setting"))
        deleteSetting();
    if (pageName == QLatin1String("staticLayout")) {
        showRow(m_globuleColorFrame, false);
        showRow(m_globuleModeFrame, false);
        // Only a finished load gives tables the picture may read.
        if (m_deviceLoaded)
            createDynamicKeybtn();
        clearKeySelections();
        m_ui->dynamicLayout->show();
        m_ui->verticalSliderStaticLayout->show();
        m_ui->scrollAreaStaticLayout->show();
        showRow(m_globuleKeyFrame, true);
    } else if (pageName == QLatin1String("Setting") || pageName == QLatin1String("Macro")) {
        m_ui->dynamicLayout->hide();
        showRow(m_globuleKeyFrame, false);
        showRow(m_globuleColorFrame, false);
        showRow(m_globuleModeFrame, false);
        m_ui->verticalSliderStaticLayout->hide();
        m_ui->scrollAreaStaticLayout->hide();
        if (pageName == QLatin1String("Macro"))
            createMacro(&m_vStaticKeyBtn);
        else
            createSetting();
    } else if (pageName == QLatin1String("Shortcuts")) {
        m_ui->verticalSliderStaticLayout->hide();
        m_ui->scrollAreaStaticLayout->hide();
        showRow(m_globuleKeyFrame, false);
        showRow(m_globuleColorFrame, false);
        showRow(m_globuleModeFrame, false);
        clearKeySelections();
        m_ui->dynamicLayout->show();
    } else if (pageName == QLatin1String("Color")) {
        showRow(m_globuleKeyFrame, false);
        m_ui->verticalSliderStaticLayout->hide();
        m_ui->scrollAreaStaticLayout->hide();
        createColor();
        // The rows show inside the colour page, and only while the keyboard has colour maps.
        Device* const dev = loadedDevice();
        const bool rows = m_ptrColor && dev && dev->m_nkrm != 0;
        showRow(m_globuleColorFrame, rows);
        showRow(m_globuleModeFrame, rows);
        m_ui->dynamicLayout->show();
    }
    for (TabLabel* tab : clickableTabs())
        tab->setChecked(tab->text2() == pageName);
    for (QWidget* page : m_pageList)
        page->setVisible(page->objectName() == pageName);
}

void Tessark::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        // The start-up benchmark waits for this line.
        qDebug() << "main window shown";
    }
}

void Tessark::createMacro(QVector<KeyBtn*>* staticKeys)
{
    // The page reads no key list: its chips take their texts from the static key file.
    Q_UNUSED(staticKeys)
    if (!m_ptrMacro) {
        m_ptrMacro = new Macro(this, 0);
        m_ptrMacro->move(width() / 2 - m_ptrMacro->width() / 2, 75);
        connect(m_ptrMacro, &Macro::emitBanWindowsButton, this, &Tessark::banWindowsButtonSlot);
        connect(m_ptrMacro, &Macro::updateShortcutsComboboxAddItem, this,
                &Tessark::updateShortcutsComboboxAddItemSlot);
        connect(m_ptrMacro, &Macro::updateShortcutsComboboxRemoveItem, this,
                &Tessark::updateShortcutsComboboxRemoveItemSlot);
        connect(m_ptrMacro, &Macro::updateShortcutsComboboxSetItemText, this,
                &Tessark::updateShortcutsComboboxSetItemText);
        m_pageList.append(m_ptrMacro);
    }
    // Never a client that is still loading: its tables are the loader's until the load finished.
    if (Device* dev = loadedDevice())
        m_ptrMacro->setDevice(createCurDeviceFile(), dev);
}

void Tessark::deleteMacro()
{
    if (!m_ptrMacro)
        return;
    m_ptrMacro->releaseDevice();
    removePage(m_ptrMacro);
    delete m_ptrMacro;
    m_ptrMacro = nullptr;
    qDebug() << "delete macro finished.";
}
