#include "updatesamples.h"

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QPair>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>

namespace sim {

namespace {

bool writeIni(const QString& path, const QString& group, const QList<QPair<QString, QString>>& values)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSettings ini(path, QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    ini.clear();
    ini.beginGroup(group);
    for (const auto& v : values)
        ini.setValue(v.first, v.second);
    ini.endGroup();
    ini.sync();
    return ini.status() == QSettings::NoError;
}

} // namespace

bool writeSampleTool(const QString& root, const QString& version)
{
    return writeIni(root + QStringLiteral("/UpgradeTessark/Windows/VersionFile/TessarkVersion.ini"),
                    QStringLiteral("TessarkVersion"),
                    {{QStringLiteral("Version"), version},
                     {QStringLiteral("ChineseUpdateInfo"), QStringLiteral("新版本 %1").arg(version)},
                     {QStringLiteral("EnglishUpdateInfo"), QStringLiteral("New version %1").arg(version)}});
}

bool writeSampleFirmware(const QString& root, const QString& model, const QString& version)
{
    const QString dir = root + QStringLiteral("/UpgradeFirmware/") + model;
    if (!writeIni(dir + QStringLiteral("/VersionFile/FirmwareVersion.ini"), QStringLiteral("FirmwareVersion"),
                  {{QStringLiteral("qv_usb_app_Version"), version},
                   {QStringLiteral("ChineseUpdateInfo"), QStringLiteral("新固件 %1").arg(version)},
                   {QStringLiteral("EnglishUpdateInfo"), QStringLiteral("New firmware %1").arg(version)}}))
        return false;
    const QString xmlPath = dir + QStringLiteral("/URLFile/FirmwareFileURL.xml");
    if (!QDir().mkpath(QFileInfo(xmlPath).absolutePath()))
        return false;
    QString name = QStringLiteral("/qv_usb_app_%1.bin").arg(version);
    name.replace(QLatin1Char('&'), QLatin1String("&amp;")).replace(QLatin1Char('"'), QLatin1String("&quot;"))
        .replace(QLatin1Char('<'), QLatin1String("&lt;"));
    QSaveFile xml(xmlPath);
    if (!xml.open(QIODevice::WriteOnly))
        return false;
    xml.write("<root><Firmware_FileURL><FileURL qv_usb_app=\"" + name.toUtf8() +
              "\" qv_bt_app=\"\" qv_bt_sd=\"\"/></Firmware_FileURL></root>\n");
    return xml.commit();
}

int keyboardVersionNumber(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 3 || parts[0].size() > 3)
        return -1;
    bool ok[3] = {};
    const int v = parts[0].toInt(&ok[0]) * 100 + parts[1].toInt(&ok[1]) * 10 + parts[2].toInt(&ok[2]);
    // Only the text the tool itself would show: no sign, no leading zero, single-digit minor parts.
    if (!ok[0] || !ok[1] || !ok[2] || v < 0 || v > 0xFFFF || keyboardVersionText(v) != text)
        return -1;
    return v;
}

QString keyboardVersionText(int v)
{
    return QStringLiteral("%1.%2.%3").arg(v / 100).arg(v % 100 / 10).arg(v % 10);
}

} // namespace sim
