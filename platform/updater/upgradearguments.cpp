#include "upgradearguments.h"

#include <QDir>
#include <QFileInfo>

namespace {

bool isDecimal(const QString& text, int maxDigits)
{
    if (text.isEmpty() || text.size() > maxDigits)
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

bool isPlainFileName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') || c.unicode() < 0x20)
            return false;
    }
    return true;
}

// Whether path lies strictly below folder (both cleaned, absolute).
bool isBelow(const QString& path, const QString& folder)
{
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    return path.size() > prefix.size() && path.startsWith(prefix);
}

bool refuse(UpgradeText* why, const QString& chinese, const QString& english)
{
    *why = {chinese, english};
    return false;
}

} // namespace

bool UpgradeArgumentCheck::isChinese(const QStringList& arguments)
{
    return arguments.size() > Count && arguments.at(Count).trimmed() == QLatin1String("0");
}

bool UpgradeArgumentCheck::check(const QStringList& arguments, UpgradeArguments* out, UpgradeText* why)
{
    if (arguments.size() != Count + 1) {
        const QString n = QString::number(arguments.size() - 1);
        return refuse(why, QStringLiteral("参数个数错误：%1 个，应为 %2 个").arg(n, QString::number(Count)),
                      QStringLiteral("wrong number of arguments: %1, expected %2").arg(n, QString::number(Count)));
    }
    if (arguments.at(1) != QLatin1String("upgrade")) {
        return refuse(why, QStringLiteral("第一个参数不是 \"upgrade\"：%1").arg(arguments.at(1)),
                      QStringLiteral("the first argument is not \"upgrade\": %1").arg(arguments.at(1)));
    }
    UpgradeArguments a;
    if (!isDecimal(arguments.at(2), 6)) {
        return refuse(why, QStringLiteral("文件个数不是十进制数：%1").arg(arguments.at(2)),
                      QStringLiteral("the file count is not a decimal number: %1").arg(arguments.at(2)));
    }
    a.expectedFiles = arguments.at(2).toInt();

    const QString appArg = arguments.at(3);
    if (arguments.at(6) != appArg) {
        return refuse(why, QStringLiteral("第三与第六个参数不同：%1 / %2").arg(appArg, arguments.at(6)),
                      QStringLiteral("arguments 3 and 6 differ: %1 / %2").arg(appArg, arguments.at(6)));
    }
    const QFileInfo appInfo(appArg);
    a.appDir = appInfo.canonicalFilePath();
    if (!QDir::isAbsolutePath(appArg) || !appInfo.isDir() || a.appDir.isEmpty()) {
        return refuse(why, QStringLiteral("应用程序目录不存在：%1").arg(appArg),
                      QStringLiteral("the application folder does not exist: %1").arg(appArg));
    }

    a.toolName = arguments.at(4);
    if (!isPlainFileName(a.toolName)) {
        return refuse(why, QStringLiteral("程序文件名无效：%1").arg(a.toolName),
                      QStringLiteral("not a plain file name: %1").arg(a.toolName));
    }
    a.toolPath = a.appDir + QLatin1Char('/') + a.toolName;

    // The staged folder is removed at the end: it must lie inside the application folder, by its text
    // and, when it exists, by where it really is (no link on the way, and not a link itself).
    const QString stagedArg = arguments.at(5);
    const QString stagedClean = QDir::cleanPath(stagedArg);
    const QFileInfo stagedInfo(stagedClean);
    const bool inside = QDir::isAbsolutePath(stagedArg) && isBelow(stagedClean, QDir::cleanPath(appArg));
    if (!inside || stagedInfo.isSymLink() || (stagedInfo.exists() && !stagedInfo.isDir())) {
        return refuse(why, QStringLiteral("暂存目录不在应用程序目录内：%1").arg(stagedArg),
                      QStringLiteral("the staged folder is not a folder inside the application folder: %1")
                          .arg(stagedArg));
    }
    if (stagedInfo.exists()) {
        a.stagedDir = stagedInfo.canonicalFilePath();
        if (!isBelow(a.stagedDir, a.appDir)) {
            return refuse(why, QStringLiteral("暂存目录经链接指向应用程序目录之外：%1").arg(stagedArg),
                          QStringLiteral("the staged folder leads outside the application folder: %1")
                              .arg(stagedArg));
        }
        a.stagedRelative = a.stagedDir.mid(a.appDir.size() + 1);
    } else {
        a.stagedDir = stagedClean;
        a.stagedRelative = stagedClean.mid(QDir::cleanPath(appArg).size() + 1);
    }
    a.chinese = isChinese(arguments);
    *out = a;
    return true;
}
