// tessark-sim: the tool on two emulated keyboards, one of each sample model, for trying it without hardware.
#include "main/main.h"
#include "simsession.h"

#include <QCoreApplication>

namespace {

sim::SimSession* g_session = nullptr;

// Runs once the application exists: the session's timer needs its event loop.
void startSession()
{
    if (!g_session)
        return;
    g_session->setParent(QCoreApplication::instance());
    g_session->start();
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startSession)

int main(int argc, char** argv)
{
    // Plugged before the window's first scan, so it finds both keyboards at once.
    g_session = new sim::SimSession;
    g_session->plugAll(sim::sampleFamily());
    g_session->configureFromEnvironment();
    return qMain(argc, argv);
}
