// The update worker's construction and the fetch of one signed download.
#include "downloadfile.h"

#include "Update/overallvariate.h"
#include "Update/serverpath.h"
#include "Update/zipdirectory.h"
#include "widget/qss.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {

// What stands at path goes, a dangling link too, so the download is written as a new file.
void removeExisting(const QString& path)
{
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink())
        QFile::remove(path);
}

const QString OpenFailedText = QStringLiteral("download UpdateFile File Open Failed!");
const QString NoTimeText = QStringLiteral("获取时间错误!");
const QString WriteFailedText = QStringLiteral("download UpdateFile File Write Failed!");
const QString IncompleteText = QStringLiteral("download UpdateFile File Incomplete!");
const QString TooManyRedirectsText = QStringLiteral("download UpdateFile Too Many Redirects!");
const QString BadRedirectText = QStringLiteral("download UpdateFile Redirect Refused!");
const QString TooLargeText = QStringLiteral("download UpdateFile File Too Large!");
const QString TooSlowText = QStringLiteral("download UpdateFile Transfer Too Slow!");
const QString ReadFailedText = QStringLiteral("download UpdateFile Read Failed!");
const QString EncodedText = QStringLiteral("download UpdateFile Encoded Body Refused!");

QString updateTooLargeText(qint64 bound)
{
    return QStringLiteral("download UpdateFile Update Too Large! Over %1 bytes in all").arg(bound);
}

} // namespace

DownloadFile::DownloadFile() : m_config(UpdateServerConfig::load())
{
    // A child, so it moves to the worker's thread with the worker.
    m_paceTimer = new QTimer(this);
    // A coarse timer may end a window early.
    m_paceTimer->setTimerType(Qt::PreciseTimer);
    connect(m_paceTimer, &QTimer::timeout, this, &DownloadFile::checkPace);
    initTimeServerList();
    m_tessarkVersion = overallVariate::getTessarkVersions();
    loadFirmwareInfo();
    qDebug() << __LINE__ << "TessarkVersion=" << m_tessarkVersion;
}

DownloadFile::~DownloadFile()
{
    // A download cut off by the worker's end is as incomplete as a failed one.
    removeTargetFile();
    releaseNetwork();
}

void DownloadFile::setWaitsForTest(int connectMs, int readMs, int transferMs)
{
    s_connectWaitMs = connectMs;
    s_readWaitMs = readMs;
    s_transferTimeoutMs = transferMs;
}

void DownloadFile::setPaceWindowForTest(int ms)
{
    s_paceWindowMs = ms;
}

void DownloadFile::setToolFileLimitForTest(qint64 bytes)
{
    s_toolFileLimit = bytes;
}

void DownloadFile::setUpdateBoundForTest(qint64 bytes)
{
    s_updateBound = bytes;
}

qint64 DownloadFile::sizeLimit(int mode)
{
    switch (mode) {
    case ToolFiles:
        return s_toolFileLimit;
    case FirmwareFiles:
        return MaxImageFileBytes;
    default:
        return MaxDescriptionFileBytes;
    }
}

bool DownloadFile::isDescriptionMode() const
{
    return m_downloadMode != ToolFiles && m_downloadMode != FirmwareFiles;
}

void DownloadFile::Startdownload(int index)
{
    if (index < 0) {
        qWarning() << __LINE__ << "Startdownload: no link at" << index;
        return;
    }
    if (index < m_linkList.size())
        fetch(index);
    else
        finishLinkList();
}

