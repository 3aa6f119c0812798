// The macro editor's two hot paths. (1) A recording: 500 report changes typed on an emulated keyboard
// answering each report after 1 ms reach the macro page as live chips; reports the time the page spends
// per chip (static key lookup, chip creation and re-layout of the whole timeline) near chip 100 and near
// chip 500, and the re-layout alone at those lengths; then how many of the same changes reach the page
// when they come 1 ms apart; before the recordings, the processor time taken while the keyboard is
// open and idle (the read loop's passes). (2) The frame codec: encoding and decoding a full 512-frame
// macro, time per call.
// Usage: bench_macro [codec runs]; the platform is offscreen. Log lines are formatted but discarded.
#include "keyboardfixture.h"
#include "messageboxrecorder.h"
#include "readerharness.h"

#include "device/records.h"
#include "macro/key.h"
#include "macro/keylayout.h"
#include "macro/macro.h"
#include "macro/macrocodec.h"
#include "macro/macroitem.h"
#include "widget/data.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <numeric>
#include <vector>

namespace {

constexpr int Changes = 500;
constexpr int NotifyHeader = 8;
constexpr uint8_t NotifyMacroData = 0x50;

void discardMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

// The built tree has config/ and images/ beside bench/; a source checkout has them in appdir/.
QString sampleRoot(const QString& binDir)
{
    const QString built = binDir + QStringLiteral("/..");
    if (QFileInfo::exists(built + QStringLiteral("/config")))
        return built;
    return QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/../appdir");
}

// A press then a release of one letter per pair (A..Z in turn), spacingMs apart: every change makes
// exactly one chip.
QList<sim::ReportChange> typing(int changes, int spacingMs)
{
    QList<sim::ReportChange> out;
    for (int i = 0; i < changes; ++i) {
        QByteArray report(8, '\0');
        if (i % 2 == 0)
            report[2] = char(0x04 + (i / 2) % 26);
        out.append({spacingMs, report});
    }
    return out;
}

// Mean of values of chips first..last (numbered from 1), in microseconds.
double meanUs(const std::vector<qint64>& ns, int first, int last)
{
    first = std::max(first, 1);
    last = std::min(last, int(ns.size()));
    if (last < first)
        return 0;
    const qint64 sum = std::accumulate(ns.begin() + (first - 1), ns.begin() + last, qint64(0));
    return double(sum) / (last - first + 1) / 1000.0;
}

// Median of values of chips first..last (numbered from 1), in microseconds.
double medianUs(const std::vector<qint64>& ns, int first, int last)
{
    first = std::max(first, 1);
    last = std::min(last, int(ns.size()));
    if (last < first)
        return 0;
    std::vector<qint64> window(ns.begin() + (first - 1), ns.begin() + last);
    std::nth_element(window.begin(), window.begin() + window.size() / 2, window.end());
    return window[window.size() / 2] / 1000.0;
}

// The static key lookup alone, as each new chip runs it: a fresh reader of the static key file.
double lookupUs(int runs)
{
    Key chip(nullptr, 1);
    qint64 total = 0;
    for (int i = 0; i < runs; ++i) {
        chip.setKeyCode(1, 0, uint16_t(0x04 + i % 26));
        QElapsedTimer t;
        t.start();
        Data data;
        data.loadKeys(&chip);
        total += t.nsecsElapsed();
    }
    return total / 1e3 / runs;
}

double sumMs(const std::vector<qint64>& ns, int first, int last)
{
    return meanUs(ns, first, last) * (std::min(last, int(ns.size())) - first + 1) / 1000.0;
}

// What one recording into a new entry measured.
struct Recording {
    KeyLayout* timeline = nullptr;
    std::vector<qint64> chipNs = std::vector<qint64>(Changes, 0);     // the page's handling, per chip
    std::vector<qint64> relayoutNs = std::vector<qint64>(Changes, 0); // the re-layout alone, per chip
    qint64 handlerNs = 0;
    int notifications = 0;
    int uneven = 0; // notifications that made no chip or more than one (a report lost before them)
    QElapsedTimer clock;
    qint64 lastMs = 0; // the last notification handled, from the first change played
    int chips = 0;     // on the timeline when the recording stopped (which drops unpaired ones)
};

// Adds an entry, records typing played spacingMs apart into it and stops the recording once every
// chip is there, or once the keyboard has played everything and nothing arrived for a while.
bool record(Macro& page, KeyboardFixture& f, Recording& r, int spacingMs)
{
    page.addItemSlot();
    MacroItem* entry = page.items().value(page.items().size() - 1);
    if (!entry || page.getSelectItem() != entry) {
        std::fprintf(stderr, "no macro entry to record into\n");
        return false;
    }
    r.timeline = entry->keyLayout();
    page.setRecording(true);
    if (!page.isRecording() || !f.kb->state().recording) {
        std::fprintf(stderr, "the recording did not start\n");
        return false;
    }
    r.clock.start();
    f.kb->playKeys(typing(Changes, spacingMs));

    constexpr qint64 QuietMs = 1000;
    constexpr qint64 TimeoutMs = 120000;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        const qint64 now = r.clock.elapsed();
        const bool quiet = !f.kb->playing() && now - r.lastMs > QuietMs;
        if (r.timeline->keys.size() >= Changes || quiet || now > TimeoutMs)
            loop.quit();
    });
    poll.start(20);
    loop.exec();
    r.chips = r.timeline->keys.size();
    page.setRecording(false);
    return true;
}

