#include "macronotice.h"

#include "device/resultcodes.h"
#include "setting/Language.h"
#include "widget/messagebox.h"
#include "widget/noticequeue.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QSet>
#include <QStringList>
#include <QTimer>

#include <utility>

namespace {

// In the order the box tells them.
enum class Kind {
    ListUnreadable,
    ListLinked,
    BackNotDownloaded,
    BackTooLong,
    BackRenamed,
    NoFreeSlot,
    NotRemembered,
    RememberedOlder
};

struct Notice {
    Kind kind = Kind::BackNotDownloaded;
    QString name; // the list's path for ListUnreadable
    QString other; // the new name, the file, or the list's copy
    QString spare; // the list's spare place
    int frames = 0; // ListUnreadable: the entries that read
    int most = 0;   // ListUnreadable: those that did not, -1 uncounted
};

QList<Notice> g_queue;
QSet<QString> g_listsTold; // GUI thread only

void queue(const Notice& n)
{
    for (const Notice& q : qAsConst(g_queue)) {
        if (q.kind == n.kind && q.name == n.name)
            return;
    }
    g_queue.append(n);
    // The box never opens inside the code that set the macros aside or brought them back.
    if (g_queue.size() == 1 && QCoreApplication::instance())
        QTimer::singleShot(0, QCoreApplication::instance(), &macronotice::flush);
}

// "a", "b", ... and n more: one line however many there are.
QString names(const QStringList& all, bool zh)
{
    QStringList shown;
    for (int i = 0; i < all.size() && i < macronotice::MaxNamed; ++i)
        shown << (zh ? QStringLiteral("“%1”") : QStringLiteral("\"%1\"")).arg(all[i]);
    QString text = shown.join(zh ? QStringLiteral("、") : QStringLiteral(", "));
    const int rest = all.size() - shown.size();
    if (rest > 0)
        text += zh ? QStringLiteral("等，另有 %1 个").arg(rest) : QStringLiteral(" and %1 more").arg(rest);
    return text;
}

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// How much of a damaged list read: its entries come back (or stay kept) as told below the list's notice.
QString countText(const Notice& n, bool zh)
{
    const int read = n.frames, unread = n.most;
    if (unread < 0 || (read == 0 && unread > 0))
        return zh ? QStringLiteral("其中的宏都无法读取。") : QStringLiteral(" None of the macros in it could be read.");
    return zh ? QStringLiteral("其中 %1 个宏已读取并保留，%2 个无法读取。").arg(read).arg(unread)
              : QStringLiteral(" Of the macros in it, %1 read and are kept; %2 did not read.").arg(read).arg(unread);
}

QString listText(const Notice& n, bool zh)
{
    const QString path = native(n.name);
    QString text;
    if (n.kind == Kind::ListLinked)
        text = zh ? QStringLiteral("保留的宏列表的位置 %1 是一个链接；它及其指向的文件都保持原样，不会被读取或写入。").arg(path)
                  : QStringLiteral("A link stands at %1, a place of the list of macros kept aside: it is left alone, "
                                   "and what it points to is neither read nor written.")
                        .arg(path);
    else if (!n.other.isEmpty())
        text = (zh ? QStringLiteral("保留的宏列表 %1 有部分内容无法读取，原文件已另存为 %2。")
                   : QStringLiteral("The list of macros kept aside, %1, did not read in full. It is kept as %2."))
                   .arg(path, native(n.other))
               + countText(n, zh);
    else
        text = zh ? QStringLiteral("无法读取保留的宏列表 %1，也无法另存其副本（那里可能是文件夹、管道或无法打开的文件），"
                                   "因此保持原样；其中若有宏，不会回到页面。")
                        .arg(path)
                  : QStringLiteral("Could not read %1, the list of macros kept aside, nor keep a copy of it (a folder, a "
                                   "pipe or a file that cannot be opened may stand there), so it is left as it is, "
                                   "and any macros it may hold do not come back.")
                        .arg(path);
    if (!n.spare.isEmpty())
        text += zh ? QStringLiteral("今后保留的宏记录在 %1 中。").arg(native(n.spare))
                   : QStringLiteral(" Macros kept aside are remembered in %1 instead.").arg(native(n.spare));
    else if (n.kind == Kind::ListLinked)
        text += zh ? QStringLiteral("另一个位置也无法使用：保留的宏只在程序运行期间保留。")
                   : QStringLiteral(" The other place cannot be used either: macros kept aside are kept only while "
                                    "Tessark runs.");
    return text;
}

QString oneText(const Notice& n, bool zh)
{
    switch (n.kind) {
    case Kind::ListUnreadable:
    case Kind::ListLinked:
        return listText(n, zh);
    case Kind::BackNotDownloaded:
        return zh ? QStringLiteral("键盘断开或程序关闭时宏“%1”尚未下载。该宏及其全部按键事件已回到页面上；请下载以保存到键盘。")
                        .arg(n.name)
                  : QStringLiteral("The macro \"%1\" had not been downloaded when the keyboard left or Tessark "
                                   "closed. It is back on the page with all its events; download it to keep it on "
                                   "the keyboard.")
                        .arg(n.name);
    case Kind::BackTooLong:
        return (zh ? QStringLiteral("宏“%1”及其全部按键事件已回到页面上，但它需要 %2 帧，键盘最多只能保存 %3 帧；请缩短后再下载。")
                   : QStringLiteral("The macro \"%1\" is back on the page with all its events, but it needs %2 frames "
                                    "and the keyboard holds at most %3: shorten it before downloading it."))
            .arg(n.name, QString::number(n.frames), QString::number(n.most));
    case Kind::BackRenamed:
        return zh ? QStringLiteral("宏“%1”已回到页面上，但名称改为“%2”，因为另一个宏已使用“%1”。该宏保留全部按键事件，"
                                   "尚未下载到键盘。")
                        .arg(n.name, n.other)
                  : QStringLiteral("The macro \"%1\" is back on the page as \"%2\": another macro uses the name "
                                   "\"%1\". It has all its events and is not downloaded to the keyboard yet.")
                        .arg(n.name, n.other);
    case Kind::NoFreeSlot: {
        const QString file = native(n.other);
        if (zh)
            return QStringLiteral("宏“%1”无法回到页面：键盘没有空闲的宏位置。").arg(n.name)
                   + (file.isEmpty() ? QStringLiteral("该宏无法保存到文件中，其全部按键事件由程序保留；")
                                     : QStringLiteral("该宏及其全部按键事件保存在文件 %1 中；").arg(file))
                   + QStringLiteral("请删除键盘上的一个宏后重新连接键盘。");
        return QStringLiteral("The macro \"%1\" cannot come back to the page: the keyboard has no free macro "
                              "slot. ")
                   .arg(n.name)
               + (file.isEmpty() ? QStringLiteral("It could not be saved to a file; Tessark keeps it with all its "
                                                  "events; ")
                                 : QStringLiteral("It is kept with all its events in its file %1; ").arg(file))
               + QStringLiteral("delete a macro on the keyboard and plug the keyboard in again to get it back.");
    }
    case Kind::NotRemembered: {
        const QString file = native(n.other);
        if (zh)
            return QStringLiteral("宏“%1”尚未下载，且保留的宏列表无法写入：在程序运行期间重新连接键盘时它会回到页面，"
                                  "但程序重新启动后不会。")
                       .arg(n.name)
                   + (file.isEmpty() ? QStringLiteral("该宏也无法保存到文件中。")
                                     : QStringLiteral("其全部按键事件保存在文件 %1 中。").arg(file));
        return QStringLiteral("The macro \"%1\" is not downloaded, and the list of macros kept aside could not be "
                              "written: it comes back when the keyboard is plugged in again while Tessark runs, "
                              "but not after Tessark starts again. ")
                   .arg(n.name)
               + (file.isEmpty() ? QStringLiteral("It could not be saved to a file either.")
                                 : QStringLiteral("Its events are in its file %1.").arg(file));
    }
    case Kind::RememberedOlder:
        return zh ? QStringLiteral("宏“%1”尚未下载，且保留的宏列表无法写入：在程序运行期间重新连接键盘时它会回到页面；"
                                   "程序重新启动后它会以最近更改之前的样子回来。")
                        .arg(n.name)
                  : QStringLiteral("The macro \"%1\" is not downloaded, and the list of macros kept aside could not be "
                                   "written: it comes back when the keyboard is plugged in again while Tessark runs; "
                                   "after Tessark starts again it comes back as it was before its latest changes.")
                        .arg(n.name);
    }
    return QString();
}

// The files of those that have one, as the folder they share; the names of those without.
void splitByFile(const QList<Notice>& all, QString* folder, QStringList* withoutFile)
{
    for (const Notice& n : all) {
        if (n.other.isEmpty())
            *withoutFile << n.name;
        else if (folder->isEmpty())
            *folder = native(QFileInfo(n.other).path());
    }
}

// One sentence for several notices of a kind.
QString manyText(Kind kind, const QList<Notice>& all, bool zh)
{
    QStringList list;
    for (const Notice& n : all)
        list << n.name;
    switch (kind) {
    case Kind::ListUnreadable:
    case Kind::ListLinked:
        break;
    case Kind::RememberedOlder:
        return zh ? QStringLiteral("以下 %1 个宏尚未下载，且保留的宏列表无法写入：在程序运行期间重新连接键盘时它们会回到页面；"
                                   "程序重新启动后它们会以最近更改之前的样子回来：%2。")
                        .arg(all.size())
                        .arg(names(list, zh))
                  : QStringLiteral("%1 macros are not downloaded, and the list of macros kept aside could not be "
                                   "written: they come back when the keyboard is plugged in again while Tessark "
                                   "runs; after Tessark starts again they come back as they were before their latest "
                                   "changes: %2.")
                        .arg(all.size())
                        .arg(names(list, zh));
    case Kind::BackNotDownloaded:
        return zh ? QStringLiteral("键盘断开或程序关闭时以下 %1 个宏尚未下载，它们及其全部按键事件已回到页面上；请下载以保存到键盘：%2。")
                        .arg(all.size())
                        .arg(names(list, zh))
                  : QStringLiteral("%1 macros had not been downloaded when the keyboard left or Tessark closed. They "
                                   "are back on the page with all their events; download them to keep them on the "
                                   "keyboard: %2.")
                        .arg(all.size())
                        .arg(names(list, zh));
    case Kind::BackTooLong:
        return zh ? QStringLiteral("以下 %1 个宏及其全部按键事件已回到页面上，但超过键盘最多可保存的 %2 帧；请缩短后再下载：%3。")
                        .arg(all.size())
                        .arg(all.first().most)
                        .arg(names(list, zh))
                  : QStringLiteral("%1 macros are back on the page with all their events, but each needs more than "
                                   "the %2 frames the keyboard holds: shorten them before downloading them: %3.")
                        .arg(all.size())
                        .arg(all.first().most)
                        .arg(names(list, zh));
    case Kind::BackRenamed: {
        QStringList pairs;
        for (const Notice& n : all)
            // Quoted whole by names(): "a" as "b".
            pairs << (zh ? QStringLiteral("%1”改为“%2") : QStringLiteral("%1\" as \"%2")).arg(n.name, n.other);
        return zh ? QStringLiteral("以下 %1 个宏已回到页面上，但名称已更改，因为其他宏已使用原名称；它们保留全部按键事件，尚未下载到键盘：%2。")
                        .arg(all.size())
                        .arg(names(pairs, zh))
                  : QStringLiteral("%1 macros are back on the page under other names, as other macros use theirs; "
                                   "they have all their events and are not downloaded to the keyboard yet: %2.")
                        .arg(all.size())
                        .arg(names(pairs, zh));
    }
    case Kind::NoFreeSlot:
    case Kind::NotRemembered: {
        QString folder;
        QStringList withoutFile;
        splitByFile(all, &folder, &withoutFile);
        QString text;
        if (kind == Kind::NoFreeSlot)
            text = zh ? QStringLiteral("以下 %1 个宏无法回到页面，因为键盘没有空闲的宏位置；请删除键盘上的宏后重新连接键盘：%2。")
                            .arg(all.size())
                            .arg(names(list, zh))
                      : QStringLiteral("%1 macros cannot come back to the page, as the keyboard has no free macro "
                                       "slot; delete macros on the keyboard and plug the keyboard in again to get "
                                       "them back: %2.")
                            .arg(all.size())
                            .arg(names(list, zh));
        else
            text = zh ? QStringLiteral("以下 %1 个宏尚未下载，且保留的宏列表无法写入：在程序运行期间重新连接键盘时它们会回到页面，"
                                       "但程序重新启动后不会：%2。")
                            .arg(all.size())
                            .arg(names(list, zh))
                      : QStringLiteral("%1 macros are not downloaded, and the list of macros kept aside could not be "
                                       "written: they come back when the keyboard is plugged in again while Tessark "
                                       "runs, but not after Tessark starts again: %2.")
                            .arg(all.size())
                            .arg(names(list, zh));
        if (!folder.isEmpty())
            text += zh ? QStringLiteral("它们的按键事件保存在 %1 中各自的文件里").arg(folder)
                       : QStringLiteral(" Their events are in their files in %1").arg(folder);
        if (!withoutFile.isEmpty())
            text += folder.isEmpty()
                        ? (zh ? QStringLiteral("它们都无法保存到文件中") : QStringLiteral(" None could be saved to a file"))
                        : (zh ? QStringLiteral("，但以下宏无法保存到文件中：%1").arg(names(withoutFile, zh))
                              : QStringLiteral(", except %1, which could not be saved to a file")
                                    .arg(names(withoutFile, zh)));
        if (!folder.isEmpty() || !withoutFile.isEmpty())
            text += zh ? QStringLiteral("。") : QStringLiteral(".");
        return text;
    }
    }
    return QString();
}

struct NotRead {
    QString name;
    uint32_t result = 0;
    // One line a macro: a read that failed again before the box is not told twice.
    bool operator==(const NotRead& o) const { return name == o.name; }
};

NoticeQueue<NotRead> g_notRead;

QString notReadLine(const NotRead& n)
{
    const bool zh = chineseInterface();
    QString why;
    switch (n.result) {
    case DeviceResult::Timeout:
        // The bound of the whole read, no reply, or only replies that answer something else.
        why = zh ? QStringLiteral("键盘未及时应答") : QStringLiteral("the keyboard did not answer in time");
        break;
    case DeviceResult::Stopped:
    case DeviceResult::WriteFailed:
        // Unplugged during the read: a request not written, or the read loop ended while one waited.
        why = zh ? QStringLiteral("与键盘的连接中断") : QStringLiteral("the connection to the keyboard failed");
        break;
    default:
        why = zh ? QStringLiteral("错误 %1").arg(n.result, 0, 16) : QStringLiteral("error %1").arg(n.result, 0, 16);
        break;
    }
    return zh ? QStringLiteral("无法从键盘读取宏“%1”：%2。该宏未载入，键盘上的宏保持不变；请检查键盘连接后重新载入。")
                    .arg(n.name, why)
              : QStringLiteral("The macro \"%1\" could not be read from the keyboard: %2. It is not loaded, and the "
                               "macro on the keyboard is left as it is; check the keyboard's connection and load it "
                               "again.")
                    .arg(n.name, why);
}

void flushNotRead()
{
    const QString text = g_notRead.takeText(&notReadLine);
    if (text.isEmpty())
        return;
    // Not parented: the page that asked may be gone with its keyboard by now.
    const QString title =
        chineseInterface() ? QStringLiteral("未从键盘读取") : QStringLiteral("Not read from the keyboard");
    messagebox::critical(nullptr, title, text);
}

} // namespace