void DownloadFile::fetch(int index)
{
    m_linkIndex = index;
    if (m_stop) {
        qDebug() << __LINE__ << "Startdownload: worker stopping, nothing fetched";
        return;
    }
    // As shipped nothing is configured: the check ends at once, before any folder, file or socket.
    if (m_config.downloadServer.isEmpty()) {
        qDebug() << __LINE__ << "获取时间错误" << "no download server configured";
        reportError(NoTimeText);
        return;
    }
    // An operation that takes over a running one: the abandoned transfer leaves no file behind.
    if (m_file || m_reply) {
        removeTargetFile();
        releaseNetwork();
    }
    const QString link = m_linkList.at(index);
    const QString appDir = appDirPath();
    if (!ServerPath::isSafeLink(link, appDir)) {
        qWarning() << __LINE__ << "Startdownload: link refused" << link;
        reportError(OpenFailedText);
        return;
    }

    QString localPath = appDir + link;
    qDebug() << __LINE__ << "StrFile=" << localPath;
    // A linked folder on the way would take the file out of its staging folder, onto the user's files.
    const QString linked = ServerPath::linkedFolder(QFileInfo(localPath).path(), appDir);
    if (!linked.isEmpty()) {
        qWarning() << __LINE__ << "Startdownload: refused" << localPath << "its folder is reached through the link"
                   << linked;
        failTransfer(OpenFailedText);
        return;
    }
    // The tool's folder moved or removed while it runs: it is not made again at its old path.
    if (!QFileInfo(appDir).isDir()) {
        qWarning() << __LINE__ << "Startdownload: refused" << localPath << "the tool's folder is gone from" << appDir;
        failTransfer(OpenFailedText);
        return;
    }
    createFilePath(QFileInfo(localPath).path());
    removeExisting(localPath);
    const QString suffix = QFileInfo(localPath).suffix().toLower();
    qDebug() << __LINE__ << "Startdownload" << "suffix=" << suffix;
    if (suffix == QLatin1String("exe")) {
        localPath += QStringLiteral(".tessark");
        qDebug() << __LINE__ << "Startdownload" << "FileName=" << localPath;
        removeExisting(localPath);
    }

    // A new file only: whatever is still in the way (a folder, a link, a file that would not go) fails
    // the open instead of being written through.
    m_file = new QFile(localPath);
    if (!m_file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        delete m_file;
        m_file = nullptr;
        qDebug() << __LINE__ << "download UpdateFile File Open Failed!";
        reportError(OpenFailedText);
        return;
    }

    const QDateTime time = getNetworkTime();
    if (time.isNull()) {
        removeTargetFile();
        if (m_stop) {
            qDebug() << __LINE__ << "Startdownload: worker stopping, nothing fetched";
            return;
        }
        qDebug() << __LINE__ << "获取时间错误";
        reportError(NoTimeText);
        return;
    }

    const QString t = QString::number(time.toSecsSinceEpoch() + 60, 16);
    const QByteArray p = QUrl::toPercentEncoding(link, "/");
    const QString sign = QString::fromLatin1(
        getMd5(QString::fromLatin1(m_config.signingKey) + QString::fromLatin1(p) + t).toHex());
    const QString address = QStringLiteral("http://") + m_config.downloadServer + QString::fromLatin1(p)
                            + QStringLiteral("?sign=") + sign + QStringLiteral("&t=") + t;
    qDebug() << __LINE__ << "res==" << link << address;
    startRequest(QUrl(address, QUrl::TolerantMode));
}

void DownloadFile::startRequest(const QUrl& url)
{
    if (m_stop) {
        qDebug() << __LINE__ << "startRequest: worker stopping, nothing sent";
        removeTargetFile();
        releaseNetwork();
        return;
    }
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    if (m_networkManager)
        m_networkManager->deleteLater();
    m_networkManager = new QNetworkAccessManager(this);
    // One window for the file, however many redirects it takes.
    if (!m_paceTimer->isActive()) {
        m_windowBytes = 0;
        m_paceTimer->start(s_paceWindowMs);
    }

    QNetworkRequest request(url);
    // Named here, the network layer inflates nothing: a small encoded body could otherwise grow to
    // gigabytes in its buffers before a single byte is counted against the limits.
    request.setRawHeader("Accept-Encoding", "identity");
    // Redirects are followed here, one at a time, so that each is counted and checked.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // A server that stops sending fails the download instead of keeping the worker busy for good.
    request.setTransferTimeout(s_transferTimeoutMs);
    m_received = 0;
    m_writeError.clear();
    m_reply = m_networkManager->get(request);
    // Without a bound the reply would take in whatever the server sends, faster than it is written.
    m_reply->setReadBufferSize(ReadBufferBytes);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &DownloadFile::checkAnnouncedLength);
    connect(m_reply, &QNetworkReply::finished, this, &DownloadFile::upgradeFileDownloadFinished);
    connect(m_reply, &QIODevice::readyRead, this, &DownloadFile::WriteUpgradeFile);
}

