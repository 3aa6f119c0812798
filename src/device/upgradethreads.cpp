#include "upgradethreads.h"

#include "device.h"
#include "updatedfubtthread.h"

#include <QDebug>

UpgradeThreads::UpgradeThreads()
{
    m_firmwareThread.setObjectName(QStringLiteral("firmware"));
}

UpgradeThreads::~UpgradeThreads()
{
    if (!stop()) {
        // Destroying a running QThread aborts the process: wait it out instead.
        qWarning() << "upgrade thread still runs at shutdown: waiting for it";
        m_firmwareThread.wait();
        if (m_btThread)
            m_btThread->wait();
    }
}

void UpgradeThreads::setFirmwareDevice(Device* device)
{
    m_firmwareDevice = device;
}

Device* UpgradeThreads::firmwareDevice() const
{
    return m_firmwareDevice.data();
}

void UpgradeThreads::setBtThread(updateDFUBtThread* thread)
{
    m_btThread = thread;
}

updateDFUBtThread* UpgradeThreads::btThread() const
{
    return m_btThread.data();
}

bool UpgradeThreads::stop()
{
    if (m_firmwareDevice)
        m_firmwareDevice->requestStop();
    m_firmwareThread.requestInterruption();
    m_firmwareThread.quit();
    if (m_btThread)
        m_btThread->stop();

    bool stopped = m_firmwareThread.wait(StopWaitMs);
    if (!stopped)
        qWarning() << "firmware thread still runs" << StopWaitMs << "ms after the stop request";
    if (m_btThread && !m_btThread->wait(StopWaitMs)) {
        qWarning() << "Bluetooth upgrade thread still runs" << StopWaitMs << "ms after the stop request";
        stopped = false;
    }
    return stopped;
}
