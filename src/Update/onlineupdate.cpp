#include "onlineupdate.h"

#include "Update/downloadfile.h"
#include "Update/overallvariate.h"

#include <QDebug>

onlineUpdate::onlineUpdate(QWidget* parent) : QWidget(parent)
{
    m_worker = new DownloadFile;
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

onlineUpdate::~onlineUpdate()
{
    if (!stopWorker())
        return;
    delete m_worker;
}

bool onlineUpdate::stopWorker()
{
    if (!m_thread.isRunning())
        return true;
    if (m_worker)
        m_worker->requestStop();
    m_thread.quit();
    if (m_thread.wait(WorkerStopWaitMs))
        return true;
    qWarning() << "update worker did not stop within" << WorkerStopWaitMs << "ms";
    return false;
}

void onlineUpdate::TessarkWidgetShow(bool) {}
void onlineUpdate::FirmeareWidgetShow(bool) {}
void onlineUpdate::ErrorInfoSlot(QString) {}
void onlineUpdate::DeviceOfflineSlot() {}
void onlineUpdate::checkUpdateSlot() {}
void onlineUpdate::checkFirmwareUpdateSlot() {}
void onlineUpdate::setTessarkUpdateInfoSlot(QString) {}
void onlineUpdate::setFirmwareUpdateInfoSlot(QString) {}
void onlineUpdate::threadBusySignalSolt(bool) {}
void onlineUpdate::setDownloadProgress(int) {}
void onlineUpdate::setDownloadNumber(int) {}
