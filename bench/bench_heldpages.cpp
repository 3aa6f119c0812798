// What colour and lighting page replies naming an earlier page cost: the colour table's load and a
// colour-map switch (and a lighting-mode switch) against an emulated 104-key keyboard answering after
// 1 ms, for a keyboard naming each page, one naming the page before on every reply, and one repeating
// its reply to the page before just ahead of each late reply of its own. Fails when a table read is
// not what the keyboard holds.
// Usage: bench_heldpages [runs]: each figure is the median of runs measurements (5).
#include "keyboardfixture.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int RepeatLateMs = 200; // within the 160-300 ms such keyboards were seen to lag

QByteArray bytes(const std::vector<uint8_t>& v)
{
    return QByteArray(reinterpret_cast<const char*>(v.data()), int(v.size()));
}

// The median in ms of runs measurements; false when one fails.
bool medianMs(int runs, const std::function<bool()>& measured, double* ms)
{
    std::vector<qint64> ns;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        if (!measured())
            return false;
        ns.push_back(t.nsecsElapsed());
    }
    std::sort(ns.begin(), ns.end());
    *ms = double(ns[ns.size() / 2]) / 1e6;
    return true;
}

// Makes f's keyboard answer colour and lighting pages as kind says: "before" names the page before,
// "repeat" sends its reply to the page before again, then its own late; anything else answers plainly.
void answerAs(KeyboardFixture& f, const char* kind)
{
    for (const uint8_t group : {0x30, 0x60}) {
        const uint8_t command = group == 0x30 ? 0x10 : 0x03;
        if (qstrcmp(kind, "before") == 0)
            f.kb->nameRangeBefore(group, command);
        else if (qstrcmp(kind, "repeat") == 0)
            f.kb->answerStaleFirst(group, command, -1, 0, 1, 0, RepeatLateMs);
    }
}

bool measure(const char* kind, int runs)
{
    double loadMs = 0, colourSwitchMs = 0, lightingSwitchMs = 0;
    bool ok = medianMs(runs, [&] {
        KeyboardFixture f;
        f.kb->setReportDelay(1);
        answerAs(f, kind);
        if (!f.open())
            return false;
        Device* d = f.device;
        const bool read = d->getKRInfo() == DeviceResult::Ok && d->getCurKRMID() == DeviceResult::Ok
                          && d->getAllKR() == DeviceResult::Ok;
        const sim::FirmwareState s = f.kb->state();
        return read && bytes(d->m_pKRs) == s.colourMaps.at(s.curColourMap);
    }, &loadMs);
    if (!ok)
        std::fprintf(stderr, "%s: the colour table load failed\n", kind);

    // One Device for the switches, loaded once: a switch reads the whole table of the map or mode it names.
    KeyboardFixture f;
    f.kb->setReportDelay(1);
    answerAs(f, kind);
    Device* d = f.device;
    ok = ok && f.open() && d->getKRInfo() == DeviceResult::Ok && d->getCurKRMID() == DeviceResult::Ok
         && d->getAllKR() == DeviceResult::Ok && d->getLMInfo() == DeviceResult::Ok
         && d->getCurLM() == DeviceResult::Ok && d->getCurLMM() == DeviceResult::Ok;
    if (!ok)
        std::fprintf(stderr, "%s: the load before the switches failed\n", kind);
    int turn = 0;
    ok = ok && medianMs(runs, [&] {
        const sim::FirmwareState s = f.kb->state();
        const uint8_t map = uint8_t(++turn % s.colourMaps.size());
        return d->setCurKRMID(map) == DeviceResult::Ok && d->getAllKR() == DeviceResult::Ok
               && bytes(d->m_pKRs) == s.colourMaps.at(map);
    }, &colourSwitchMs);
    ok = ok && medianMs(runs, [&] {
        const sim::FirmwareState s = f.kb->state();
        const uint8_t mode = uint8_t(++turn % s.lightingModes.size());
        return d->setCurLM(mode) == DeviceResult::Ok && d->getCurLMM() == DeviceResult::Ok
               && bytes(d->m_pLMMs) == s.lightingModes.at(mode);
    }, &lightingSwitchMs);
    if (!ok) {
        std::fprintf(stderr, "%s: a table read failed or is not what the keyboard holds\n", kind);
        return false;
    }
    std::printf("%-8s colour table load %8.1f ms   colour-map switch %8.1f ms   lighting-mode switch %8.1f ms"
                "   (medians of %d)\n", kind, loadMs, colourSwitchMs, lightingSwitchMs, runs);
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, atoi(argv[1])) : 5;
    std::printf("keyboards: plain (names each page), before (names the page before on every reply),\n"
                "repeat (its reply to the page before again, then its own %d ms late)\n", RepeatLateMs);
    bool ok = true;
    for (const char* kind : {"plain", "before", "repeat"})
        ok = measure(kind, runs) && ok;
    return ok ? 0 : 1;
}