bool DownloadFile::headersRefused()
{
    // Asked for identity, a server that encodes anyway sends bytes that are not the file.
    const QByteArray encoding = m_reply->rawHeader("Content-Encoding").trimmed();
    if (!encoding.isEmpty() && encoding.toLower() != "identity") {
        qWarning() << __LINE__ << EncodedText << m_file->fileName() << "Content-Encoding" << encoding;
        m_writeError = EncodedText;
        return true;
    }
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (!length.isValid())
        return false;
    const qint64 limit = sizeLimit(m_downloadMode);
    if (length.toLongLong() > limit) {
        qWarning() << __LINE__ << TooLargeText << m_file->fileName() << "Content-Length" << length.toLongLong()
                   << "over the limit of" << limit << "bytes";
        m_writeError = TooLargeText;
        return true;
    }
    return !withinUpdateBound(length.toLongLong());
}

bool DownloadFile::withinUpdateBound(qint64 fileBytes)
{
    // One operation's files: the tool's, or the firmware images a link file lists (each within its
    // own limit, thousands of them would still fill the disk).
    if (m_downloadMode != ToolFiles && m_downloadMode != FirmwareFiles)
        return true;
    const qint64 bound = s_updateBound;
    if (fileBytes <= bound - m_updateBytes)
        return true;
    qWarning() << __LINE__ << updateTooLargeText(bound) << m_file->fileName() << m_updateBytes
               << "bytes of this update before it, this file" << fileBytes;
    m_writeError = updateTooLargeText(bound);
    return false;
}

bool DownloadFile::countIntoUpdate()
{
    if (m_downloadMode != ToolFiles && m_downloadMode != FirmwareFiles)
        return true;
    qint64 bytes = m_received;
    // The updater archive takes what its entries declare once unpacked; one whose directory does not
    // read is refused when it is unpacked.
    if (m_downloadMode == ToolFiles && QFileInfo(m_file->fileName()).suffix() == QLatin1String("tessarkzip")) {
        QFile archive(m_file->fileName());
        ZipDirectory::Directory directory;
        QString why;
        if (archive.open(QIODevice::ReadOnly) && ZipDirectory::read(archive, &directory, &why)) {
            for (const ZipDirectory::Entry& entry : qAsConst(directory.entries)) {
                bytes += entry.size;
                if (bytes > s_updateBound)
                    break;
            }
        }
    }
    if (!withinUpdateBound(bytes))
        return false;
    m_updateBytes += bytes;
    return true;
}

bool DownloadFile::writeAvailable()
{
    if (!m_writeError.isEmpty() || headersRefused())
        return false;
    const qint64 limit = sizeLimit(m_downloadMode);
    // A chunk at a time until nothing waits: one read of everything fails past 2 GiB and looks empty.
    while (m_reply->bytesAvailable() > 0) {
        // One byte more than the limit leaves room for is enough to tell that the body passes it.
        const QByteArray data = m_reply->read(qMin(ReadChunkBytes, limit - m_received + 1));
        if (data.isEmpty()) {
            qWarning() << __LINE__ << ReadFailedText << m_file->fileName() << m_reply->bytesAvailable()
                       << "bytes waiting" << m_reply->errorString();
            m_writeError = ReadFailedText;
            return false;
        }
        if (m_received + data.size() > limit) {
            qWarning() << __LINE__ << TooLargeText << m_file->fileName() << "body over the limit of" << limit
                       << "bytes";
            m_writeError = TooLargeText;
            return false;
        }
        if (!withinUpdateBound(m_received + data.size()))
            return false;
        const qint64 written = m_file->write(data);
        if (written != data.size()) {
            qWarning() << __LINE__ << "download UpdateFile File Write Failed!" << written << data.size()
                       << m_file->errorString();
            m_writeError = WriteFailedText;
            return false;
        }
        m_received += written;
        m_windowBytes += written;
    }
    return true;
}