namespace macronotice {

void notRead(const QString& name, uint32_t result)
{
    qWarning().noquote() << QStringLiteral("Macro \"%1\" not read from the keyboard, error %2")
                                .arg(name, QString::number(result, 16));
    g_notRead.add({name, result}, &flushNotRead);
}

void backNotDownloaded(const QString& name)
{
    qInfo().noquote() << QStringLiteral("Macro \"%1\" back on the page, not downloaded").arg(name);
    queue({Kind::BackNotDownloaded, name, QString(), QString(), 0, 0});
}

void backTooLong(const QString& name, int frames, int most)
{
    qWarning().noquote() << QStringLiteral("Macro \"%1\" back on the page: it needs %2 frames, the keyboard holds %3")
                                .arg(name, QString::number(frames), QString::number(most));
    queue({Kind::BackTooLong, name, QString(), QString(), frames, most});
}

void backRenamed(const QString& name, const QString& newName)
{
    qWarning().noquote() << QStringLiteral("Macro \"%1\" back on the page as \"%2\": its name is taken")
                                .arg(name, newName);
    queue({Kind::BackRenamed, name, newName, QString(), 0, 0});
}

void noFreeSlot(const QString& name, const QString& file)
{
    qWarning().noquote() << QStringLiteral("Macro \"%1\" kept aside: the keyboard has no free macro slot").arg(name);
    queue({Kind::NoFreeSlot, name, file, QString(), 0, 0});
}

void notRemembered(const QString& name, const QString& file)
{
    qWarning().noquote() << QStringLiteral("Macro \"%1\" kept aside: no list remembers it, it comes back only while "
                                           "Tessark runs; its file: \"%2\"")
                                .arg(name, file);
    queue({Kind::NotRemembered, name, file, QString(), 0, 0});
}

void rememberedOlder(const QString& name)
{
    qWarning().noquote() << QStringLiteral("Macro \"%1\" kept aside: the list remembers it without its latest changes")
                                .arg(name);
    queue({Kind::RememberedOlder, name, QString(), QString(), 0, 0});
}

void listUnreadable(const QString& path, const QString& keptAs, const QString& spare, int read, int unread)
{
    // Pages come and go within a run and read the list again: what stands there now is told once.
    const QFileInfo info(path);
    const QString key = QStringLiteral("%1|%2%3|%4|%5")
                            .arg(QDir::cleanPath(path), QString::number(int(info.isDir())),
                                 QString::number(int(info.isFile())), QString::number(info.size()),
                                 QString::number(info.lastModified().toMSecsSinceEpoch()));
    if (g_listsTold.contains(key))
        return;
    g_listsTold.insert(key);
    qWarning().noquote() << QStringLiteral("Kept macros' list does not read: \"%1\"").arg(path)
                         << (keptAs.isEmpty() ? QStringLiteral("- left as it is") : QStringLiteral("- kept as \"%1\"").arg(keptAs))
                         << (spare.isEmpty() ? QString() : QStringLiteral("- remembering in \"%1\"").arg(spare))
                         << "- entries read:" << read << "not read:" << unread;
    queue({Kind::ListUnreadable, path, keptAs, spare, read, unread});
}

void listLinked(const QString& path, const QString& other)
{
    // What the link names tells one link from another put there later.
    const QString key = QStringLiteral("link|") + QDir::cleanPath(path) + QLatin1Char('|') + QFileInfo(path).symLinkTarget();
    if (g_listsTold.contains(key))
        return;
    g_listsTold.insert(key);
    qWarning().noquote() << QStringLiteral("Kept macros' list: a link stands at \"%1\", left alone").arg(path)
                         << (other.isEmpty() ? QStringLiteral("- no other place") : QStringLiteral("- using \"%1\"").arg(other));
    queue({Kind::ListLinked, path, QString(), other, 0, 0});
}

void flush()
{
    // Taken first: the box runs an event loop, in which another action may queue again.
    const QList<Notice> all = std::exchange(g_queue, QList<Notice>());
    if (all.isEmpty())
        return;
    const bool zh = chineseInterface();
    QStringList paragraphs;
    for (const Kind kind : {Kind::ListUnreadable, Kind::ListLinked, Kind::BackNotDownloaded, Kind::BackTooLong, Kind::BackRenamed,
                            Kind::NoFreeSlot, Kind::NotRemembered, Kind::RememberedOlder}) {
        QList<Notice> ofKind;
        for (const Notice& n : all) {
            if (n.kind == kind)
                ofKind << n;
        }
        if (ofKind.size() == 1 || ((kind == Kind::ListUnreadable || kind == Kind::ListLinked) && !ofKind.isEmpty())) {
            for (const Notice& n : qAsConst(ofKind))
                paragraphs << oneText(n, zh);
        } else if (!ofKind.isEmpty()) {
            paragraphs << manyText(kind, ofKind, zh);
        }
    }
    const QString title = zh ? QStringLiteral("宏") : QStringLiteral("Macros");
    messagebox::warning(nullptr, title, paragraphs.join(QLatin1Char('\n')));
}

int pending()
{
    return g_queue.size();
}

} // namespace macronotice
