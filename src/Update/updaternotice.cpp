#include "updaternotice.h"

#include "platform/updaternames.h"
#include "setting/Language.h"
#include "widget/messagebox.h"
#include "widget/regularfile.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace updaternotice {

namespace {

using UpdaterNames::GiveUp;

struct Found {
    QVector<GiveUp> why;
    bool folder = false; // a folder stands at the notice's place
};

// Whether the opened file has more names than this one: then it is not a file the updater wrote.
bool hasOtherNames(const QFile& file)
{
#ifdef Q_OS_WIN
    BY_HANDLE_FILE_INFORMATION opened {};
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    return handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &opened) || opened.nNumberOfLinks != 1;
#else
    struct stat st {};
    return ::fstat(file.handle(), &st) != 0 || st.st_nlink != 1;
#endif
}

// What the notice at path says, then gone. A folder is left alone: it may hold what is not ours.
// Anything else that is no regular file of ours within the bound (a link, a FIFO, a file of other
// names, an oversized one) is removed unread and names nothing: the updater writes none of these, and
// leaves its notice at the spare place instead.
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
    QFile file;
    if (!info.isSymLink() && RegularFile::openForReading(&file, path)) {
        const QByteArray text = file.read(UpdaterNames::MaxNoticeBytes + 1);
        if (hasOtherNames(file))
            qWarning().noquote() << "the updater's notice" << path << "has other names; not read";
        else if (text.size() > UpdaterNames::MaxNoticeBytes)
            qWarning().noquote() << "the updater's notice" << path << "is over" << UpdaterNames::MaxNoticeBytes
                                 << "bytes; not read";
        else if (file.error() == QFileDevice::NoError)
            found.why = UpdaterNames::giveUpsIn(text);
    } else {
        qWarning().noquote() << "no regular file stands at the updater's notice" << path << "; not read";
    }
    file.close();
    // Gone before the box opens: the user is told once, even if the tool ends while it is open.
    if (!QFile::remove(path))
        qWarning().noquote() << "cannot remove the updater's notice" << path << "- it is shown again at the next start";
    return found;
}

// The paragraph for one reason: %1 is the file (or, for a moved folder, the folder) it names, %2 the
// updater's log.
QString reasonText(GiveUp why, const QString& appDir, bool zh)
{
    const QString log = QDir::toNativeSeparators(appDir + QStringLiteral("/log/Upgrade.log"));
    const QString file = QDir::toNativeSeparators(
        why == GiveUp::FolderMoved
            ? appDir
            : appDir + QLatin1Char('/') + (why == GiveUp::Record ? UpdaterNames::record() : UpdaterNames::lock()));
    QString text;
    switch (why) {
    case GiveUp::Record:
        qWarning().noquote() << "the updater could not follow its record" << file << "- see" << log;
        text = zh ? QStringLiteral("上次更新既未完成也未能撤销。其记录 %1 仍在，在它被删除之前不会再安装任何更新；原因见 %2。\n\n"
                                   "请确认 Tessark 运行正常（否则请重新安装），然后删除 %1。")
                  : QStringLiteral("An earlier update could neither be finished nor undone. Its record %1 is still there, "
                                   "and no update is installed until it is deleted; %2 says why.\n\n"
                                   "Check that Tessark works as it should (reinstall it if it does not), then delete %1.");
        break;
    case GiveUp::Lock:
        qWarning().noquote() << "the updater could not take its lock" << file << "- see" << log;
        text = zh ? QStringLiteral("更新未能安装：更新程序无法锁定 %1（那里是链接、文件夹、管道或无法打开的文件），"
                                   "在它被删除之前不会再安装任何更新；原因见 %2。\n\n请删除 %1，然后重新检查更新。")
                  : QStringLiteral("An update was not installed: the updater cannot lock %1 (a link, a folder, a pipe or a "
                                   "file it cannot open stands there), and no update is installed until it is deleted; "
                                   "%2 says why.\n\nDelete %1, then look for the update again.");
        break;
    case GiveUp::LockHeld:
        qWarning().noquote() << "another process held the updater's lock" << file << "- see" << log;
        text = zh ? QStringLiteral("更新未能安装：更新程序等待期间，其锁 %1 一直被另一个程序占用；详情见 %2。\n\n"
                                   "如果 Tessark 未被更新，请确认没有正在进行的更新，删除 %1，然后重新检查更新。")
                  : QStringLiteral("An update was not installed: another program held the updater's lock %1 for as long "
                                   "as the updater waited; %2 says more.\n\nIf Tessark was not brought up to date, make "
                                   "sure no update is still running, delete %1, then look for the update again.");
        break;
    case GiveUp::LockLost:
        qWarning().noquote() << "the updater's lock" << file << "was replaced while it copied - see" << log;
        text = zh ? QStringLiteral("更新未能安装：更新程序复制文件期间，另一个程序替换了它的锁 %1，更新程序因此停止；"
                                   "它恢复了哪些文件，见 %2。\n\n请确认没有正在进行的更新，然后重新检查更新。")
                  : QStringLiteral("An update was not installed: while the updater copied, another program replaced its "
                                   "lock %1, so it stopped; %2 says which files it put back.\n\nMake sure no update is "
                                   "still running, then look for the update again.");
        break;
    case GiveUp::FolderMoved:
        qWarning().noquote() << "the folder" << file << "was moved away while the updater worked on it - see" << log;
        text = zh ? QStringLiteral("更新未能安装：更新程序工作期间，Tessark 所在的文件夹被移到了现在的位置 %1，更新程序因此停止，"
                                   "并在这里撤销了它的更改（未能撤销的部分由下一次更新完成）；文件夹原来位置上的内容未被改动。详情见 %2。\n\n"
                                   "请从您平常使用的 Tessark 文件夹启动程序，然后重新检查更新。")
                  : QStringLiteral("An update was not installed: while the updater worked on it, the Tessark folder was "
                                   "moved to where it is now, %1. The updater stopped and undid its changes here (what it "
                                   "could not undo, the next update does); "
                                   "nothing where the folder was before was changed. %2 says more.\n\n"
                                   "Start Tessark from the folder you use, then look for the update again.");
        break;
    }
    return text.arg(file, log);
}