void DownloadFile::abandonTransfer(const QString& reason)
{
    if (m_writeError.isEmpty())
        m_writeError = reason;
    // Ends on the reply-error path at once: the file removed, the failure told, busy cleared.
    m_reply->abort();
}

void DownloadFile::checkAnnouncedLength()
{
    QNetworkReply* reply = m_reply;
    if (!m_file || !reply || (sender() && sender() != reply) || !m_writeError.isEmpty())
        return;
    if (headersRefused())
        abandonTransfer(m_writeError);
}

void DownloadFile::checkPace()
{
    if (!m_file || !m_reply) {
        m_paceTimer->stop();
        return;
    }
    // Done just now: the finished handler decides.
    if (m_reply->isFinished())
        return;
    // What has arrived counts, even when its readyRead has not been handled yet.
    if (!writeAvailable()) {
        abandonTransfer(m_writeError);
        return;
    }
    const int windowMs = s_paceWindowMs;
    const qint64 floor = qint64(windowMs) * PaceFloorBytesPerSecond / 1000;
    if (isDescriptionMode()) {
        qWarning() << __LINE__ << TooSlowText << m_file->fileName() << "not done within" << windowMs << "ms";
    } else if (m_windowBytes < floor) {
        qWarning() << __LINE__ << TooSlowText << m_file->fileName() << m_windowBytes << "bytes in" << windowMs
                   << "ms, under the floor of" << floor;
    } else {
        m_windowBytes = 0;
        return;
    }
    abandonTransfer(TooSlowText);
}

void DownloadFile::WriteUpgradeFile()
{
    QNetworkReply* reply = m_reply;
    if (!m_file || !reply || (sender() && sender() != reply))
        return;
    // Once per file, not per chunk: the file's end is logged with its size.
    if (m_received == 0)
        qDebug() << __LINE__ << "downloadUpdateFile=" << reply->size() << m_file->isOpen();
    if (!writeAvailable()) {
        // Nothing more is taken: the transfer ends on the reply-error path.
        abandonTransfer(m_writeError);
        return;
    }
}

QString DownloadFile::transferFault() const
{
    if (!m_writeError.isEmpty())
        return m_writeError;
    if (!m_file)
        return OpenFailedText;
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) {
        const QString reason = m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        return QStringLiteral("HTTP %1 %2").arg(status.toInt()).arg(reason).trimmed();
    }
    // A body that ends before its announced length is a cut transfer, however the connection ended.
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && m_received < length.toLongLong()) {
        qWarning() << __LINE__ << "download UpdateFile File Incomplete!" << m_received << length.toLongLong();
        return IncompleteText;
    }
    return QString();
}

