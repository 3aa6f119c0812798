// The updater: replaces the tool's files with the staged ones once the tool has ended, then restarts it.
#include "platform/filesizelimit.h"
#include "upgrader.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    // A size limit makes a write fail, and a failed copy is rolled back, where the signal would stop
    // the updater half-way.
    FileSizeLimit::failWritesInsteadOfSignal();
    QCoreApplication app(argc, argv);
    return static_cast<int>(Upgrader::run(QCoreApplication::arguments()));
}
