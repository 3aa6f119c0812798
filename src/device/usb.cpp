#include "usb.h"

#include "commandreport.h"

#include <hidapi.h>

#include <QDeadlineTimer>
#include <QDebug>
#include <QMetaMethod>
#include <QMutexLocker>
#include <QThread>
#include <QTimer>
#include <QWaitCondition>
#include <cstring>

Usb::Usb(QWaitCondition* cond, QMutex* mutex, bool* waitFlag)
    : m_cond(cond), m_mutex(mutex), m_waitFlag(waitFlag)
{
}

Usb::~Usb()
{
    if (m_droppedSinceSaid > 0)
        qWarning("report backlog: %d unrequested reports were dropped since it was last told", m_droppedSinceSaid);
    if (m_openTimer) {
        m_openTimer->stop();
        delete m_openTimer;
        m_openTimer = nullptr;
    }
}

void Usb::openSlot(ushort vid, ushort pid, int iface, QString path)
{
    qDebug() << "str==" << QThread::currentThreadId() << path;
    m_iface = iface;
    m_vid = vid;
    m_pid = pid;
    m_path = path;
    if (!m_openTimer) {
        m_openTimer = new QTimer(this);
        connect(m_openTimer, &QTimer::timeout, this, &Usb::timeroutOpenSlot);
    }
    m_openTimer->start(1000);
}

void Usb::timeroutOpenSlot()
{
    qDebug() << "_path=" << m_path;
    if (!openPath(m_path)) {
        if (!pathListed()) {
            // The keyboard left the bus: if it comes back it usually gets another node, so this path
            // would be tried for ever. The owner hears of a disconnect, closes and scans again.
            qDebug() << "usb path no longer listed, opening given up:" << m_path;
            if (m_openTimer)
                m_openTimer->stop();
            emit emitUsbDisconnect();
            return;
        }
        qDebug() << "usb opening ..........";
        return;
    }
    qDebug() << "usb opened , succeeded!! 监听停止";
    if (m_openTimer) {
        m_openTimer->stop();
        m_openTimer->deleteLater();
        m_openTimer = nullptr;
    }
    emit emitOpenSucceeded();
    readSlot();
}

bool Usb::pathListed() const
{
    const QByteArray wanted = m_path.toUtf8();
    bool listed = false;
    hid_device_info* devs = hid_enumerate(m_vid, m_pid);
    for (hid_device_info* d = devs; d && !listed; d = d->next)
        listed = d->path && wanted == d->path;
    hid_free_enumeration(devs);
    return listed;
}

hid_device* Usb::openPath(const QString& path)
{
    m_handle = hid_open_path(path.toUtf8().constData());
    return m_handle;
}

void Usb::setIds(uint16_t vid, uint16_t pid, int iface)
{
    m_vid = vid;
    m_pid = pid;
    m_iface = iface;
}

int Usb::open()
{
    qDebug() << "VID =" << m_vid << "PID =" << m_pid << "iface =" << m_iface;
    hid_device_info* devs = hid_enumerate(m_vid, m_pid);
    if (!devs) {
        qDebug() << "Usb Open Err";
        return -1;
    }
    qDebug("devs=%p path=%s", static_cast<void*>(devs), devs->path);
    for (hid_device_info* d = devs; d; d = d->next) {
        // -1 takes any interface; on Linux the interface number decides, not the path's spelling.
        if (m_iface == -1 || d->interface_number == m_iface) {
            m_handle = hid_open_path(d->path);
            if (m_handle) {
                m_path = QString::fromUtf8(d->path);
                break;
            }
        }
    }
    hid_free_enumeration(devs);
    return m_handle ? 0 : -1;
}

void Usb::close()
{
    if (m_handle)
        hid_close(m_handle);
    hid_exit();
    m_handle = nullptr;
    m_vid = 0;
    m_pid = 0;
}

void Usb::cancelOpen()
{
    delete m_openTimer;
    m_openTimer = nullptr;
}

void Usb::stopRead()
{
    m_running = false;
}

void Usb::setReadingEnabled(bool on)
{
    m_readingEnabled = on;
    if (!on) {
        // Wait for the pass in progress, so nothing it reads afterwards is lost to the ring.
        QMutexLocker pass(&m_passMutex);
    }
}

int Usb::write(const uint8_t* data, uint16_t len)
{
    if (!m_handle)
        return -1;
    uint8_t report[65] = {};
    const int n = qMin<int>(len, ReportSize);
    if (data && n > 0)
        std::memcpy(report + 1, data, size_t(n));
    const int ret = hid_write(m_handle, report, sizeof report);
    if (ret >= 0)
        return 0;
    qWarning("hid write failed, ret=%d handle=%p", ret, static_cast<void*>(m_handle));
    return -1;
}

int Usb::read(uint8_t* data, uint16_t len)
{
    if (!m_handle)
        return -1;
    uint8_t scratch[65] = {};
    int ret;
    while ((ret = hid_read(m_handle, scratch, sizeof scratch)) == 0)
        qDebug() << "waiting...";
    if (ret < 0)
        return ret;
    std::memcpy(data, scratch, size_t(qMin<int>(ret, len)));
    return 0;
}

int Usb::read_timeout(uint8_t* data, uint16_t len, int ms)
{
    if (!m_handle)
        return -1;
    uint8_t scratch[65] = {};
    const int ret = hid_read_timeout(m_handle, scratch, sizeof scratch, ms);
    if (ret < 0) {
        qWarning() << "unable to read";
        return ret;
    }
    const int n = qMin<int>(ret, len);
    std::memcpy(data, scratch, size_t(n));
    return n;
}

