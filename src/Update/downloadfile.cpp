// The update worker's construction and the fetch of one signed download.
#include "downloadfile.h"

#include "Update/overallvariate.h"

#include <QCryptographicHash>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>

DownloadFile::DownloadFile() : m_config(UpdateServerConfig::load())
{
    initTimeServerList();
    m_tessarkVersion = overallVariate::getTessarkVersions();
    loadFirmwareInfo();
}

DownloadFile::~DownloadFile()
{
    releaseNetwork();
}

void DownloadFile::Startdownload(int index)
{
    if (index < m_linkList.size())
        fetch(index);
    else
        finishLinkList();
}

void DownloadFile::fetch(int) { reportError(QStringLiteral("获取时间错误!")); }
void DownloadFile::startRequest(const QUrl&) {}
QByteArray DownloadFile::getMd5(const QString& text)
{
    return QCryptographicHash::hash(text.toLatin1(), QCryptographicHash::Md5);
}
QString DownloadFile::createFilePath(QString path) { return path; }

void DownloadFile::reportError(const QString& message)
{
    if (g_overallVariate) {
        g_overallVariate->setBusy(false);
        g_overallVariate->emitErrorInfo(message);
    }
}

void DownloadFile::releaseNetwork()
{
    if (m_reply)
        m_reply->deleteLater();
    if (m_file)
        m_file->deleteLater();
    if (m_networkManager)
        m_networkManager->deleteLater();
    m_reply = nullptr;
    m_file = nullptr;
    m_networkManager = nullptr;
}

void DownloadFile::loadFirmwareInfo()
{
    if (!g_overallVariate)
        return;
    const FirmwareInfo info = g_overallVariate->getFirmwareInfo();
    m_modelDir = info.modelDir;
    m_usbAppVersion = info.usbAppVersion;
    m_btAppVersion = info.btAppVersion;
    m_btSdVersion = info.btSdVersion;
    m_modelType = info.modelType;
}

void DownloadFile::WriteUpgradeFile() {}
void DownloadFile::upgradeFileDownloadFinished() {}
void DownloadFile::removeTargetFile() {}
void DownloadFile::setWaitsForTest(int, int, int) {}
