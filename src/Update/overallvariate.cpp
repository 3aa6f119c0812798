#include "overallvariate.h"

#include "widget/qss.h"
#include "widget/smallxml.h"

#include <QDebug>
#include <QDomDocument>
#include <QWidget>

overallVariate* g_overallVariate = nullptr;

overallVariate::overallVariate(QObject* parent) : QObject(parent) {}

QString overallVariate::getTessarkVersions()
{
    QDomDocument doc;
    if (readSmallXml(appDirPath() + QStringLiteral("/config/about.xml"), &doc) != 0)
        return QString();
    QString firmware;
    // As in the About dialog, a later firmware element wins.
    for (QDomElement e = doc.documentElement().firstChildElement(QStringLiteral("firmware")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("firmware")))
        firmware = e.attribute(QStringLiteral("firmware"));
    return firmware.split(QLatin1Char(' ')).last();
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

void overallVariate::emitCheckUpdate()
{
    // The online update is not part of the tool yet: nothing is fetched.
    qDebug() << "check update: no online update";
}

void overallVariate::setOnlinState(bool online)
{
    m_online = online;
    if (!online)
        emit emitDeviceOffline();
    else if (m_autoCheckUpdate)
        QMetaObject::invokeMethod(this, &overallVariate::emitCheckUpdate, Qt::QueuedConnection);
}

void overallVariate::setFirmwareInfo(const QString& modelDir, const QString& usbAppVersion, int modelType,
                                     const QString& btAppVersion, const QString& btSdVersion, const QString& fifth)
{
    m_firmwareInfo = FirmwareInfo{modelDir, usbAppVersion, modelType, btAppVersion, btSdVersion, fifth};
}

void overallVariate::clearFirmwareInfo()
{
    m_firmwareInfo = FirmwareInfo();
}