// A macro of 256 letter presses and releases, 1 ms apart: every event opens a frame.
QVector<DataKey*> fullMacroEvents()
{
    QVector<DataKey*> out;
    for (int i = 0; i < macrocodec::MaxFrames; ++i) {
        auto* e = new DataKey(i % 2 == 0 ? 1 : 0);
        e->delay = 1;
        e->code = uint16_t(0x04 + (i / 2) % 26);
        e->type = 1;
        e->stype = 0;
        out.append(e);
    }
    return out;
}

// Processor time of the whole process over idleMs of an idle keyboard, as a share of one core.
double idleCpuPercent(int idleMs)
{
    QEventLoop loop;
    QTimer::singleShot(idleMs, &loop, &QEventLoop::quit);
    QElapsedTimer wall;
    wall.start();
    const std::clock_t before = std::clock(); // processor time of every thread
    loop.exec();
    const double cpuMs = double(std::clock() - before) * 1000.0 / CLOCKS_PER_SEC;
    return wall.elapsed() > 0 ? 100.0 * cpuMs / double(wall.elapsed()) : 0;
}

int recordingBench()
{
    ReaderAppDir appDir;
    const QString root = sampleRoot(QCoreApplication::applicationDirPath());
    if (!appDir.copyFiles(root + QStringLiteral("/config"), QStringLiteral("config"))
        || !appDir.copyFiles(root + QStringLiteral("/images"), QStringLiteral("images"))) {
        std::fprintf(stderr, "cannot copy config/ and images/ from %s\n", qPrintable(root));
        return 1;
    }
    MessageBoxRecorder boxes;

    sim::KeyboardConfig config;
    config.macros = 16;
    config.sampleKeyFunctions = false;
    KeyboardFixture f(config);
    // Every head free: the page starts with an empty list and the recording goes to a new macro.
    f.kb->edit([](sim::FirmwareState& s) {
        for (size_t i = 0; i < s.macroHeads.size(); ++i) {
            QByteArray head(24, '\0');
            head[0] = char(i & 0x3F);
            s.macroHeads[i] = head;
            s.macroFrames[i].clear();
        }
    });
    if (!f.open() || !f.loadNow()) {
        std::fprintf(stderr, "cannot load the emulated keyboard\n");
        return 1;
    }

    Macro page(nullptr, 0);
    page.resize(1100, 700);
    page.show();
    page.setDevice(appDir.filePath(QStringLiteral("dev/")), f.device);

    // What the window does with a macro data notification, timed per call.
    Recording* current = nullptr;
    QObject::connect(f.device, &Device::emitNotify, &page, [&](QByteArray report) {
        if (!current || report.size() < NotifyHeader || uint8_t(report[1]) != NotifyMacroData)
            return;
        Recording& r = *current;
        const auto* p = reinterpret_cast<const uint8_t*>(report.constData());
        // As the window does: what the report carries, whatever length it declares.
        const int length = report.size() - NotifyHeader;
        const int before = r.timeline->keys.size();
        QElapsedTimer t;
        t.start();
        page.getRawData(const_cast<uint8_t*>(p + NotifyHeader), uint16_t(length));
        const qint64 ns = t.nsecsElapsed();
        r.handlerNs += ns;
        ++r.notifications;
        r.lastMs = r.clock.elapsed();
        const int after = r.timeline->keys.size();
        if (after - before != 1 || after > Changes) {
            ++r.uneven;
            return;
        }
        r.chipNs[size_t(before)] = ns;
        // Placing the same chips again changes nothing on screen: the re-layout alone at this length.
        t.restart();
        r.timeline->updateKeyPoint();
        r.relayoutNs[size_t(before)] = t.nsecsElapsed();
    });
    f.kb->setReportDelay(1);

    constexpr int IdleMs = 5000;
    std::printf("== keyboard open, nothing sent\n");
    std::printf("processor time over %d ms idle:     %8.2f %% of one core\n", IdleMs, idleCpuPercent(IdleMs));

    // Changes 10 ms apart: the read loop, which pauses between passes, takes every one.
    constexpr int Spacing = 10;
    Recording paced;
    current = &paced;
    if (!record(page, f, paced, Spacing))
        return 1;
    const int chips = paced.chips;
    if (chips != Changes || paced.notifications != Changes || paced.uneven != 0) {
        std::fprintf(stderr, "%d chips from %d notifications (%d not one chip each), %d expected\n", chips,
                     paced.notifications, paced.uneven, Changes);
        return 1;
    }
    const std::vector<qint64>& ns = paced.chipNs;
    std::printf("== live chips: %d report changes %d ms apart, report delay 1 ms\n", Changes, Spacing);
    std::printf("played in:                           %8d ms\n", Changes * Spacing);
    std::printf("first change to chip %d:            %8lld ms\n", Changes, static_cast<long long>(paced.lastMs));
    std::printf("page time, all chips:                %8.1f ms (%.1f us per chip)\n", paced.handlerNs / 1e6,
                paced.handlerNs / 1e3 / Changes);
    std::printf("per chip, chips  90-110:             %8.1f us mean, %8.1f median   (re-layout alone %6.1f us)\n",
                meanUs(ns, 90, 110), medianUs(ns, 90, 110), meanUs(paced.relayoutNs, 90, 110));
    std::printf("per chip, chips 480-500:             %8.1f us mean, %8.1f median   (re-layout alone %6.1f us)\n",
                meanUs(ns, 480, 500), medianUs(ns, 480, 500), meanUs(paced.relayoutNs, 480, 500));
    std::printf("static key lookup alone:             %8.1f us per chip (mean of 100)\n", lookupUs(100));
    std::printf("chips   1-100 added in:              %8.2f ms\n", sumMs(ns, 1, 100));
    std::printf("chips 401-500 added in:              %8.2f ms\n", sumMs(ns, 401, 500));
    const auto slowest = std::max_element(ns.begin(), ns.end());
    std::printf("slowest chip:                        %8.1f us (chip %d)\n", *slowest / 1e3,
                int(slowest - ns.begin()) + 1);

    // The same typing 1 ms apart: several reports wait at each pass of the read loop, which takes them
    // all; any it left would be dropped from the keyboard's queue once full.
    Recording burst;
    current = &burst;
    if (!record(page, f, burst, 1))
        return 1;
    current = nullptr;
    std::printf("== the same changes 1 ms apart\n");
    std::printf("notifications reaching the page:     %8d of %d\n", burst.notifications, Changes);
    std::printf("chips made:                          %8d (%d notifications not one chip each)\n",
                burst.chips, burst.uneven);
    std::printf("first change to last notification:   %8lld ms\n", static_cast<long long>(burst.lastMs));
    return 0;
}

