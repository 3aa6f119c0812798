// The version files (INI) and link files (XML) the download server describes updates with.
#include "downloadfile.h"

QStringList DownloadFile::ReadTessarkSettings(QString) { return {}; }
void DownloadFile::ReadVersionsFile(QString) {}
QStringList DownloadFile::ReadFirmwareSettings(QString) { return {}; }
void DownloadFile::ReadFirmwareVersionsFile(QString) {}
std::unique_ptr<QDomDocument> DownloadFile::openXMLDomDocument(QString) { return nullptr; }
bool DownloadFile::parseTessrakUrlXml(UrlInfo&, QString) { return false; }
bool DownloadFile::parseFirmwareUrlXml(UrlInfo&, QString) { return false; }
bool DownloadFile::isNewerVersion(const QString& server, const QString& installed)
{
    return QString::compare(server, installed, Qt::CaseSensitive) > 0;
}
