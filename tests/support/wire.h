#pragma once
// Small helpers for what the tests put on and read off the wire.
#include "simcontrol.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

// Raw bytes of memory, a table or a record, for comparisons.
inline QByteArray bytes(const void* p, size_t n)
{
    return QByteArray(static_cast<const char*>(p), int(n));
}
template <typename T>
QByteArray bytes(const std::vector<T>& v)
{
    return bytes(v.data(), v.size() * sizeof(T));
}

// A 64-byte report with group and command, and a tag byte at 8 to tell reports apart.
inline QByteArray report(uint8_t group, uint8_t command, uint8_t tag = 0)
{
    QByteArray r(64, '\0');
    r[0] = char(group);
    r[1] = char(command);
    r[8] = char(tag);
    return r;
}

// A key map (0x20), colour map (0x30) or lighting mode (0x60) switch as the keyboard reports it.
inline QByteArray switchReport(uint8_t code, uint8_t index)
{
    QByteArray r = report(0xF0, code);
    r[2] = 2;
    r[9] = char(index);
    return r;
}

// What a switch report names, as "code:index" (code in hex), so a list of them compares readably; empty
// for any other report.
inline QString switchNamed(const QByteArray& r)
{
    if (r.size() < 10 || uint8_t(r[0]) != 0xF0 || (r[1] != 0x20 && r[1] != 0x30 && r[1] != 0x60))
        return QString();
    return QStringLiteral("%1:%2").arg(uint8_t(r[1]), 0, 16).arg(uint8_t(r[9]));
}

// A flood of switches, codes in turn, perCode of each: they name 0 and 1 in turn and the last of each
// code names `last`, an index no earlier switch of the flood named, so the first switch of a kind cannot
// pass for the last. lastNamed: what the last of each code names, in the order 0x20, 0x30, 0x60.
inline QList<QByteArray> switchFlood(const QList<int>& codes, int perCode, uint8_t last, QStringList* lastNamed)
{
    QList<QByteArray> flood;
    for (int i = 0; i < perCode * codes.size(); ++i) {
        const int n = i / codes.size();
        flood << switchReport(uint8_t(codes[i % codes.size()]), uint8_t(n == perCode - 1 ? last : n % 2));
    }
    lastNamed->clear();
    for (int code : {0x20, 0x30, 0x60})
        if (codes.contains(code))
            *lastNamed << switchNamed(switchReport(uint8_t(code), last));
    return flood;
}

// The reports written to the keyboard with this group and command, in order.
inline QList<QByteArray> sentReports(const sim::KeyboardPtr& kb, uint8_t group, uint8_t command)
{
    QList<QByteArray> out;
    for (const sim::LogEntry& e : kb->log()) {
        const QByteArray& r = e.report;
        if (e.direction == sim::LogEntry::ToDevice && r.size() >= 2 && uint8_t(r[0]) == group
            && uint8_t(r[1]) == command)
            out << r;
    }
    return out;
}

// How many reports were written to the keyboard since its log was last cleared.
inline int sentCount(const sim::KeyboardPtr& kb)
{
    int n = 0;
    for (const sim::LogEntry& e : kb->log())
        n += e.direction == sim::LogEntry::ToDevice;
    return n;
}