void DownloadFile::upgradeFileDownloadFinished()
{
    QNetworkReply* reply = m_reply;
    if (!reply || (sender() && sender() != reply))
        return;
    const QUrl redirect = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    qDebug() << __LINE__ << "redirectionTarget============" << redirect;

    if (reply->error() == QNetworkReply::NoError && m_file)
        writeAvailable();
    if (reply->error() != QNetworkReply::NoError || !m_writeError.isEmpty()) {
        failTransfer(m_writeError.isEmpty() ? reply->errorString() : m_writeError);
        return;
    }

    if (redirect.isEmpty()) {
        QString fault = transferFault();
        if (fault.isEmpty() && (!m_file->flush() || m_file->error() != QFileDevice::NoError)) {
            qWarning() << __LINE__ << "download UpdateFile File Write Failed!" << m_file->errorString();
            fault = WriteFailedText;
        }
        if (fault.isEmpty() && !countIntoUpdate())
            fault = m_writeError;
        if (!fault.isEmpty()) {
            failTransfer(fault);
            return;
        }
        m_redirectCount = 0;
        qInfo() << __LINE__ << "downloaded" << m_file->fileName() << m_received << "bytes";
        m_file->close();
        delete m_file;
        m_file = nullptr;
        releaseNetwork();
        ++m_linkIndex;
        if (g_overallVariate)
            g_overallVariate->emitDownloadProgress(m_linkIndex);
        Startdownload(m_linkIndex);
        return;
    }

    qDebug() << __LINE__ << "redirectionTarget   isNull";
    // Relative to the address that answered with it, not to an earlier redirect.
    const QUrl target = reply->url().resolved(redirect);
    const QString scheme = target.scheme().toLower();
    QString refusal;
    if (m_redirectCount >= MaxRedirectsFollowed)
        refusal = TooManyRedirectsText;
    else if (!target.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        refusal = BadRedirectText;
    if (!refusal.isEmpty()) {
        qWarning() << __LINE__ << refusal << target.toString(QUrl::RemoveQuery);
        removeTargetFile();
        reportError(refusal);
        m_redirectCount = 0;
        releaseNetwork();
        if (g_overallVariate)
            g_overallVariate->setBusy(false);
        return;
    }
    ++m_redirectCount;
    m_redirectUrl = target;
    reply->disconnect(this);
    reply->deleteLater();
    m_reply = nullptr;
    // What the redirect answer carried is not part of the file.
    if (!m_file->resize(0) || !m_file->seek(0)) {
        failTransfer(WriteFailedText);
        return;
    }
    startRequest(m_redirectUrl);
}

void DownloadFile::failTransfer(const QString& message)
{
    qInfo() << __LINE__ << "download failed:" << message << "getDownloadMode=" << m_downloadMode;
    m_redirectCount = 0;
    // Removed before anyone hears of the failure: nothing truncated is ever passed on.
    removeTargetFile();
    if (m_downloadMode == FirmwareVersionFile) {
        // A firmware check that cannot reach its file just finds nothing new.
        if (g_overallVariate)
            g_overallVariate->emitFirmwareUpdate(false);
    } else {
        reportError(message);
    }
    releaseNetwork();
    if (g_overallVariate)
        g_overallVariate->setBusy(false);
}

QByteArray DownloadFile::getMd5(const QString& text)
{
    QByteArray bytes = text.toLatin1();
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5);
}

QString DownloadFile::createFilePath(QString path)
{
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!path.isEmpty() && !QDir(path).exists() && !QDir().mkpath(path))
        qWarning() << __LINE__ << "createFilePath: cannot create" << path;
    return path;
}

void DownloadFile::reportError(const QString& message)
{
    if (g_overallVariate) {
        g_overallVariate->setBusy(false);
        g_overallVariate->emitErrorInfo(message);
    }
}

void DownloadFile::releaseNetwork()
{
    if (m_paceTimer)
        m_paceTimer->stop();
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->deleteLater();
    }
    delete m_file;
    if (m_networkManager)
        m_networkManager->deleteLater();
    m_reply = nullptr;
    m_file = nullptr;
    m_networkManager = nullptr;
}

void DownloadFile::removeTargetFile()
{
    if (!m_file)
        return;
    m_file->close();
    if (!m_file->remove() && QFileInfo::exists(m_file->fileName()))
        qWarning() << __LINE__ << "cannot remove" << m_file->fileName() << m_file->errorString();
    delete m_file;
    m_file = nullptr;
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