int codecBench(int runs)
{
    const QVector<DataKey*> owned = fullMacroEvents();
    QVector<const DataKey*> events;
    for (const DataKey* e : owned)
        events.append(e);
    std::vector<mframe_t> frames(macrocodec::MaxFrames);
    uint32_t needed = 0;
    uint32_t written = 0;

    auto encodeOnce = [&] {
        std::memset(frames.data(), 0, frames.size() * sizeof(mframe_t));
        written = macrocodec::encodeFrames(events, frames.data(), macrocodec::MaxFrames, &needed);
    };
    encodeOnce(); // warm-up, and the frames the decoder reads
    if (written != uint32_t(macrocodec::MaxFrames) || needed != written) {
        std::fprintf(stderr, "encoded %u frames (needed %u), %d expected\n", written, needed, macrocodec::MaxFrames);
        qDeleteAll(owned);
        return 1;
    }
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < runs; ++i)
        encodeOnce();
    const qint64 encodeNs = t.nsecsElapsed();

    const std::vector<mframe_t> encoded = frames;
    QVector<DataKey*> decoded;
    decoded.reserve(macrocodec::MaxFrames);
    macrocodec::decodeFrames(macrocodec::MaxFrames, encoded.data(), &decoded);
    const int eventsBack = decoded.size();
    qDeleteAll(decoded);
    decoded.clear();
    if (eventsBack != macrocodec::MaxFrames) {
        std::fprintf(stderr, "decoded %d events, %d expected\n", eventsBack, macrocodec::MaxFrames);
        qDeleteAll(owned);
        return 1;
    }
    qint64 decodeNs = 0;
    for (int i = 0; i < runs; ++i) {
        t.restart();
        macrocodec::decodeFrames(macrocodec::MaxFrames, encoded.data(), &decoded);
        decodeNs += t.nsecsElapsed();
        qDeleteAll(decoded); // the caller's cleanup is not part of a decode
        decoded.clear();
    }
    qDeleteAll(owned);

    std::printf("== frame codec: %d frames, %d runs each\n", macrocodec::MaxFrames, runs);
    std::printf("encodeFrames:                        %8.1f us per call (%.3f us per frame)\n",
                encodeNs / 1e3 / runs, encodeNs / 1e3 / runs / macrocodec::MaxFrames);
    std::printf("decodeFrames:                        %8.1f us per call (%.3f us per frame)\n",
                decodeNs / 1e3 / runs, decodeNs / 1e3 / runs / macrocodec::MaxFrames);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 1000;
    // The tool writes its log to a file; here the lines are built and dropped, so output costs nothing.
    qInstallMessageHandler(discardMessages);
    if (const int result = recordingBench())
        return result;
    return codecBench(runs);
}
