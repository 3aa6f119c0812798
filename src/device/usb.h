#pragma once
// The HID transport: opens one keyboard interface, writes command reports, runs the read loop.
#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <array>
#include <atomic>
#include <cstdint>

class QTimer;
class QWaitCondition;
struct hid_device_;
typedef struct hid_device_ hid_device;

class Usb : public QObject {
    Q_OBJECT
public:
    static constexpr int ReportSize = 64;
    static constexpr int RingSlots = 32;
    static constexpr int ReadTimeoutMs = 10;
    static constexpr int PassPauseMs = 5;
    // A pass takes every report already waiting, up to this many (the keyboard's queue holds 64),
    // so a stop is still seen within a pass.
    static constexpr int MaxReportsPerPass = 256;
    // Unrequested reports sent on but not yet handled: past this many, more are dropped and counted, so a
    // chattering keyboard cannot grow memory or keep the tool busy long after it stops.
    static constexpr int MaxBacklog = 1024;
    // Recorded frames get room on top of that for a whole recording (a macro holds 512 frames).
    static constexpr int RecordingRoom = 512;

    Usb(QWaitCondition* cond, QMutex* mutex, bool* waitFlag);
    ~Usb() override;

    hid_device* openPath(const QString& path);
    void setIds(uint16_t vid, uint16_t pid, int iface);
    int open();
    void close();
    void stopRead();
    // Stops trying to open; call on the usb thread (the timer lives there).
    void cancelOpen();

    int write(const uint8_t* data, uint16_t len);
    int read(uint8_t* data, uint16_t len);
    int read_timeout(uint8_t* data, uint16_t len, int ms);

    const uint8_t* buffer() const { return m_recvBuf; }
    QString path() const { return m_path; }
    bool isOpen() const { return m_handle != nullptr; }
    bool isRunning() const { return m_running.load(); }

    // While disabled the read loop does not read; disabling returns once the loop is out of its read.
    void setReadingEnabled(bool on);
    bool readingEnabled() const { return m_readingEnabled.load(); }

    // Reply hand-over to the waiting request; both are called with the shared mutex held.
    void clearReply() { m_replyReady = false; }
    bool takeReply(QByteArray* out);

    int ringIndex() const { return m_ringIndex; }

    // The handler of emitRecvCmd calls this once per report it has handled (any thread).
    void reportHandled();
    int backlog() const { return m_backlog.load(); }
    // Unrequested reports dropped because the backlog was full.
    int droppedReports() const { return m_dropped.load(); }

signals:
    void emitRecvCmd(QByteArray report);
    void emitOpenSucceeded();
    void emitUsbDisconnect();

public slots:
    int readSlot();
    // Tries the path once a second while it stays enumerated (a refused or busy node may open later);
    // once it is gone, stops trying and signals emitUsbDisconnect.
    void openSlot(ushort vid, ushort pid, int iface, QString path);
    void timeroutOpenSlot();

private:
    // True when the report went to the waiting request rather than out as a signal.
    bool handleReport(const uint8_t* report);
    // Sends an unrequested report on, counted in the backlog when someone handles it (shared mutex held).
    void passOn(const uint8_t* report);
    // Switches that found the backlog full: the latest of each kind, sent on ahead of whatever comes
    // next once there is room (read loop only, under the shared mutex).
    void passOnParkedSwitches();
    std::array<QByteArray, 3> m_parkedSwitches;
    bool m_switchesParked = false;
    // The path is among the interfaces enumerated for the vendor and product id.
    bool pathListed() const;

    hid_device* m_handle = nullptr;
    uint16_t m_vid = 0;
    uint16_t m_pid = 0;
    int m_iface = -1;
    QString m_path;

    std::atomic<bool> m_running{true};
    std::atomic<bool> m_readingEnabled{true};
    QMutex m_passMutex; // held by the loop while it reads

    QWaitCondition* m_cond;
    QMutex* m_mutex;
    bool* m_waitFlag;

    uint8_t m_recvBuf[65] = {};
    bool m_replyReady = false; // under the shared mutex
    uint8_t m_ring[RingSlots][65] = {};
    int m_ringIndex = -1;
    std::atomic<int> m_backlog{0};
    std::atomic<int> m_dropped{0};
    // The backlog's swings are told as one pair, at most once a span: "full" when drops begin, "has room
    // again" with their count once it has emptied to half. Under the shared mutex.
    static constexpr qint64 BacklogLogSpanMs = 60000;
    int m_droppedSinceSaid = 0;
    bool m_fullSaid = false;
    qint64 m_fullSaidAtMs = 0;

    QTimer* m_openTimer = nullptr;
};
