#include "testpause.h"

#ifdef TESSARK_UPDATER_TEST_HOOKS
#include <QByteArray>
#include <QThread>

namespace {
constexpr int MaxPauseMs = 60 * 1000;
} // namespace

void TestPause::at(const char* step, UpgradeLog& log)
{
    if (qgetenv("TESSARK_UPGRADE_PAUSE_AT") != step)
        return;
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("TESSARK_UPGRADE_PAUSE_MS", &ok);
    if (!ok || ms <= 0)
        return;
    const QString name = QString::fromLatin1(step);
    log.step({QStringLiteral("测试暂停：%1").arg(name), QStringLiteral("test pause at %1").arg(name)});
    QThread::msleep(static_cast<unsigned long>(qMin(ms, MaxPauseMs)));
}

bool TestPause::foldersLockNot() { return qEnvironmentVariableIsSet("TESSARK_UPGRADE_NO_FOLDER_LOCKS"); }
#else
void TestPause::at(const char*, UpgradeLog&) {}

bool TestPause::foldersLockNot() { return false; }
#endif
