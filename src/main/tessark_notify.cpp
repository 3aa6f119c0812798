// What the keyboard reports on its own (maps and modes chosen on it, lock states, recorded macro
// data, key function presses) and the device settings the settings page changes through the window.
#include "tessark.h"

#include "device/device.h"
#include "device/records.h"
#include "macro/macro.h"
#include "Update/overallvariate.h"
#include "platform/stopsignals.h"
#include "setting/setting.h"
#include "shortcut/shortcuts.h"
#include "widget/keybtn.h"
#include "widget/messagebox.h"

#include <QDebug>
#include <QPushButton>
#include <algorithm>

namespace {

constexpr int NotifyHeader = 8; // payload starts here
constexpr uint8_t NotifyKeyMap = 0x20;
constexpr uint8_t NotifyLocks = 0x21;
constexpr uint8_t NotifyColourMap = 0x30;
constexpr uint8_t NotifyMacroData = 0x50;
constexpr uint8_t NotifyMode = 0x60;
constexpr uint8_t NotifyKeyFunction = 0xAA;
constexpr int PackedKeyCode = 3;

// Presses button index of a layer as the user would; an index past the row is ignored.
void pressLayerButton(const QVector<QPushButton*>& row, int index)
{
    if (index >= 0 && index < row.size())
        emit row[index]->pressed();
}

// The payload bytes a notification holds: its declared length, never past what actually arrived.
int notificationPayloadLength(const QByteArray& report)
{
    if (report.size() < NotifyHeader)
        return 0;
    const auto* p = reinterpret_cast<const uint8_t*>(report.constData());
    return std::min(int(le::u16(p + 2)), report.size() - NotifyHeader);
}

} // namespace

bool Tessark::stopCame() const
{
    return m_exiting || m_stopRequested || StopSignals::received().load() != m_signalsAtStart;
}

void Tessark::stopRequested()
{
    m_stopRequested = true;
    // Before Exit's turn comes (a box may hold it up): a check of the updater starts nothing from here on.
    if (g_overallVariate)
        g_overallVariate->askWorkerToStop();
}

void Tessark::logDroppedAtStop()
{
    if (m_droppedAtStop > 0)
        qInfo("%d notifications from the keyboard came after the stop: dropped, nothing started", m_droppedAtStop);
    m_droppedAtStop = 0;
}

const QVector<QPushButton*>& Tessark::layerRow(PendingLayers::Kind kind) const
{
    return kind == PendingLayers::KeyMap ? m_vGlobuleKey : kind == PendingLayers::ColourMap ? m_vGlobuleColor : m_vGlobuleMode;
}

void Tessark::selectNotifiedLayer(PendingLayers::Kind kind, int index)
{
    // A stop that came while it waited: it starts nothing.
    if (stopCame()) {
        ++m_droppedAtStop;
        return;
    }
    pressLayerButton(layerRow(kind), index);
}

void Tessark::onRecvNotifySlot(QByteArray report)
{
    if (report.size() < NotifyHeader)
        return;
    const auto* p = reinterpret_cast<const uint8_t*>(report.constData());
    const uint8_t code = p[1];
    // A stream of key function presses queued ahead of the stop would otherwise start programs, or
    // load layers, for seconds after it. Recorded frames and lock states start nothing: still taken.
    const bool starts = code == NotifyKeyFunction || code == NotifyKeyMap || code == NotifyColourMap || code == NotifyMode;
    if (starts && stopCame()) {
        ++m_droppedAtStop;
        return;
    }
    const int declared = le::u16(p + 2);
    const int length = notificationPayloadLength(report);
    const uint8_t* payload = p + NotifyHeader;

    switch (code) {
    case NotifyKeyMap:
    case NotifyColourMap:
    case NotifyMode: {
        if (declared != 2 || length < 2)
            return;
        const int index = payload[1];
        if (code == NotifyKeyMap)
            qDebug("onRecvNotifySlot=%d", index);
        const PendingLayers::Kind kind = code == NotifyKeyMap      ? PendingLayers::KeyMap
                                         : code == NotifyColourMap ? PendingLayers::ColourMap
                                                                   : PendingLayers::Mode;
        // An index past the row is ignored here, so it cannot take the place of one that waits.
        if (index < layerRow(kind).size())
            m_pendingLayers.add(kind, index);
        return;
    }
    case NotifyLocks: {
        // Entries may lie back to back or in table-sized slots: every offset with three bytes left
        // is read.
        for (int at = 0; at + PackedKeyCode <= length; ++at) {
            const kc_t kc = kc_t::unpack(payload + at);
            for (KeyBtn* key : qAsConst(m_vDynamicKeyBtn)) {
                if (key->type == kc.type && key->stype == kc.stype && key->code == kc.code) {
                    key->locked = kc.state != 0;
                    key->update();
                }
            }
        }
        return;
    }
    case NotifyMacroData:
        // A recorded frame: its bytes are there whatever length the keyboard declares, so the page is
        // told what arrived, not what was declared.
        if (m_ptrMacro)
            m_ptrMacro->getRawData(const_cast<uint8_t*>(payload), uint16_t(report.size() - NotifyHeader));
        return;
    case NotifyKeyFunction:
        if (declared == 2 && length >= 2 && m_ptrShortcuts)
            m_ptrShortcuts->onNotify(payload[0], payload[1]);
        return;
    default:
        return;
    }
}

