// The lighting page against an emulated keyboard answering each report after 1 ms: the COLOR tab
// switch, one paint, restyling all keys, and resident memory over many restyles and switches.
// Usage: bench_color [runs]: each median is of runs measurements (100), the memory is read over
// 100 x runs restyles and 10 x runs switches.
#include "keyboardfixture.h"
#include "tempappdir.h"
#include "windowkeyboard.h"

#include "color/color.h"
#include "color/mode.h"
#include "color/palette.h"
#include "color/pushbutton.h"
#include "device/device.h"
#include "main/tessark.h"
#include "widget/colorchooser.h"
#include "widget/keybtn.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

// Two presses on a swatch within the palette's double-press window open the colour chooser, whose
// modal loop no one answers here: it is answered at once, as a cancel, and counted.
class CancellingChooser : public ColorChooserHandler {
public:
    QColor choose(const ColorChooserRequest&) override
    {
        ++opened;
        return QColor();
    }
    int opened = 0;
};

double medianMs(int runs, const std::function<void()>& before, const std::function<void()>& measured)
{
    std::vector<qint64> ns;
    for (int i = 0; i < runs; ++i) {
        before();
        QElapsedTimer t;
        t.start();
        measured();
        ns.push_back(t.nsecsElapsed());
    }
    std::sort(ns.begin(), ns.end());
    return double(ns[ns.size() / 2]) / 1e6;
}

long residentKb()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, atoi(argv[1])) : 100;
    TempAppDir dir;
    if (!dir.setUpForWindow(QFINDTESTDATA("../appdir"))) {
        std::fprintf(stderr, "cannot set up the application folder\n");
        return 1;
    }
    CancellingChooser chooser;
    colorchooser::setHandler(&chooser);
    Tessark w(nullptr, QStringLiteral("None"));
    w.show();
    QElapsedTimer wait;
    wait.start();
    while (!w.initFinished() && wait.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::unique_ptr<KeyboardFixture> f;
    Device* d = handKeyboardToWindow(w, f, sim::fullSizeDual());
    if (!d || w.dynamicKeyBtns().size() != 104) {
        std::fprintf(stderr, "cannot load the emulated keyboard\n");
        return 1;
    }
    f->kb->setReportDelay(1);
    const auto toKey = [&] { w.labelPageClickSlot(QStringLiteral("staticLayout")); };
    const auto toColor = [&] {
        w.labelPageClickSlot(QStringLiteral("Color"));
        QCoreApplication::processEvents(); // shown and laid out
    };

    const double switchMs = medianMs(runs, toKey, toColor);
    std::printf("COLOR tab switch (page built and shown, 104 keys): %.2f ms median of %d\n", switchMs, runs);
    std::fflush(stdout);

    toColor();
    KeyBtn* key = w.dynamicKeyBtns()[4];
    int k = 0;
    const double paintMs = medianMs(
        runs,
        [&] {
            // Outside the palette's double-press window (200 ms; a coarse timer may fire 5 % late).
            QTest::qWait(260);
            emit w.colorPage()->paletteWidget()->findChild<QPushButton*>(
                        QStringLiteral("customColor_%1").arg(k++ % 38))->pressed();
        },
        [&] {
            emit key->emitRequestColorSignal(4);
            key->repaint();
        });

    const double restyleMs = medianMs(runs, [] {}, [&] {
        w.applyDeviceKeyValues(1);
        for (KeyBtn* b : w.dynamicKeyBtns())
            b->repaint();
    });
    const QVector<QPushButton*> modes = w.globuleModes();
    int m = 0;
    const double modeRowMs = medianMs(runs, [] {}, [&] {
        emit modes[++m % modes.size()]->pressed();
        for (KeyBtn* b : w.dynamicKeyBtns())
            b->repaint();
    });

    f->kb->setReportDelay(0);
    for (int i = 0; i < 10 * runs; ++i)
        w.applyDeviceKeyValues(i & 1);
    const long restyleStart = residentKb();
    for (int i = 0; i < 100 * runs; ++i) {
        w.applyDeviceKeyValues(i & 1);
        if (i % 100 == 0)
            QCoreApplication::processEvents();
    }
    const long restyleEnd = residentKb();
    for (int i = 0; i < runs; ++i) {
        toKey();
        toColor();
    }
    const long switchStart = residentKb();
    for (int i = 0; i < 10 * runs; ++i) {
        toKey();
        toColor();
    }
    const long switchEnd = residentKb();

    std::printf("paint (press to repainted key):                    %.2f ms median of %d\n", paintMs, runs);
    std::printf("restyle of 104 keys (applyDeviceKeyValues):        %.2f ms median of %d\n", restyleMs, runs);
    std::printf("mode-row press (table read, keys restyled):        %.2f ms median of %d\n", modeRowMs, runs);
    std::printf("resident memory, %d restyles:  %ld kB -> %ld kB\n", 100 * runs, restyleStart, restyleEnd);
    std::printf("resident memory, %d switches:   %ld kB -> %ld kB\n", 10 * runs, switchStart, switchEnd);
    std::printf("colour chooser opened by the palette presses: %d times (answered as cancelled)\n", chooser.opened);
    toKey();
    w.closeDevice();
    WindowTestAccess::setLoadedDevice(w, nullptr);
    colorchooser::setHandler(nullptr);
    return 0;
}
