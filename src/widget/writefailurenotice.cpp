#include "writefailurenotice.h"

#include "setting/Language.h"
#include "widget/messagebox.h"
#include "widget/noticequeue.h"

#include <QDebug>
#include <QStringList>

namespace {

enum class Change { Macro, LightingSlot, KeyColour, KeyMode };

struct Notice {
    Change change = Change::Macro;
    QString subject; // the macro's name or the slot number
    bool saved = false;
    // One per change and subject in an action.
    bool operator==(const Notice& o) const { return change == o.change && subject == o.subject; }
};

NoticeQueue<Notice> g_queue;

QString line(const Notice& n)
{
    const bool zh = chineseInterface();
    switch (n.change) {
    case Change::Macro:
        // The keyboard may have left at the write: the page is then empty until it returns.
        return zh ? QStringLiteral("键盘未接收宏“%1”。该宏及其全部按键事件已保留%2。它仍在页面上；如果键盘已断开，"
                                   "它会在键盘重新连接后回到页面上。请检查键盘连接后重新下载。")
                        .arg(n.subject, n.saved ? QStringLiteral("，并已保存到其文件中") : QString())
                  : QStringLiteral("The keyboard did not take the macro \"%1\". It is kept with all its events%2. "
                                   "It stays on the page, or, if the keyboard left, comes back to the page when the "
                                   "keyboard does; check the keyboard's connection and download it again.")
                        .arg(n.subject, n.saved ? QStringLiteral(" and is saved in its file") : QString());
    case Change::LightingSlot:
        return zh ? QStringLiteral("键盘未接收 LED 模式 %1 的设置，仍保留原来的设置。请检查键盘连接后重新应用。")
                        .arg(n.subject)
                  : QStringLiteral("The keyboard did not take the settings of LED Mode %1; it keeps the ones it "
                                   "had. Check the keyboard's connection and apply them again.")
                        .arg(n.subject);
    case Change::KeyColour:
        return zh ? QStringLiteral("键盘未接收按键的新颜色，该按键保留原来的颜色。请检查键盘连接后重新设置。")
                  : QStringLiteral("The keyboard did not take the key's new colour; the key keeps the colour it "
                                   "had. Check the keyboard's connection and paint it again.");
    case Change::KeyMode:
        return zh ? QStringLiteral("键盘未接收按键的新灯光模式，该按键保留原来的模式。请检查键盘连接后重新设置。")
                  : QStringLiteral("The keyboard did not take the key's new lighting mode; the key keeps the mode "
                                   "it had. Check the keyboard's connection and set it again.");
    }
    return QString();
}

void queue(const Notice& n)
{
    g_queue.add(n, &writefailurenotice::flush);
}

} // namespace

namespace writefailurenotice {

void macroNotTaken(const QString& name, bool savedToFile)
{
    qWarning().noquote() << QStringLiteral("Not taken by the keyboard: macro \"%1\" (%2)")
                                .arg(name, savedToFile ? QStringLiteral("kept on the page and in its file")
                                                       : QStringLiteral("kept on the page"));
    queue({Change::Macro, name, savedToFile});
}

void lightingSlotNotTaken(int slot)
{
    qWarning().noquote() << QStringLiteral("Not taken by the keyboard: lighting mode slot %1").arg(slot);
    queue({Change::LightingSlot, QString::number(slot), false});
}

void keyColourNotTaken()
{
    qWarning().noquote() << QStringLiteral("Not taken by the keyboard: a key's colour");
    queue({Change::KeyColour, QString(), false});
}

void keyModeNotTaken()
{
    qWarning().noquote() << QStringLiteral("Not taken by the keyboard: a key's lighting mode");
    queue({Change::KeyMode, QString(), false});
}

void flush()
{
    const QString text = g_queue.takeText(&line);
    if (text.isEmpty())
        return;
    const QString title = chineseInterface() ? QStringLiteral("未写入键盘") : QStringLiteral("Not written to the keyboard");
    messagebox::critical(nullptr, title, text);
}

int pending()
{
    return g_queue.size();
}

} // namespace writefailurenotice
