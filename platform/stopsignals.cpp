#include "stopsignals.h"

#include <QSocketNotifier>
#include <QtGlobal>

#ifndef Q_OS_WIN
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int Watched[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int WatchedCount = int(sizeof Watched / sizeof Watched[0]);

// The write end for the handler; -1 while no object watches. A handler may only call what is
// async-signal-safe: it writes the signal's number, or keeps it for the first object, and nothing else.
std::atomic<int> g_writeEnd{-1};
// A signal that came while no object watched (0: none), for the first object to take.
std::atomic<int> g_caught{0};
// Every signal the handler took; a lock-free counter, so the handler may move it.
std::atomic<int> g_received{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler counts without a lock");
int g_readEnd = -1;
// Whether the handler is in place, and which signals it took over (one inherited as ignored is left so).
bool g_installed = false;
bool g_taken[WatchedCount] = {};
struct sigaction g_before[WatchedCount];

extern "C" void onStopSignal(int number)
{
    const int saved = errno;
    g_received.fetch_add(1);
    int fd = g_writeEnd.load();
    if (fd < 0) {
        g_caught.store(number);
        // An object may have begun to watch in between: whichever of the two takes the number back
        // passes it on, so it is neither lost nor told twice.
        fd = g_writeEnd.load();
        number = fd >= 0 ? g_caught.exchange(0) : 0;
    }
    if (fd >= 0 && number != 0) {
        const unsigned char byte = static_cast<unsigned char>(number);
        // Non-blocking: when the pipe is full, requests are waiting to be read already.
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

void installHandler()
{
    if (g_installed)
        return;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // a read or write the signal interrupts goes on
    for (int i = 0; i < WatchedCount; ++i) {
        ::sigaction(Watched[i], nullptr, &g_before[i]);
        // Started with the signal ignored (nohup): whoever started the tool asked for that.
        g_taken[i] = g_before[i].sa_handler != SIG_IGN;
        if (g_taken[i])
            ::sigaction(Watched[i], &action, nullptr);
    }
    g_installed = true;
}

void removeHandler()
{
    for (int i = 0; i < WatchedCount; ++i)
        if (g_installed && g_taken[i])
            ::sigaction(Watched[i], &g_before[i], nullptr);
    g_installed = false;
}

} // namespace

void StopSignals::catchFromStart()
{
    installHandler();
}

const std::atomic<int>& StopSignals::received()
{
    return g_received;
}

StopSignals::StopSignals(QObject* parent)
    : QObject(parent)
{
    if (g_writeEnd.load() >= 0) {
        qWarning("stop signals: already watched by another object");
        return;
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
        qWarning("stop signals: no socket pair, the signals keep their default action");
        removeHandler(); // one caught from the start would be kept for nobody
        return;
    }
    for (int fd : fds) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC); // not handed to programs the tool starts
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    g_readEnd = fds[0];
    g_writeEnd.store(fds[1]);
    m_notifier = new QSocketNotifier(g_readEnd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::readSignals);
    installHandler();
    // From here on the handler writes; what came before is this object's to tell.
    m_caughtBefore = g_caught.exchange(0);
    m_watching = true;
}

StopSignals::~StopSignals()
{
    if (!m_watching)
        return;
    removeHandler();
    delete m_notifier;
    m_notifier = nullptr;
    const int writeEnd = g_writeEnd.exchange(-1);
    ::close(writeEnd);
    ::close(g_readEnd);
    g_readEnd = -1;
    g_caught.store(0);
}

void StopSignals::readSignals()
{
    unsigned char numbers[16];
    for (;;) {
        const ssize_t n = ::read(g_readEnd, numbers, sizeof numbers);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        for (ssize_t i = 0; i < n; ++i)
            emit stopRequested(int(numbers[i]));
    }
}

#else

void StopSignals::catchFromStart() {}

const std::atomic<int>& StopSignals::received()
{
    static const std::atomic<int> none{0};
    return none;
}

StopSignals::StopSignals(QObject* parent)
    : QObject(parent)
{
}

StopSignals::~StopSignals() = default;

void StopSignals::readSignals() {}

#endif
