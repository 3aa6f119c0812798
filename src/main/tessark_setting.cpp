// The settings page as the window hosts it: made on its tab, filled from the open keyboard, its
// requests turned into device calls, and the hand-over of a downloaded firmware folder.
#include "tessark.h"

#include "Update/overallvariate.h"
#include "device/device.h"
#include "setting/setting.h"
#include "widget/tablabel.h"

#include <QDebug>

namespace {

// "V1.2.3" for 123: hundreds, tens and units are the three parts.
QString versionText(uint16_t v)
{
    return QStringLiteral("V%1.%2.%3").arg(v / 100).arg((v % 100) / 10).arg(v % 10);
}

// A fixed-size text field as the keyboard sent it, up to its first zero byte.
QByteArray fieldBytes(const uint8_t* field, int size)
{
    QByteArray bytes(reinterpret_cast<const char*>(field), size);
    const int end = bytes.indexOf('\0');
    return end < 0 ? bytes : bytes.left(end);
}

// Keyboard text for a one-line label: control characters (a line feed would split it) left out.
QString shownText(const QString& text)
{
    QString shown;
    for (const QChar c : text) {
        if (c.category() != QChar::Other_Control)
            shown += c;
    }
    return shown;
}

} // namespace

void Tessark::createSetting()
{
    if (m_ptrSetting)
        return;
    qDebug() << "Create Setting page......";
    Device* const dev = loadedDevice();
    // A keyboard no record names still gets the page, without the layout editor, so that its
    // firmware can still be upgraded.
    const int index = dev ? boardIndexOfDevice() : -1;
    const bool editor = index >= 0 && m_data.boards[index]->KLE;
    m_ptrSetting = new Setting(this, dev, editor);
    m_ptrSetting->hide();
    m_ptrSetting->resize(int(width() * 0.85), m_ptrSetting->height());
    m_ptrSetting->move(width() / 2 - m_ptrSetting->width() / 2, 120);
    m_ptrSetting->setPageSize(m_ptrSetting->width(), m_ptrSetting->height());

    Setting* page = m_ptrSetting;
    connect(page, &Setting::emitUpdateSS, this, &Tessark::updateSSSlot);
    connect(page, &Setting::emitUpdateUI, this, &Tessark::updateUISlot);
    connect(page, &Setting::emitUpdateFU, this, &Tessark::updateDFUSlot);
    connect(page, &Setting::emitNKey, this, &Tessark::nKeySlot);
    connect(page, &Setting::emitModeDUF, this, &Tessark::modeDUFSlot);
    connect(page, &Setting::emitNuModeDUF, this, &Tessark::unModeUFSlot);
    connect(this, &Tessark::emitWaitDfuOpen, page, &Setting::emitWaitDfuOpen);
    connect(page, &Setting::emitSleepTime, this, &Tessark::SleepTimeSlot);
    connect(page, &Setting::emitBluetoothName, this, &Tessark::BluetoothNameSlot);
    connect(page, &Setting::emitFactoryReset, this, &Tessark::FactoryResetSlot);
    connect(page, &Setting::emitStartScanDevice, &m_scanDevice, QOverload<>::of(&QTimer::start));
    connect(page, &Setting::emitStartScanDevice, &m_MultiScanDevice, QOverload<>::of(&QTimer::start));
    m_pageList.append(page);
    if (dev) {
        setSettingInformation(dev);
    } else {
        qDebug() << "INFO: device is NULL, setting clear information.";
        page->clearInformation();
    }
}

void Tessark::deleteSetting()
{
    if (!m_ptrSetting)
        return;
    qDebug() << "Delete class setting.";
    removePage(m_ptrSetting);
    m_ptrSetting->clearDevice();
    delete m_ptrSetting;
    m_ptrSetting = nullptr;
}

void Tessark::setSettingInformation(Device* dev)
{
    qDebug() << "setSettingInformation---------------------------";
    if (!m_ptrSetting || !dev)
        return;
    // The name the board records are matched with: up to its first zero, never the bytes after it.
    const QString name = shownText(dev->boardName());
    const QString date = QString::fromLocal8Bit(fieldBytes(dev->m_devInfo.date, sizeof dev->m_devInfo.date));
    m_ptrSetting->setProductInfo(name, versionText(dev->m_fw_version), versionText(dev->m_hw_version), date);
    m_ptrSetting->setDeviceControlsEnabled(true);
    // The name goes out as UTF-8 (cut on a character boundary), so it is read back the same way.
    m_ptrSetting->setBluetoothName(QString::fromUtf8(fieldBytes(dev->m_btName, sizeof dev->m_btName)));
    m_ptrSetting->setSleepTime(dev->m_sleepTime, dev->m_lastSleepTime);
}

void Tessark::updateSlot(QString folder)
{
    // The downloaded images: the keyboard must come back with the version the server offered.
    if (g_overallVariate)
        setExpectedFirmwareVersion(g_overallVariate->takeOfferedUsbVersion());
    labelPageClickSlot(QStringLiteral("Setting"));
    if (m_ptrSetting)
        m_ptrSetting->updateSureSlot(folder);
}

void Tessark::unModeUFSlot()
{
    if (g_overallVariate)
        g_overallVariate->emitUnModeFirmware();
    setTabsDisabled(false);
    for (QWidget* page : qAsConst(m_pageList))
        page->setVisible(page->objectName() == QLatin1String("Setting"));
}
