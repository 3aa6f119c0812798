#include "overallvariate.h"

#include "Update/downloadfile.h"
#include "Update/onlineupdate.h"
#include "widget/qss.h"
#include "widget/smallxml.h"

#include <QDebug>
#include <QDomDocument>
#include <QMutexLocker>
#include <QThread>

overallVariate* g_overallVariate = nullptr;

overallVariate::overallVariate(QObject* parent) : QObject(parent) {}

overallVariate::~overallVariate()
{
    qDebug() << "~overallVariate";
    if (!m_updateWidget)
        return;
    // A worker still running would reach this hub after it is gone: it stops first, or is left alone.
    if (stopWorker())
        m_updateWidget->deleteLater();
}

void overallVariate::createUpdateWidget()
{
    if (m_updateWidget)
        return;
    m_updateWidget = new onlineUpdate;
    m_updateWidget->setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint);
    m_updateWidget->setWindowModality(Qt::ApplicationModal);
    connectUpdateWidget();
}

void overallVariate::connectUpdateWidget()
{
    onlineUpdate* dialog = m_updateWidget;
    if (!dialog)
        return;
    connect(this, &overallVariate::TessarkUpdateSignal, dialog, &onlineUpdate::TessarkWidgetShow);
    connect(this, &overallVariate::FirmwareUpdateSignal, dialog, &onlineUpdate::FirmeareWidgetShow);
    connect(this, &overallVariate::DeviceOfflineSignal, dialog, &onlineUpdate::DeviceOfflineSlot);
    connect(this, &overallVariate::setTessarkUpdateInfoSignal, dialog, &onlineUpdate::setTessarkUpdateInfoSlot);
    connect(this, &overallVariate::setFirmwareUpdateInfoSignal, dialog, &onlineUpdate::setFirmwareUpdateInfoSlot);
    connect(this, &overallVariate::downloadProgressSignal, dialog, &onlineUpdate::setDownloadProgress);
    connect(this, &overallVariate::downloadNumberSignal, dialog, &onlineUpdate::setDownloadNumber);
}

void overallVariate::showUpdateWidget()
{
    if (!m_updateWidget) {
        qDebug() << "show update widget: no update dialog yet";
        return;
    }
    m_updateWidget->setWindowState((m_updateWidget->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    m_updateWidget->show();
}

void overallVariate::hideUpdateWidget()
{
    QWidget* dialog = m_updateWidget.data();
    if (!dialog)
        return;
    if (QThread::currentThread() == dialog->thread()) {
        dialog->hide();
        return;
    }
    // Posted now, so it reaches the GUI thread before any signal the worker emits after this call.
    QMetaObject::invokeMethod(dialog, "hide", Qt::QueuedConnection);
}

onlineUpdate* overallVariate::updateWidget() const
{
    return m_updateWidget.data();
}

bool overallVariate::stopWorker()
{
    return !m_updateWidget || m_updateWidget->stopWorker();
}

void overallVariate::askWorkerToStop()
{
    if (DownloadFile* worker = m_updateWidget ? m_updateWidget->worker() : nullptr)
        worker->requestStop();
}

void overallVariate::setBusy(bool busy)
{
    m_busy = busy;
    emit threadBusySignal(m_busy);
}

void overallVariate::setOnlinState(bool online)
{
    m_online = online;
    if (!online)
        emitDeviceOffline();
    else if (m_autoCheckUpdate)
        emit checkUpdateSignalFirmware();
    qDebug() << "OnlinState" << online;
}

void overallVariate::setFirmwareInfo(const QString& modelDir, const QString& usbAppVersion, int modelType,
                                     const QString& btAppVersion, const QString& btSdVersion,
                                     const QString& hardwareVersion)
{
    QMutexLocker lock(&m_firmwareInfoLock);
    m_firmwareInfo = FirmwareInfo{modelDir, usbAppVersion, btAppVersion, btSdVersion, modelType, hardwareVersion};
}

FirmwareInfo overallVariate::getFirmwareInfo() const
{
    QMutexLocker lock(&m_firmwareInfoLock);
    return m_firmwareInfo;
}

void overallVariate::clearFirmwareInfo()
{
    QMutexLocker lock(&m_firmwareInfoLock);
    m_firmwareInfo = FirmwareInfo();
}

void overallVariate::setOfferedUsbVersion(const QString& text)
{
    // The keyboard's 16-bit version shows as major.minor.patch with single-digit minor and patch.
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    bool ok[3] = {};
    const int v = parts.size() == 3 ? parts[0].toInt(&ok[0]) * 100 + parts[1].toInt(&ok[1]) * 10 + parts[2].toInt(&ok[2]) : -1;
    const bool shape = parts.size() == 3 && parts[1].size() == 1 && parts[2].size() == 1 && parts[0].size() <= 3;
    m_offeredUsbVersion = shape && ok[0] && ok[1] && ok[2] && v >= 0 && v <= 0xFFFF ? v : -1;
}

QString overallVariate::getTessarkVersions()
{
    QDomDocument doc;
    if (readSmallXml(appDirPath() + QStringLiteral("/config/about.xml"), &doc) != 0)
        return QString();
    QString firmware;
    // A later firmware element wins; the tag name's case must match.
    for (QDomElement e = doc.documentElement().firstChildElement(QStringLiteral("firmware")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("firmware")))
        firmware = e.attribute(QStringLiteral("firmware"));
    return firmware.split(QLatin1Char(' ')).last();
}
