#pragma once
// The bound in all of a firmware upload. Each packet has its own wait for its acknowledgement, but a
// bootloader or module that answers every one just inside it would hold the upload, and the window
// with it, for hours. Every `window` acknowledgements in a row must come within window × slowest ms,
// the first packet's write counting as the first of them.
#include <QString>
#include <atomic>
#include <deque>

class UploadPace {
public:
    // A working bootloader or module acknowledges a packet within a few milliseconds (a report each
    // way, a flash write of 48 or 56 bytes). The emulator at the slowest delay a working device is
    // given (100 ms a report) takes some 200 ms, the sanitizer build and a busy machine a little more.
    // A second each on average is five times that, and an image of 128 KiB would take 40 minutes.
    static constexpr int SlowestAckMs = 1000;
    // Judged over this many acknowledgements: one slow packet (a page erase, a busy moment) never ends
    // an upload, and a crawling device is let go some 30 s into its data.
    static constexpr int Window = 30;
    static constexpr int MaxWindow = 1000;
    static constexpr int MaxSlowestAckMs = 600000;

    UploadPace();

    // Any thread, before start(); values are kept within 1..MaxWindow and 1..MaxSlowestAckMs.
    void setBound(int window, int slowestAckMs);
    // What every UploadPace made from now on starts with, for the tests that run an upload of the
    // window's own; 0 and 0 bring the figures above back.
    static void setDefaultBoundForTest(int window, int slowestAckMs);

    // The first paced packet is about to be written (the thread of the upload).
    void start(qint64 nowMs);
    // An acknowledgement was accepted (the thread of the upload); nothing while stopped.
    void acknowledged(qint64 nowMs);
    // No bound until the next start (any thread).
    void stop() { m_deadline = 0; }
    // Monotonic ms by which the next acknowledgement of the window must have come; 0 while stopped.
    qint64 deadline() const { return m_deadline.load(); }
    // Once the deadline passed, for the log: the bound and the pace measured over the window.
    QString describe(qint64 nowMs) const;

private:
    std::atomic<int> m_window;
    std::atomic<int> m_slowestMs;
    // The thread of the upload only: the window's figures while it runs, and the times of its start and
    // acknowledgements, oldest first, at most `window` of them.
    int m_runWindow = Window;
    int m_runSlowestMs = SlowestAckMs;
    std::deque<qint64> m_times;
    std::atomic<qint64> m_deadline{0};
};
