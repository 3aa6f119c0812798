#include "filenotice.h"

#include "setting/Language.h"
#include "widget/messagebox.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QStringList>
#include <QTimer>

namespace {

struct Notice {
    bool saving = false;
    QString path;
    QString keptAs;
};

QList<Notice> g_queue;

QString line(const Notice& n)
{
    const QString path = QDir::toNativeSeparators(n.path);
    if (n.saving)
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
    for (const Notice& q : qAsConst(g_queue)) {
        if (q.saving == n.saving && q.path == n.path)
            return; // once per action
    }
    g_queue.append(n);
    if (g_queue.size() == 1 && QCoreApplication::instance())
        QTimer::singleShot(0, QCoreApplication::instance(), &filenotice::flush);
}

} // namespace

namespace filenotice {

void saveFailed(const QString& path, const QString& reason)
{
    qWarning().noquote() << QStringLiteral("File not saved: \"%1\": %2").arg(path, reason);
    queue({true, path, QString()});
}

void unreadable(const QString& path, const QString& keptAs)
{
    qWarning().noquote() << QStringLiteral("File does not read: \"%1\"").arg(path)
                         << (keptAs.isEmpty() ? QStringLiteral("- left as it is")
                                              : QStringLiteral("- kept as \"%1\"").arg(keptAs));
    queue({false, path, keptAs});
}

void flush()
{
    if (g_queue.isEmpty())
        return;
    // Taken first: a box runs an event loop, in which another action may queue again.
    const QList<Notice> shown = g_queue;
    g_queue.clear();
    QStringList lines;
    for (const Notice& n : shown)
        lines << line(n);
    messagebox::warning(nullptr, chineseInterface() ? QStringLiteral("警告") : QStringLiteral("Warning"),
                        lines.join(QLatin1Char('\n')));
}

int pending()
{
    return g_queue.size();
}

} // namespace filenotice
