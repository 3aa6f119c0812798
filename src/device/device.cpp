#include "device.h"

#include "commandreport.h"
#include "usb.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <QWaitCondition>
#include <cstring>

namespace {
qint64 nowMs() { return QDeadlineTimer::current().deadline() + Device::logClockShiftMs(); }
}

std::atomic<const std::atomic<int>*> Device::s_outsideStops{nullptr};
std::atomic<qint64> Device::s_logClockShiftMs{0};

Device::Device(Usb* usb, QWaitCondition* cond, QMutex* mutex, bool* waitFlag)
    : m_usb(usb), m_cond(cond), m_mutex(mutex), m_waitFlag(waitFlag)
{
}

Device::~Device()
{
    logRepeats();
    logUnlogged(nowMs());
    if (m_droppedNotifications > 0)
        qWarning("%d notifications were dropped since that was last told", m_droppedNotifications);
}

void Device::logRepeats()
{
    if (m_repeats > 0)
        qDebug("the report above came %d more times", m_repeats);
    m_repeats = 0;
}

void Device::logUnlogged(qint64 now)
{
    if (m_unlogged > 0)
        qDebug("%d more unrequested reports came within %lld s; counted, not logged one by one", m_unlogged,
               (now - m_firstUnloggedMs) / 1000 + 1);
    m_unlogged = 0;
    // What follows the count is logged whole, even when it equals the report logged before it.
    m_lastLogged.clear();
}

bool Device::admitNotification(const QByteArray& report)
{
    if (!m_countInFlight)
        return true;
    const bool frame = report.size() > 1 && uint8_t(report.at(1)) == 0x50;
    const int waiting = m_notificationsInFlight.load();
    if (waiting >= MaxNotificationsInFlight + (frame ? Usb::RecordingRoom : 0)) {
        const int kind = switchKind(reinterpret_cast<const uint8_t*>(report.constData()), report.size());
        if (kind >= 0) {
            // Not dropped: it replaces the one of its kind parked before, and goes on when there is room.
            m_parkedSwitches[size_t(kind)] = report;
            m_switchesParked = true;
            return false;
        }
        ++m_droppedNotifications;
        // A swing within the span of the last line is only counted, into the next "handled again".
        const qint64 now = nowMs();
        if (!m_notificationsWaitSaid
            && (m_notificationsWaitSaidAtMs == 0 || now - m_notificationsWaitSaidAtMs >= ReportLogSpanMs)) {
            qWarning("%d notifications wait to be handled: later ones are dropped", waiting);
            m_notificationsWaitSaid = true;
            m_notificationsWaitSaidAtMs = now;
        }
        return false;
    }
    // Told once the wait has shrunk to half the bound, not at every single place that frees up.
    if (m_notificationsWaitSaid && waiting <= MaxNotificationsInFlight / 2) {
        qWarning("notifications are handled again; %d were dropped", m_droppedNotifications);
        m_droppedNotifications = 0;
        m_notificationsWaitSaid = false;
    }
    ++m_notificationsInFlight;
    return true;
}

void Device::notificationHandled()
{
    int n = m_notificationsInFlight.load();
    while (n > 0 && !m_notificationsInFlight.compare_exchange_weak(n, n - 1)) {
    }
    // Parked switches go on from the device thread, where later notifications are passed on, so none
    // overtakes them; one posting at a time.
    if (m_switchesParked.load() && n - 1 < MaxNotificationsInFlight && !m_parkedPassOnPosted.exchange(true)) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_parkedPassOnPosted = false;
                passOnParkedSwitches();
            },
            Qt::QueuedConnection);
    }
}

void Device::passOnParkedSwitches()
{
    if (!m_switchesParked.exchange(false))
        return;
    for (QByteArray& parked : m_parkedSwitches) {
        if (parked.isEmpty())
            continue;
        const QByteArray report = parked;
        parked.clear();
        if (m_countInFlight)
            ++m_notificationsInFlight;
        emit emitNotify(report);
    }
}

uint32_t Device::sendPacket(uint8_t group, uint8_t command, uint16_t length, uint16_t offset, const uint8_t* payload)
{
    uint8_t report[CommandReportSize];
    buildCommandReport(report, group, command, length, offset, payload);
    if (!m_usb || m_usb->write(report, sizeof report) != 0)
        return DeviceResult::WriteFailed;
    return DeviceResult::Ok;
}

void Device::releaseWait()
{
    *m_waitFlag = false;
    m_cond->wakeAll(); // a request queued behind this one may start
    m_mutex->unlock();
}

