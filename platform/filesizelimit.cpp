#include "filesizelimit.h"

#include <QtGlobal>

#ifndef Q_OS_WIN
#include <csignal>
#endif

namespace FileSizeLimit {

void failWritesInsteadOfSignal()
{
#ifndef Q_OS_WIN
    // With the signal ignored, such a write returns EFBIG or writes short; every writer checks that.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

} // namespace FileSizeLimit
