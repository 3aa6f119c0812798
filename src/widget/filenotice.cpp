#include "filenotice.h"

#include "setting/Language.h"
#include "widget/messagebox.h"
#include "widget/noticequeue.h"

#include <QDebug>
#include <QDir>
#include <QStringList>

namespace {

enum class Kind {
    Unreadable,
    UnreadableReplaced,
    SaveFailed,
    SaveFailedBecause,
    KeptBeforeSave,
    CatalogueUnmatched,
    DescriptionUnreadable,
    EffectsUnreadable,
    EffectsPartlyRead
};

struct Notice {
    Kind kind = Kind::Unreadable;
    QString path;
    QString keptAs; // for SaveFailedBecause, the reason
    // One per kind and file in an action.
    bool operator==(const Notice& o) const { return kind == o.kind && path == o.path; }
};

NoticeQueue<Notice> g_queue;

QString line(const Notice& n)
{
    const QString path = QDir::toNativeSeparators(n.path);
    if (n.kind == Kind::KeptBeforeSave) {
        const QString kept = QDir::toNativeSeparators(n.keptAs);
        return chineseInterface() ? QStringLiteral("%1 在保存前的内容已另存为 %2。").arg(path, kept)
                                  : QStringLiteral("%1 as it was before this save is kept as %2.").arg(path, kept);
    }
    if (n.kind == Kind::UnreadableReplaced) {
        const QString kept = QDir::toNativeSeparators(n.keptAs);
        return chineseInterface()
                   ? QStringLiteral("无法读取 %1，原文件已另存为 %2，%1 已改为当前使用的设置。").arg(path, kept)
                   : QStringLiteral("Could not read %1; it is kept as %2, and %1 now holds the settings in use.")
                         .arg(path, kept);
    }
    if (n.kind == Kind::CatalogueUnmatched)
        return chineseInterface() ? QStringLiteral("%1 中缺少部分按键的功能，这些按键已保存的设置保持不变。").arg(path)
                                  : QStringLiteral("%1 does not describe the function of every key; what is saved "
                                                   "for those keys is kept as it is.")
                                        .arg(path);
    if (n.kind == Kind::DescriptionUnreadable)
        return chineseInterface() ? QStringLiteral("无法读取 %1，在该文件恢复之前无法显示其描述的键盘。").arg(path)
                                  : QStringLiteral("Could not read %1; the keyboards it describes cannot be shown "
                                                   "until it is restored.")
                                        .arg(path);
    // The file is never written: what the user loses is the effect list, at every opening until then.
    if (n.kind == Kind::EffectsUnreadable)
        return chineseInterface() ? QStringLiteral("无法读取 %1，在该文件恢复之前灯效列表将保持为空。").arg(path)
                                  : QStringLiteral("Could not read %1; the lighting effect list stays empty until "
                                                   "it is restored.")
                                        .arg(path);
    if (n.kind == Kind::EffectsPartlyRead)
        return chineseInterface()
                   ? QStringLiteral("%1 中有些数值无法读取，在该文件恢复之前这些灯效参数按 0 处理。").arg(path)
                   : QStringLiteral("Some values in %1 do not read; the lighting effects take 0 for them until "
                                    "it is restored.")
                         .arg(path);
    if (n.kind == Kind::SaveFailedBecause)
        return chineseInterface() ? QStringLiteral("无法保存 %1：%2。原文件未被修改。").arg(path, n.keptAs)
                                  : QStringLiteral("Could not save %1: %2. The file on disk was not changed.")
                                        .arg(path, n.keptAs);
    if (n.kind == Kind::SaveFailed)
        return chineseInterface() ? QStringLiteral("无法保存 %1，原文件未被修改。").arg(path)
                         : QStringLiteral("Could not save %1; the file on disk was not changed.").arg(path);
    QString text = chineseInterface() ? QStringLiteral("无法读取 %1，已保存的设置未被覆盖。").arg(path)
                             : QStringLiteral("Could not read %1; the settings saved on disk were not written over.")
                                   .arg(path);
    if (!n.keptAs.isEmpty())
        text += chineseInterface() ? QStringLiteral("原文件已另存为 %1。").arg(QDir::toNativeSeparators(n.keptAs))
                          : QStringLiteral(" A copy of it is kept as %1.").arg(QDir::toNativeSeparators(n.keptAs));
    return text;
}

void queue(const Notice& n)
{
    g_queue.add(n, &filenotice::flush);
}

} // namespace

namespace filenotice {

void saveFailed(const QString& path, const QString& reason)
{
    qWarning().noquote() << QStringLiteral("File not saved: \"%1\": %2").arg(path, reason);
    queue({Kind::SaveFailed, path, QString()});
}

void saveFailedBecause(const QString& path, const QString& reason)
{
    qWarning().noquote() << QStringLiteral("File not saved: \"%1\": %2").arg(path, reason);
    queue({Kind::SaveFailedBecause, path, reason});
}

void unreadable(const QString& path, const QString& keptAs)
{
    qWarning().noquote() << QStringLiteral("File does not read: \"%1\"").arg(path)
                         << (keptAs.isEmpty() ? QStringLiteral("- left as it is")
                                              : QStringLiteral("- kept as \"%1\"").arg(keptAs));
    queue({Kind::Unreadable, path, keptAs});
}

void unreadableReplaced(const QString& path, const QString& keptAs)
{
    qWarning().noquote()
        << QStringLiteral("File does not read: \"%1\" - kept as \"%2\", replaced by the settings in use")
               .arg(path, keptAs);
    queue({Kind::UnreadableReplaced, path, keptAs});
}

void descriptionUnreadable(const QString& path)
{
    qWarning().noquote() << QStringLiteral("File does not read: \"%1\" - what it describes is not shown").arg(path);
    queue({Kind::DescriptionUnreadable, path, QString()});
}

void effectsUnreadable(const QString& path, bool partly)
{
    qWarning().noquote() << QStringLiteral("File does not read: \"%1\" - %2")
                                .arg(path, partly ? QStringLiteral("values that do not read count as 0")
                                                  : QStringLiteral("the lighting effect list stays empty"));
    queue({partly ? Kind::EffectsPartlyRead : Kind::EffectsUnreadable, path, QString()});
}

void keptBeforeSave(const QString& path, const QString& keptAs)
{
    qWarning().noquote()
        << QStringLiteral("File kept before it was saved over: \"%1\" - kept as \"%2\"").arg(path, keptAs);
    queue({Kind::KeptBeforeSave, path, keptAs});
}

void catalogueUnmatched(const QString& path)
{
    qWarning().noquote()
        << QStringLiteral("Key function catalogue lacks functions the keyboard holds: \"%1\"").arg(path);
    queue({Kind::CatalogueUnmatched, path, QString()});
}

void flush()
{
    const QString text = g_queue.takeText(&line);
    if (text.isEmpty())
        return;
    messagebox::warning(nullptr, chineseInterface() ? QStringLiteral("警告") : QStringLiteral("Warning"),
                        text);
}

int pending()
{
    return g_queue.size();
}

} // namespace filenotice
