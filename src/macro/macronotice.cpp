#include "macronotice.h"

#include "setting/Language.h"
#include "widget/messagebox.h"
#include "widget/noticequeue.h"

#include <QDebug>
#include <QDir>

namespace {

enum class Kind { BackNotDownloaded, BackRenamed, NoFreeSlot };

struct Notice {
    Kind kind = Kind::BackNotDownloaded;
    QString name;
    QString other; // the new name, or the file
    bool operator==(const Notice& o) const { return kind == o.kind && name == o.name; }
};

NoticeQueue<Notice> g_queue;

QString line(const Notice& n)
{
    const bool zh = chineseInterface();
    switch (n.kind) {
    case Kind::BackNotDownloaded:
        return zh ? QStringLiteral("键盘断开或程序关闭时宏“%1”尚未下载。该宏及其全部按键事件已回到页面上；请下载以保存到键盘。")
                        .arg(n.name)
                  : QStringLiteral("The macro \"%1\" had not been downloaded when the keyboard left or Tessark "
                                   "closed. It is back on the page with all its events; download it to keep it on "
                                   "the keyboard.")
                        .arg(n.name);
    case Kind::BackRenamed:
        return zh ? QStringLiteral("宏“%1”已回到页面上，但名称改为“%2”，因为另一个宏已使用“%1”。该宏保留全部按键事件，"
                                   "尚未下载到键盘。")
                        .arg(n.name, n.other)
                  : QStringLiteral("The macro \"%1\" is back on the page as \"%2\": another macro uses the name "
                                   "\"%1\". It has all its events and is not downloaded to the keyboard yet.")
                        .arg(n.name, n.other);
    case Kind::NoFreeSlot: {
        const QString file = QDir::toNativeSeparators(n.other);
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
    }
    return QString();
}

void queue(const Notice& n)
{
    g_queue.add(n, &macronotice::flush);
}

} // namespace

namespace macronotice {

void backNotDownloaded(const QString& name)
{
    qInfo().noquote() << QStringLiteral("Macro \"%1\" back on the page, not downloaded").arg(name);
    queue({Kind::BackNotDownloaded, name, QString()});
}

void backRenamed(const QString& name, const QString& newName)
{
    qWarning().noquote() << QStringLiteral("Macro \"%1\" back on the page as \"%2\": its name is taken")
                                .arg(name, newName);
    queue({Kind::BackRenamed, name, newName});
}

void noFreeSlot(const QString& name, const QString& file)
{
    qWarning().noquote() << QStringLiteral("Macro \"%1\" kept aside: the keyboard has no free macro slot").arg(name);
    queue({Kind::NoFreeSlot, name, file});
}

void flush()
{
    const QString text = g_queue.takeText(&line);
    if (text.isEmpty())
        return;
    const QString title = chineseInterface() ? QStringLiteral("宏") : QStringLiteral("Macros");
    messagebox::warning(nullptr, title, text);
}

int pending()
{
    return g_queue.size();
}

} // namespace macronotice