uint32_t Device::request(uint8_t group, uint8_t command, uint16_t length, uint16_t offset, const uint8_t* payload,
                         int timeoutMs, uint8_t* reply, const ReplyFilter& accept, bool ignoreWriteFailure,
                         const HoldFilter& holdable, ReplyWay* way)
{
    if (way)
        *way = ReplyWay::Accepted;
    if (!m_usb || !m_mutex || !m_cond || !m_waitFlag)
        return DeviceResult::Stopped;
    const int outsideStopsBefore = outsideStops();
    m_mutex->lock();
    // One request in flight: a second caller waits for the first to finish (it is bounded itself).
    QDeadlineTimer queueDeadline(2 * DeviceTimeout::Bounded);
    while (*m_waitFlag && !m_stop && m_usb->isRunning() && !queueDeadline.hasExpired())
        m_cond->wait(m_mutex, queueDeadline);
    if (m_stop || !m_usb->isRunning()) {
        m_mutex->unlock();
        return DeviceResult::Stopped;
    }
    if (*m_waitFlag) {
        m_mutex->unlock();
        return DeviceResult::Timeout;
    }
    *m_waitFlag = true;
    m_usb->clearReply();

    const uint32_t sent = sendPacket(group, command, length, offset, payload);
    if (sent != DeviceResult::Ok && !ignoreWriteFailure) {
        releaseWait();
        return sent;
    }

    // Bluetooth upgrade acknowledgements do not echo the command byte.
    const bool groupOnly = group == 0xB0 && command == 0xDF;
    struct DroppedCount {
        uint8_t group, command;
        int count = 0;
        ~DroppedCount()
        {
            if (count > 1)
                qDebug("%d more reports that do not answer %02x/%02x were dropped", count - 1, group, command);
        }
    } dropped{group, command};
    QDeadlineTimer deadline(timeoutMs, Qt::PreciseTimer);
    QByteArray r;
    // The last report kept for want of a better one, the last of them that may be taken before the wait
    // ends, and when that one is taken.
    QByteArray held, heldEarly;
    QDeadlineTimer grace(QDeadlineTimer::Forever);
    auto takeHeld = [&](const QByteArray& kept, ReplyWay how) {
        if (reply)
            std::memcpy(reply, kept.constData(), 64);
        if (way)
            *way = how;
        releaseWait();
        return DeviceResult::Ok;
    };
    for (;;) {
        if (m_stop || !m_usb->isRunning()) {
            releaseWait();
            return DeviceResult::Stopped;
        }
        if (m_usb->takeReply(&r)) {
            const auto* p = reinterpret_cast<const uint8_t*>(r.constData());
            const bool echoes = r.size() >= 64 && p[0] == group && (groupOnly || p[1] == command);
            if (echoes && (!accept || accept(p))) {
                if (reply)
                    std::memcpy(reply, p, 64);
                releaseWait();
                return DeviceResult::Ok;
            }
            const int holdMs = echoes && holdable ? holdable(p) : NotHeld;
            if (holdMs >= 0) {
                held = r;
                if (holdMs < TakeAtWaitEnd) {
                    // The earliest grace counts: a stream of such reports cannot stretch it.
                    const QDeadlineTimer until(holdMs, Qt::PreciseTimer);
                    if (heldEarly.isEmpty() || until < grace)
                        grace = until;
                    heldEarly = r;
                }
                continue;
            }
            // A keyboard may stream such reports for the whole wait: the first is logged, the rest counted.
            if (dropped.count++ == 0)
                qDebug("dropped a report that does not answer %02x/%02x: %02x %02x %02x", group, command, p[0],
                       p[1], p[2]);
            continue;
        }
        if (outsideStops() != outsideStopsBefore) {
            qWarning("request %02x/%02x: a stop signal came while it waited, not waiting longer", group, command);
            releaseWait();
            return DeviceResult::Stopped;
        }
        if (!heldEarly.isEmpty() && grace.hasExpired())
            return takeHeld(heldEarly, ReplyWay::HeldAfterGrace);
        if (!held.isEmpty() && deadline.hasExpired())
            return takeHeld(held, ReplyWay::HeldAtWaitEnd);
        if (deadline.hasExpired()) {
            releaseWait();
            return DeviceResult::Timeout;
        }
        // In slices: a signal handler cannot wake the wait, the count it moves is looked at between them.
        QDeadlineTimer until(StopPollMs, Qt::PreciseTimer);
        if (deadline < until)
            until = deadline;
        if (!heldEarly.isEmpty() && grace < until)
            until = grace;
        m_cond->wait(m_mutex, until);
    }
}

uint32_t Device::statusRequest(uint8_t group, uint8_t command, uint16_t length, const uint8_t* payload,
                               uint8_t* reply)
{
    uint8_t buf[64] = {};
    const uint32_t e = request(group, command, length, 0, payload, DeviceTimeout::Bounded, buf);
    if (e != DeviceResult::Ok)
        return e;
    if (reply)
        std::memcpy(reply, buf, sizeof buf);
    return le::u32(buf + 8);
}

void Device::requestStop()
{
    m_stop = true;
    if (m_mutex && m_cond) {
        QMutexLocker lock(m_mutex);
        m_cond->wakeAll();
    }
}

bool Device::pauseInterruptibly(int ms)
{
    if (!m_mutex || !m_cond) {
        QThread::msleep(ulong(ms));
        return !m_stop;
    }
    QDeadlineTimer deadline(ms);
    QMutexLocker lock(m_mutex);
    while (!m_stop && !deadline.hasExpired())
        m_cond->wait(m_mutex, deadline);
    return !m_stop;
}

uint32_t Device::recvCmdSlot(QByteArray report)
{
    if (m_usb)
        m_usb->reportHandled();
    const auto* p = reinterpret_cast<const uint8_t*>(report.constData());
    const bool notification = !report.isEmpty() && p[0] == 0xF0;
    // A dropped notification is only counted: a fast keyboard would otherwise fill the log with them.
    if (notification && !admitNotification(report))
        return DeviceResult::Handled;
    const qint64 now = nowMs();
    if (m_logSpanStart == 0 || now - m_logSpanStart >= ReportLogSpanMs) {
        logRepeats();
        logUnlogged(now);
        m_logSpanStart = now;
        m_loggedInSpan = 0;
    }
    if (report == m_lastLogged && m_unlogged == 0) {
        ++m_repeats;
    } else if (m_loggedInSpan < LoggedReportsPerSpan) {
        logRepeats();
        ++m_loggedInSpan;
        qDebug("----------------- recvCmdSlot -------------------- %s", report.left(64).toHex('-').constData());
        m_lastLogged = report;
    } else {
        logRepeats();
        if (m_unlogged++ == 0)
            m_firstUnloggedMs = now;
    }
    if (notification) {
        passOnParkedSwitches(); // they came before this one
        emit emitNotify(report);
    } else if (m_cond)
        m_cond->wakeAll();
    return DeviceResult::Handled;
}
