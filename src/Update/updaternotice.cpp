#include "updaternotice.h"

#include "platform/updaternames.h"
#include "setting/Language.h"
#include "widget/messagebox.h"
#include "widget/regularfile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace updaternotice {

namespace {

using UpdaterNames::GiveUp;

struct Found {
    QVector<GiveUp> why;
    bool folder = false; // a folder stands at the notice's place
};

// What the notice at path says, then gone. A folder is left alone: it may hold what is not ours.
// Anything else that is not a regular file is removed unread and, as an empty notice of an older
// updater, tells of the record.
Found take(const QString& path)
{
    Found found;
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return found;
    if (info.isDir() && !info.isSymLink()) {
        found.folder = true;
        return found;
    }
    QByteArray text;
    QFile file;
    if (info.isFile() && !info.isSymLink() && RegularFile::openForReading(&file, path))
        text = file.read(UpdaterNames::MaxNoticeBytes);
    file.close();
    found.why = UpdaterNames::giveUpsIn(text);
    // Gone before the box opens: the user is told once, even if the tool ends while it is open.
    if (!QFile::remove(path))
        qWarning().noquote() << "cannot remove the updater's notice" << path << "- it is shown again at the next start";
    return found;
}

QString reasonText(GiveUp why, const QString& appDir, bool zh)
{
    const QString log = QDir::toNativeSeparators(appDir + QStringLiteral("/log/Upgrade.log"));
    switch (why) {
    case GiveUp::Record: {
        const QString record = QDir::toNativeSeparators(appDir + QLatin1Char('/') + UpdaterNames::record());
        qWarning().noquote() << "the updater could not follow its record" << record << "- see" << log;
        return zh ? QStringLiteral("上次更新既未完成也未能撤销。其记录 %1 仍在，在它被删除之前不会再安装任何更新；原因见 %2。\n\n"
                                   "请确认 Tessark 运行正常（否则请重新安装），然后删除 %1。")
                        .arg(record, log)
                  : QStringLiteral("An earlier update could neither be finished nor undone. Its record %1 is still there, "
                                   "and no update is installed until it is deleted; %2 says why.\n\n"
                                   "Check that Tessark works as it should (reinstall it if it does not), then delete %1.")
                        .arg(record, log);
    }
    case GiveUp::Lock: {
        const QString lock = QDir::toNativeSeparators(appDir + QLatin1Char('/') + UpdaterNames::lock());
        qWarning().noquote() << "the updater could not take its lock" << lock << "- see" << log;
        return zh ? QStringLiteral("更新未能安装：更新程序无法锁定 %1（那里是链接、文件夹、管道或无法打开的文件），"
                                   "在它被删除之前不会再安装任何更新；原因见 %2。\n\n请删除 %1，然后重新检查更新。")
                        .arg(lock, log)
                  : QStringLiteral("An update was not installed: the updater cannot lock %1 (a link, a folder, a pipe or a "
                                   "file it cannot open stands there), and no update is installed until it is deleted; "
                                   "%2 says why.\n\nDelete %1, then look for the update again.")
                        .arg(lock, log);
    }
    case GiveUp::LockHeld: {
        const QString lock = QDir::toNativeSeparators(appDir + QLatin1Char('/') + UpdaterNames::lock());
        qWarning().noquote() << "another process held the updater's lock" << lock << "- see" << log;
        return zh ? QStringLiteral("更新未能安装：更新程序等待期间，其锁 %1 一直被另一个程序占用；详情见 %2。\n\n"
                                   "如果 Tessark 未被更新，请确认没有正在进行的更新，删除 %1，然后重新检查更新。")
                        .arg(lock, log)
                  : QStringLiteral("An update was not installed: another program held the updater's lock %1 for as long "
                                   "as the updater waited; %2 says more.\n\nIf Tessark was not brought up to date, make "
                                   "sure no update is still running, delete %1, then look for the update again.")
                        .arg(lock, log);
    }
    }
    return QString();
}

} // namespace

void tellIfAny(QWidget* parent, const QString& appDir)
{
    const QString place = appDir + QLatin1Char('/') + UpdaterNames::notice();
    const Found first = take(place);
    const Found spare = take(appDir + QLatin1Char('/') + UpdaterNames::spareNotice());
    const bool zh = chineseInterface();
    QStringList paragraphs;
    for (const GiveUp why : {GiveUp::Record, GiveUp::Lock, GiveUp::LockHeld}) {
        if (first.why.contains(why) || spare.why.contains(why))
            paragraphs << reasonText(why, appDir, zh);
    }
    if (paragraphs.isEmpty())
        return;
    // The updater left this at the spare place; later notices need the first one free.
    if (first.folder) {
        const QString folder = QDir::toNativeSeparators(place);
        qWarning().noquote() << "a folder stands where the updater leaves its notice:" << folder;
        paragraphs << (zh ? QStringLiteral("更新程序无法在通常的位置留下此通知：%1 是一个文件夹。请删除它，以便今后的通知能够送达。")
                                .arg(folder)
                          : QStringLiteral("The updater could not leave this notice in its usual place: %1 is a folder. "
                                           "Delete it, so that later notices reach you.")
                                .arg(folder));
    }
    messagebox::warning(parent, zh ? QStringLiteral("更新") : QStringLiteral("Update"), paragraphs.join(QStringLiteral("\n\n")));
}

} // namespace updaternotice
