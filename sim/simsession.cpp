#include "simsession.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>
#include <algorithm>
#include <cctype>

namespace sim {

SimSession::SimSession(QObject* parent) : QObject(parent) {}

SimSession::~SimSession()
{
    // The last reports before the end belong in the log too.
    for (int i = 0; i < m_slots.size(); ++i)
        writeLog(i);
}

void SimSession::plugAll(const QList<KeyboardConfig>& configs)
{
    for (const KeyboardConfig& config : configs) {
        m_slots.append(Slot{config, nullptr, 0});
        plugSlot(m_slots.size() - 1);
    }
}

void SimSession::plugSlot(int index)
{
    if (index < 0 || index >= m_slots.size())
        return;
    Slot& slot = m_slots[index];
    if (slot.keyboard && slot.keyboard->plugged())
        return;
    writeLog(index);
    slot.keyboard = plug(slot.config);
    slot.logged = 0;
    if (m_reportDelay > 0)
        slot.keyboard->setReportDelay(m_reportDelay);
}

bool SimSession::setLogFile(const QString& path)
{
    if (m_log.isOpen())
        m_log.close();
    m_log.setFileName(path);
    return m_log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

void SimSession::setReportDelay(int ms)
{
    m_reportDelay = ms;
    for (const Slot& slot : m_slots) {
        if (slot.keyboard)
            slot.keyboard->setReportDelay(ms);
    }
}

void SimSession::start(int intervalMs)
{
    if (!m_timer) {
        m_timer = new QTimer(this);
        connect(m_timer, &QTimer::timeout, this, &SimSession::poll);
    }
    m_timer->start(intervalMs);
}

void SimSession::poll()
{
    for (int i = 0; i < m_slots.size(); ++i)
        writeLog(i);
    runControl();
}

KeyboardPtr SimSession::keyboard(int number) const
{
    if (number < 1 || number > m_slots.size())
        return nullptr;
    const KeyboardPtr& kb = m_slots[number - 1].keyboard;
    return kb && kb->plugged() ? kb : nullptr;
}

void SimSession::writeLog(int index)
{
    if (index < 0 || index >= m_slots.size())
        return;
    Slot& slot = m_slots[index];
    if (!slot.keyboard || !m_log.isOpen())
        return;
    const QList<LogEntry> entries = slot.keyboard->log();
    if (slot.logged > entries.size()) // the log was cleared meanwhile
        slot.logged = 0;
    if (slot.logged == entries.size())
        return;
    QTextStream out(&m_log);
    for (int i = slot.logged; i < entries.size(); ++i) {
        const LogEntry& e = entries.at(i);
        out << (index + 1) << (e.direction == LogEntry::ToDevice ? " out " : " in ") << e.msSincePlug << ' '
            << e.report.toHex() << '\n';
    }
    slot.logged = entries.size();
    out.flush();
    m_log.flush();
}

void SimSession::runControl()
{
    if (m_controlPath.isEmpty())
        return;
    QFile file(m_controlPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    const QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    file.remove();
    for (const QByteArray& raw : lines) {
        const QList<QByteArray> words = raw.simplified().split(' ');
        const QByteArray& command = words.at(0);
        if (command == "play" ? words.size() < 3 : words.size() != (command == "press" ? 3 : 2))
            continue;
        bool ok = false;
        const int index = words.at(1).toInt(&ok) - 1;
        if (!ok || index < 0 || index >= m_slots.size())
            continue;
        if (command == "unplug") {
            writeLog(index);
            if (m_slots[index].keyboard)
                unplug(m_slots[index].keyboard);
        } else if (command == "plug") {
            plugSlot(index);
        } else if (command == "press") {
            const int slot = words.at(2).toInt(&ok);
            if (ok && m_slots[index].keyboard)
                m_slots[index].keyboard->pressKeyFunction(slot);
        } else if (command == "play") {
            QList<ReportChange> changes;
            if (parseChanges(words.mid(2), &changes) && m_slots[index].keyboard)
                m_slots[index].keyboard->playKeys(changes);
        }
    }
}

bool SimSession::parseChanges(const QList<QByteArray>& words, QList<ReportChange>* changes)
{
    for (const QByteArray& word : words) {
        const QList<QByteArray> parts = word.split(':');
        bool ok = false;
        const int ms = parts.value(0).toInt(&ok);
        const QByteArray hex = parts.value(1);
        const bool isHex = std::all_of(hex.begin(), hex.end(), [](char c) { return std::isxdigit(uchar(c)); });
        if (parts.size() != 2 || !ok || ms < 0 || ms > 0xFFFF || hex.size() != 16 || !isHex)
            return false; // a line is played whole or not at all
        changes->append({ms, QByteArray::fromHex(hex)});
    }
    return true;
}

void SimSession::configureFromEnvironment()
{
    const QString log = qEnvironmentVariable("TESSARK_SIM_LOG");
    if (!log.isEmpty())
        setLogFile(log);
    const QString control = qEnvironmentVariable("TESSARK_SIM_CONTROL");
    if (!control.isEmpty())
        setControlFile(control);
    bool ok = false;
    const int delay = qEnvironmentVariableIntValue("TESSARK_SIM_REPORT_DELAY_MS", &ok);
    if (ok && delay > 0)
        setReportDelay(delay);
}

} // namespace sim