void Tessark::stateSlot(int state, int code)
{
    if (state != 1)
        return;
    if (code == 0) {
        messagebox::information(this, tr("Information"), QStringLiteral("  Modification OK.      "), QMessageBox::Ok);
    } else {
        messagebox::critical(this, tr("ErrorCode"),
                             QStringLiteral("Modification Error: ") + QString::number(code) + QStringLiteral("   "),
                             QMessageBox::Abort);
    }
}

void Tessark::nKeySlot(int n)
{
    Device* const dev = device();
    if (!dev)
        return;
    qDebug() << "N-Key " << n;
    dev->setNKey(uint8_t(n & 0xFF));
}

void Tessark::updateSSSlot(int ms)
{
    Device* const dev = device();
    if (!dev)
        return;
    qDebug() << "Scan Speed(MS) " << ms;
    if (dev->setScanSpeed(uint16_t(ms & 0xFFFF)) == 0)
        messagebox::about(nullptr, QStringLiteral("About"),
                          QStringLiteral("Scan Speed \"%1\" Succeeded!").arg(ms));
}

void Tessark::updateUISlot(QString text)
{
    Device* const dev = device();
    if (!dev)
        return;
    qDebug() << "User Info " << text;
    if (dev->setUserInfo(text) == 0)
        messagebox::about(nullptr, QStringLiteral("About"), QStringLiteral("User Info \"%1\" Succeeded!").arg(text));
}

uint32_t Tessark::reportedSetting(Device* dev, const std::function<uint32_t()>& request)
{
    // The client reports most results itself (queued to stateSlot); one it kept to itself is shown
    // here, so the user always gets exactly one answer.
    int reported = 0;
    const QMetaObject::Connection counting = connect(
        dev, &Device::emitState, this, [&reported](int state, int) { reported += state == 1; }, Qt::DirectConnection);
    const uint32_t result = request();
    disconnect(counting);
    if (reported == 0)
        stateSlot(1, int(result));
    return result;
}

void Tessark::SleepTimeSlot(int minutes)
{
    Device* const dev = device();
    if (!dev)
        return;
    reportedSetting(dev, [this, dev, minutes] {
        const uint32_t result = dev->setSleepTime(uint32_t(minutes) * 60000u);
        // The page already shows what the user asked for; one the keyboard did not take goes back to
        // what it holds before any box can open. Off, the slider keeps offering the time it offered.
        if (result != 0 && m_ptrSetting) {
            const uint32_t offered = dev->m_lastSleepTime != 0 ? dev->m_lastSleepTime : uint32_t(minutes) * 60000u;
            m_ptrSetting->setSleepTime(int(dev->m_sleepTime), int(offered));
        }
        return result;
    });
}

void Tessark::BluetoothNameSlot(QString name)
{
    Device* const dev = device();
    if (!dev)
        return;
    qDebug() << "BluetoothNameSlot " << name;
    reportedSetting(dev, [this, dev, name] {
        const uint32_t result = dev->setBtName(name);
        // As for the sleep time: a name the keyboard did not take gives way to the one it holds before
        // any box can open.
        if (result != 0 && m_ptrSetting) {
            const char* held = reinterpret_cast<const char*>(dev->m_btName);
            m_ptrSetting->setBluetoothName(QString::fromUtf8(held, int(qstrnlen(held, sizeof dev->m_btName))));
        }
        return result;
    });
}

void Tessark::FactoryResetSlot()
{
    Device* const dev = device();
    if (!dev)
        return;
    qDebug() << "FactoryResetSlot ";
    dev->getSleepTime();
}
