#include "updaternotice.h"

#include "platform/updaternames.h"
#include "setting/Language.h"
#include "widget/messagebox.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace updaternotice {

void tellIfAny(QWidget* parent, const QString& appDir)
{
    const QString notice = appDir + QLatin1Char('/') + UpdaterNames::notice();
    const QFileInfo info(notice);
    if ((!info.exists() && !info.isSymLink()) || (info.isDir() && !info.isSymLink()))
        return;
    // Gone before the box opens: the user is told once, even if the tool ends while it is open.
    if (!QFile::remove(notice))
        qWarning().noquote() << "cannot remove the updater's notice" << notice << "- it is shown again at the next start";
    const QString record = QDir::toNativeSeparators(appDir + QLatin1Char('/') + UpdaterNames::record());
    const QString log = QDir::toNativeSeparators(appDir + QStringLiteral("/log/Upgrade.log"));
    qWarning().noquote() << "the updater could not follow its record" << record << "- see" << log;
    const bool zh = chineseInterface();
    const QString text =
        zh ? QStringLiteral("上次更新既未完成也未能撤销。其记录 %1 仍在，在它被删除之前不会再安装任何更新；原因见 %2。\n\n"
                            "请确认 Tessark 运行正常（否则请重新安装），然后删除 %1。")
                 .arg(record, log)
           : QStringLiteral("An earlier update could neither be finished nor undone. Its record %1 is still there, "
                            "and no update is installed until it is deleted; %2 says why.\n\n"
                            "Check that Tessark works as it should (reinstall it if it does not), then delete %1.")
                 .arg(record, log);
    messagebox::warning(parent, zh ? QStringLiteral("更新") : QStringLiteral("Update"), text);
}

} // namespace updaternotice