bool Usb::takeReply(QByteArray* out)
{
    if (!m_replyReady)
        return false;
    m_replyReady = false;
    // The read loop may wait with the report behind this one.
    if (m_cond)
        m_cond->wakeAll();
    if (out)
        *out = QByteArray(reinterpret_cast<const char*>(m_recvBuf), ReportSize);
    return true;
}

bool Usb::handleReport(const uint8_t* report)
{
    QMutexLocker lock(m_mutex);
    // Notifications never answer a request, even while one waits.
    const bool notification = report[0] == 0xF0;
    // A reply not yet taken is never replaced unseen: the next report waits until the request has looked
    // at it, however late its thread runs; the request's own wait is bounded, and ending it lets this go.
    while (!notification && m_waitFlag && *m_waitFlag && m_replyReady && m_running && m_readingEnabled)
        m_cond->wait(m_mutex, ReadTimeoutMs);
    if (!notification && m_waitFlag && *m_waitFlag && !m_replyReady) {
        std::memcpy(m_recvBuf, report, sizeof m_recvBuf);
        m_replyReady = true;
        m_cond->wakeAll();
        return true;
    }
    // A recorded frame (notification 0x50) may use the room kept for a recording; answers never come here.
    const bool frame = notification && report[1] == 0x50;
    if (m_backlog.load() >= MaxBacklog + (frame ? RecordingRoom : 0)) {
        const int kind = switchKind(report, ReportSize);
        if (kind >= 0) {
            // Not dropped: it replaces the one of its kind parked before.
            m_parkedSwitches[size_t(kind)] = QByteArray(reinterpret_cast<const char*>(report), ReportSize);
            m_switchesParked = true;
            return false;
        }
        ++m_droppedSinceSaid;
        ++m_dropped;
        // A swing within the span of the last "full" is only counted, into the next "has room again".
        const qint64 now = QDeadlineTimer::current().deadline();
        if (!m_fullSaid && (m_fullSaidAtMs == 0 || now - m_fullSaidAtMs >= BacklogLogSpanMs)) {
            qWarning("report backlog full (%d waiting): unrequested reports are dropped", m_backlog.load());
            m_fullSaid = true;
            m_fullSaidAtMs = now;
        }
        return false;
    }
    if (m_fullSaid && m_backlog.load() <= MaxBacklog / 2) {
        qWarning("report backlog has room again; %d unrequested reports were dropped", m_droppedSinceSaid);
        m_droppedSinceSaid = 0;
        m_fullSaid = false;
    }
    passOnParkedSwitches(); // they came before this one
    passOn(report);
    return false;
}

void Usb::passOn(const uint8_t* report)
{
    // Only a report someone will handle (and acknowledge) waits; one without a receiver is gone at once.
    if (isSignalConnected(QMetaMethod::fromSignal(&Usb::emitRecvCmd)))
        ++m_backlog;
    m_ringIndex = (m_ringIndex + 1) & (RingSlots - 1);
    std::memcpy(m_ring[m_ringIndex], report, 65);
    emit emitRecvCmd(QByteArray(reinterpret_cast<const char*>(m_ring[m_ringIndex]), ReportSize));
}

void Usb::passOnParkedSwitches()
{
    if (!m_switchesParked)
        return;
    m_switchesParked = false;
    for (QByteArray& parked : m_parkedSwitches) {
        if (parked.isEmpty())
            continue;
        uint8_t report[65] = {};
        std::memcpy(report, parked.constData(), size_t(std::min<int>(parked.size(), ReportSize)));
        parked.clear();
        passOn(report);
    }
}

void Usb::reportHandled()
{
    int n = m_backlog.load();
    while (n > 0 && !m_backlog.compare_exchange_weak(n, n - 1)) {
    }
}

int Usb::readSlot()
{
    qDebug() << "usb thread id: " << QThread::currentThreadId();
    m_ringIndex = -1;
    bool first = true;
    uint8_t scratch[65];
    for (;;) {
        if (!first)
            QThread::msleep(PassPauseMs);
        first = false;
        if (!m_running)
            break;
        QMutexLocker pass(&m_passMutex);
        if (!m_readingEnabled)
            continue;
        // The first read waits a little; then every report already waiting is taken without waiting,
        // so a keyboard sending faster than one report per pass loses nothing to its own queue.
        int waitMs = ReadTimeoutMs;
        int ret = 0;
        // A reply handed to a waiting request does not end the pass: the report behind it waits in
        // handleReport() until the request has taken it, so replies queued behind one another go over as
        // fast as the request takes them, not one a pass. Disabled reading ends the pass at once.
        for (int taken = 0; taken < MaxReportsPerPass && m_running && m_readingEnabled; ++taken) {
            std::memset(scratch, 0, sizeof scratch);
            ret = m_handle ? hid_read_timeout(m_handle, scratch, sizeof scratch, waitMs) : -1;
            if (ret <= 0)
                break;
            waitMs = 0;
            if (m_mutex && m_cond)
                handleReport(scratch);
        }
        // The flood is over or has room again: the last switch of each kind waits no longer.
        if (m_switchesParked && m_mutex && m_cond && m_backlog.load() < MaxBacklog) {
            QMutexLocker lock(m_mutex);
            passOnParkedSwitches();
        }
        if (ret < 0) {
            m_running = false;
            qWarning() << "ERROR: unable to read";
            if (m_mutex && m_cond) {
                QMutexLocker lock(m_mutex);
                m_cond->wakeAll();
            }
            break;
        }
    }
    qDebug() << "usb readSlot thread ID: " << QThread::currentThreadId() << " 退出循环 quit while";
    emit emitUsbDisconnect();
    return 0;
}