QString stagingText(const QString& folder, const QString& link, bool zh)
{
    const QString where = QDir::toNativeSeparators(folder);
    if (!link.isEmpty()) {
        const QString linked = QDir::toNativeSeparators(link);
        return zh ? QStringLiteral("更新未能下载：存放更新文件的文件夹 %1 须经由链接 %2 才能到达，而更新不会经由链接写入任何文件。\n\n"
                                   "请删除链接 %2（它所指向的内容不受影响），然后重新检查更新。")
                        .arg(where, linked)
                  : QStringLiteral("An update was not downloaded: the folder %1, where it keeps its files, is reached "
                                   "through the link %2, and an update writes nothing through a link.\n\n"
                                   "Delete the link %2 (what it points at stays), then look for the update again.")
                        .arg(where, linked);
    }
    return zh ? QStringLiteral("更新未能下载：先前的更新留在 %1 中的文件无法删除，而新的更新会连同它们一起使用。\n\n"
                               "请删除 %1，然后重新检查更新。")
                    .arg(where)
              : QStringLiteral("An update was not downloaded: what an earlier update left in %1 cannot be removed, "
                               "and the new one would take it with its own files.\n\n"
                               "Delete %1, then look for the update again.")
                    .arg(where);
}

} // namespace

void stagingUnusable(const QString& folder, const QString& link)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    // Queued to the application object, so the box opens on its thread, after the worker went on.
    QMetaObject::invokeMethod(
        app,
        [folder, link] {
            const bool zh = chineseInterface();
            messagebox::warning(nullptr, zh ? QStringLiteral("更新") : QStringLiteral("Update"),
                                stagingText(folder, link, zh));
        },
        Qt::QueuedConnection);
}

void updaterDamaged(const QString& program)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app,
        [program] {
            const bool zh = chineseInterface();
            const QString where = QDir::toNativeSeparators(program);
            // The digest stays in the folder: an installer that only writes its files leaves it there.
            const QString folder = QDir::toNativeSeparators(QFileInfo(program).path());
            messagebox::warning(
                nullptr, zh ? QStringLiteral("更新") : QStringLiteral("Update"),
                zh ? QStringLiteral("更新未能安装：更新程序 %1 与放置时记录的内容不一致（它已损坏或被改动），因此未被启动。\n\n"
                                    "请删除文件夹 %2，重新安装 Tessark，然后重新检查更新。")
                         .arg(where, folder)
                   : QStringLiteral("An update was not installed: the updater %1 is not as it was when it was put in "
                                    "place (it is damaged or was changed), so it was not started.\n\n"
                                    "Delete the folder %2, install Tessark again, then look for the update again.")
                         .arg(where, folder));
        },
        Qt::QueuedConnection);
}

void tellIfAny(QWidget* parent, const QString& appDir)
{
    const QString place = appDir + QLatin1Char('/') + UpdaterNames::notice();
    const Found first = take(place);
    const Found spare = take(appDir + QLatin1Char('/') + UpdaterNames::spareNotice());
    const bool zh = chineseInterface();
    QStringList paragraphs;
    for (const GiveUp why : {GiveUp::Record, GiveUp::Lock, GiveUp::LockHeld, GiveUp::LockLost, GiveUp::FolderMoved}) {
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
