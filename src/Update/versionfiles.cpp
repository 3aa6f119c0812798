// The version files (INI) and link files (XML) the download server describes updates with.
#include "downloadfile.h"

#include "Update/overallvariate.h"
#include "setting/Language.h"
#include "widget/fileguard.h"

#include <QDebug>
#include <QFileInfo>
#include <QSettings>

namespace {

QString updateInfoKey()
{
    return chineseInterface() ? QStringLiteral("ChineseUpdateInfo") : QStringLiteral("EnglishUpdateInfo");
}

// Digits only, at least one.
bool isDecimal(const QString& part)
{
    if (part.isEmpty())
        return false;
    for (const QChar c : part) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

// Two decimal texts of any length, without converting them (no overflow).
int compareDecimal(const QString& a, const QString& b)
{
    int i = 0;
    while (i + 1 < a.size() && a.at(i) == QLatin1Char('0'))
        ++i;
    int j = 0;
    while (j + 1 < b.size() && b.at(j) == QLatin1Char('0'))
        ++j;
    const QStringRef x = a.midRef(i);
    const QStringRef y = b.midRef(j);
    if (x.size() != y.size())
        return x.size() < y.size() ? -1 : 1;
    const int c = x.compare(y);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// Numeric part by part when every dot-separated part of both is decimal (missing parts count 0), so
// 1.0.10 follows 1.0.9; otherwise the texts' plain comparison. Negative, 0 or positive as QString::compare.
int compareVersions(const QString& a, const QString& b)
{
    const QStringList pa = a.split(QLatin1Char('.'));
    const QStringList pb = b.split(QLatin1Char('.'));
    bool numeric = true;
    for (const QString& p : pa)
        numeric = numeric && isDecimal(p);
    for (const QString& p : pb)
        numeric = numeric && isDecimal(p);
    if (!numeric)
        return QString::compare(a, b, Qt::CaseSensitive);
    const int n = qMax(pa.size(), pb.size());
    for (int k = 0; k < n; ++k) {
        const int c = compareDecimal(pa.value(k, QStringLiteral("0")), pb.value(k, QStringLiteral("0")));
        if (c != 0)
            return c;
    }
    return 0;
}

// The values of keys in one group of a version file; a missing key, or a file that is not a regular
// file of bounded size (QSettings would block on a FIFO and read any size), reads as empty text.
QStringList readIniTexts(const QString& path, const QString& group, const QStringList& keys)
{
    QStringList texts;
    QByteArray content;
    if (FileGuard::readFile(path, &content) != FileGuard::Result::Read) {
        for (int i = 0; i < keys.size(); ++i)
            texts << QString();
        return texts;
    }
    QSettings settings(path, QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    settings.beginGroup(group);
    for (const QString& key : keys) {
        const QVariant value = settings.value(key);
        // An unquoted value holding a comma comes back as a list; the update texts are plain text.
        texts << (value.type() == QVariant::StringList ? value.toStringList().join(QStringLiteral(", "))
                                                        : value.toString());
    }
    return texts;
}

} // namespace

bool DownloadFile::isNewerVersion(const QString& server, const QString& installed)
{
    return compareVersions(server, installed) > 0;
}

QStringList DownloadFile::ReadTessarkSettings(QString path)
{
    return readIniTexts(path, QStringLiteral("TessarkVersion"), {QStringLiteral("Version"), updateInfoKey()});
}

void DownloadFile::ReadVersionsFile(QString path)
{
    const QStringList list = ReadTessarkSettings(path);
    const QString server = list.value(0);
    qDebug() << __LINE__ << "compareTessarkVersion=" << compareVersions(m_tessarkVersion, server);
    if (!g_overallVariate)
        return;
    if (isNewerVersion(server, m_tessarkVersion)) {
        qDebug() << __LINE__ << "有新版本";
        g_overallVariate->emitTessarkUpdate(true);
        g_overallVariate->emitTessarkUpdateInfo(list.value(1));
    } else {
        qDebug() << __LINE__ << "当前为最新版";
        g_overallVariate->emitTessarkUpdate(false);
    }
}

QStringList DownloadFile::ReadFirmwareSettings(QString path)
{
    QStringList keys;
    if (m_modelType == 0)
        keys << QStringLiteral("qv_usb_app_Version");
    else if (m_modelType == 1)
        keys << QStringLiteral("qv_usb_app_Version") << QStringLiteral("qv_bt_app_Version")
             << QStringLiteral("qv_bt_sd_Version");
    keys << updateInfoKey();
    QStringList list = readIniTexts(path, QStringLiteral("FirmwareVersion"), keys);
    const QString text = list.takeLast();
    for (const QString& entry : list)
        qDebug() << __LINE__ << "VersionList==" << entry << list.size();
    list << text;
    return list;
}

void DownloadFile::ReadFirmwareVersionsFile(QString path)
{
    const QStringList list = ReadFirmwareSettings(path);
    if (list.isEmpty()) {
        qDebug() << __LINE__ << "Firmware 文件读取错误";
        reportError(QStringLiteral("Firmware 文件读取错误"));
        return;
    }
    qDebug() << __LINE__ << "USB_APP_Version=" << m_usbAppVersion << m_modelType;
    if (g_overallVariate)
        g_overallVariate->setOfferedUsbVersion(list.value(0));
    qDebug() << __LINE__ << "compareVersion=" << compareVersions(list.value(0), m_usbAppVersion);
    if (!g_overallVariate)
        return;
    if (m_modelType == 0 && isNewerVersion(list.value(0), m_usbAppVersion)) {
        qDebug() << __LINE__ << "有新版本";
        g_overallVariate->emitFirmwareUpdate(true);
        g_overallVariate->emitFirmwareUpdateInfo(list.value(1));
        return;
    }
    if (m_modelType == 1
        && (isNewerVersion(list.value(0), m_usbAppVersion) || isNewerVersion(list.value(1), m_btAppVersion)
            || isNewerVersion(list.value(2), m_btSdVersion))) {
        qDebug() << __LINE__ << "有新版本";
        g_overallVariate->emitFirmwareUpdate(true);
        g_overallVariate->emitFirmwareUpdateInfo(list.value(3));
        return;
    }
    qDebug() << __LINE__ << "当前版本已是最新版";
    g_overallVariate->emitFirmwareUpdate(false);
}

std::unique_ptr<QDomDocument> DownloadFile::openXMLDomDocument(QString path)
{
    auto doc = std::make_unique<QDomDocument>();
    FileGuard::XmlError error;
    switch (FileGuard::loadDom(path, doc.get(), &error)) {
    case FileGuard::Result::Read:
        return doc;
    case FileGuard::Result::Unreadable:
    case FileGuard::Result::Refused: // logged by the guard
        return nullptr;
    case FileGuard::Result::Malformed:
        break;
    }
    qDebug() << __LINE__ << "Open XML file failed:" << QFileInfo(path).fileName() << error.line << "---"
             << error.column << ":" << error.text;
    return nullptr;
}

bool DownloadFile::parseTessrakUrlXml(UrlInfo& info, QString path)
{
    const std::unique_ptr<QDomDocument> doc = openXMLDomDocument(path);
    if (!doc) {
        qDebug() << __LINE__ << "读取xml错误";
        return false;
    }
    const QString links = QStringLiteral("tools_FileURL_") + m_tessarkVersion;
    const QString deletes = QStringLiteral("tools_DeleteFile_") + m_tessarkVersion;
    for (QDomElement e = doc->documentElement().firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        const QString tag = e.tagName();
        if (tag == links || tag == deletes) {
            QStringList& target = tag == links ? info.linkList : info.deleteList;
            int position = 0;
            for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement(), ++position) {
                if (c.tagName() != QLatin1String("FileURL"))
                    continue;
                const QString url = c.attribute(QStringLiteral("url"));
                qDebug() << __LINE__ << "value=" << url << position;
                target << url;
            }
        } else if (tag == QLatin1String("tools_info")) {
            int position = 0;
            for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement(), ++position) {
                if (c.tagName() == QLatin1String("Chinese")) {
                    qDebug() << __LINE__ << "value=" << c.attribute(QStringLiteral("synopsis")) << position;
                    info.synopsis = c.attribute(QStringLiteral("synopsis"));
                } else if (c.tagName() == QLatin1String("English")) {
                    info.synopsis = c.attribute(QStringLiteral("synopsis"));
                }
            }
        }
    }
    return true;
}

bool DownloadFile::parseFirmwareUrlXml(UrlInfo& info, QString path)
{
    const std::unique_ptr<QDomDocument> doc = openXMLDomDocument(path);
    if (!doc) {
        qDebug() << __LINE__ << "读取xml错误";
        reportError(QStringLiteral("读取xml错误"));
        return false;
    }
    const QString folder = QStringLiteral("/UpgradeFirmware/") + m_modelDir;
    for (QDomElement e = doc->documentElement().firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        if (e.tagName() != QLatin1String("Firmware_FileURL"))
            continue;
        int position = 0;
        for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement(), ++position) {
            if (c.tagName() != QLatin1String("FileURL"))
                continue;
            qDebug() << __LINE__ << "qv_usb_app=" << c.attribute(QStringLiteral("qv_usb_app")) << position;
            if (m_modelType == 0) {
                info.linkList << folder + c.attribute(QStringLiteral("qv_usb_app"));
            } else if (m_modelType == 1) {
                info.linkList << folder + c.attribute(QStringLiteral("qv_usb_app"))
                              << folder + c.attribute(QStringLiteral("qv_bt_app"))
                              << folder + c.attribute(QStringLiteral("qv_bt_sd"));
            }
        }
    }
    return true;
}
