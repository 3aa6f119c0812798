// The updater: replaces the tool's files with the staged ones once the tool has ended, then restarts it.
#include "upgrader.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    return static_cast<int>(Upgrader::run(QCoreApplication::arguments()));
}
