#include "checkusb.h"

#include <hidapi.h>

#include <QDebug>
#include <QTimer>

CheckUSB::CheckUSB(uint16_t vid, uint16_t pid) : m_timer(new QTimer(this)), m_vid(vid), m_pid(pid)
{
    connect(m_timer, &QTimer::timeout, this, &CheckUSB::scanDeviceSlot);
}

CheckUSB::~CheckUSB()
{
    m_timer->stop();
    delete m_timer;
}

void CheckUSB::start(int ms) { m_timer->start(ms); }

void CheckUSB::stop() { m_timer->stop(); }

bool CheckUSB::present(uint16_t vid, uint16_t pid)
{
    hid_device_info* devs = hid_enumerate(vid, pid);
    const bool found = devs != nullptr; // a failed enumeration lists nothing
    hid_free_enumeration(devs);
    return found;
}

void CheckUSB::scanDeviceSlot()
{
    if (present(m_vid, m_pid)) {
        if (!m_connected) {
            m_connected = true;
            qDebug() << __LINE__ << "USB connect.";
        }
        return;
    }
    if (!m_connected)
        return;
    m_connected = false;
    qDebug() << __LINE__ << "USB disconnect.";
    emit emitDisconnect(); // last: the receiver may have deleted this object
}
