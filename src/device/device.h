#pragma once
// The keyboard's protocol client: every keyboard operation as 64-byte command reports and replies.
#include "records.h"
#include "resultcodes.h"
#include "uploadpace.h"

#include <QByteArray>
#include <QColor>
#include <QObject>
#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

class Usb;
class QMutex;
class QWaitCondition;

// How long each kind of request waits for its reply.
namespace DeviceTimeout {
constexpr int Info = 500;     // 0x10/0x10
constexpr int Get = 2000;     // every other read
constexpr int Bounded = 5000; // sets and macro packets: never wait without end
}

class Device : public QObject {
    Q_OBJECT
public:
    static constexpr int MaxMacroFrames = 512;
    static constexpr int KeyPage = 13;     // key code / colour entries per request
    static constexpr int LightingPage = 48; // lighting mode bytes per request
    // How long a colour or lighting page reply naming a page asked before, with other entries than any
    // reply taken before, waits for a better answer the first time a read meets one (a repeat of a reply
    // taken waits the whole reply time).
    static constexpr int HeldPageGraceMs = 150;
    static constexpr int MacroPassRetries = 3;

    // Accepts or rejects a report that echoes the request's group and command.
    using ReplyFilter = std::function<bool(const uint8_t* reply)>;
    // Whether a report that echoes the request but is not accepted may still be its reply: NotHeld, or
    // the ms after which it is taken when nothing accepted came (TakeAtWaitEnd: only at the wait's end).
    using HoldFilter = std::function<int(const uint8_t* reply)>;
    static constexpr int NotHeld = -1;
    static constexpr int TakeAtWaitEnd = 0x7FFFFFFF;
    // How a request's reply came: an accepted one, or one held and taken after its grace or at the end.
    enum class ReplyWay { Accepted, HeldAfterGrace, HeldAtWaitEnd };
    // Told about a failed key function write; none by default (the failure is only logged).
    using WriteFailureNotifier = std::function<void(uint32_t code)>;

    Device(Usb* usb, QWaitCondition* cond, QMutex* mutex, bool* waitFlag);
    ~Device() override;

    void setUsb(Usb* usb) { m_usb = usb; }
    Usb* usb() const { return m_usb; }

    // --- request core --------------------------------------------------------------------
    uint32_t sendPacket(uint8_t group, uint8_t command, uint16_t length, uint16_t offset,
                        const uint8_t* payload);
    void releaseWait();
    // One exchange under the shared lock. reply receives the 64 bytes of the matching report.
    // A report that `accept` turns down but `holdable` keeps waits for an accepted one: the last kept that
    // may go early is the reply once the earliest of their graces ends; at the wait's end, the last kept.
    // way (when given) tells which of these the reply was.
    uint32_t request(uint8_t group, uint8_t command, uint16_t length, uint16_t offset,
                     const uint8_t* payload, int timeoutMs, uint8_t* reply,
                     const ReplyFilter& accept = ReplyFilter(), bool ignoreWriteFailure = false,
                     const HoldFilter& holdable = HoldFilter(), ReplyWay* way = nullptr);
    // Callable from any thread: a waiting request returns Stopped at once, loading ends.
    void requestStop();
    bool stopRequested() const { return m_stop.load(); }
    // A count of the system's stop requests, moved by a signal handler (which may not wake a wait): a
    // request waiting when it moves returns Stopped within StopPollMs, so the thread it holds (the
    // window's) gets back to its event loop. Set once at start; null: nothing is watched.
    static void watchOutsideStops(const std::atomic<int>* count) { s_outsideStops.store(count); }
    // Tests only: moves the clock the report log's spans are measured with this far on (0: back).
    static void shiftLogClockForTest(qint64 ms) { s_logClockShiftMs.store(ms); }
    static qint64 logClockShiftMs() { return s_logClockShiftMs.load(); }
    static int outsideStops()
    {
        const std::atomic<int>* count = s_outsideStops.load();
        return count ? count->load() : 0;
    }
    static constexpr int StopPollMs = 50;

    void setWriteFailureNotifier(WriteFailureNotifier n) { m_writeFailureNotifier = std::move(n); }

    // --- device information and settings (group 0x10, 0xB0) ---------------------------------
    uint32_t enterDfu();
    uint32_t getDevInfo();
    uint32_t getDeviceVersion();
    uint32_t getScanSpeed();
    uint32_t getUserInfo();
    uint32_t getInfo40();
    uint32_t getNKey();
    uint32_t setScanSpeed(uint16_t ms);
    uint32_t setUserInfo(const QString& text);
    uint32_t setNKey(uint8_t value);
    uint32_t getBtName();
    uint32_t setBtName(const QString& name);
    uint32_t getSleepTime();
    uint32_t setSleepTime(uint32_t ms);
    uint32_t factoryReset();

    QString boardName() const; // up to the first zero byte, local 8-bit
    QString versionText() const;

    // --- key code maps (0x20), colour maps (0x30), lighting mode tables (0x60) ----------------
    uint32_t getKCInfo();
    uint32_t getCurKCMID();
    uint32_t setCurKCMID(uint8_t map);
    uint32_t getKC(uint8_t first, uint8_t last, uint8_t* dest);
    uint32_t setKC(uint8_t first, uint8_t last, const uint8_t* entries);
    uint32_t getAllKC();

    uint32_t getKRInfo();
    uint32_t getCurKRMID();
    uint32_t setCurKRMID(uint8_t map);
    uint32_t getKR(uint8_t first, uint8_t last, uint8_t* dest);
    uint32_t setKR(uint8_t first, uint8_t last, const uint8_t* entries);
    uint32_t getAllKR();
    QColor keyColor(int index) const;
    // setKR's result; BadIndex for a key past the colour table.
    uint32_t setKeyColor(int index, const QColor& color);

    uint32_t getLMInfo();
    uint32_t getCurLM();
    uint32_t setCurLM(uint8_t mode);
    uint32_t getLMM(uint8_t start, uint8_t end, uint8_t* dest);
    uint32_t setLMM(int start, int end, const uint8_t* bytes); // int: callers pass key indexes
    uint32_t getCurLMM();

    // --- key functions (0x40), macros (0x50), lighting actions (0x60/0x2x) ------------------
    uint32_t getKFInfo();
    uint32_t getKFItem(int index, kf_t* dest);
    uint32_t getAllKF();
    uint32_t setKFItem(const kf_t* record);

    uint32_t getKMInfo();
    uint32_t getMacroHead(int index, km_t* dest);
    uint32_t getAllMacroHead();
    uint32_t setMacroHead(const km_t* head);
    uint32_t selectMacro(uint8_t index);
    uint32_t setRecordMacro(bool on);
    uint32_t macroCmd20(uint8_t value);
    uint32_t readMacroData(int index);
    uint32_t writeMacroData(int index, int count, const mframe_t* frames);
    uint32_t deleteMacro(int index);
    uint32_t setMacroHeadData(int index, const uint8_t name[16]);

    uint32_t getLAInfo();
    uint32_t getLAItem(int index, la_t* dest);
    uint32_t getAllLA();
    uint32_t setLAItem(const la_t* record);

    // --- loaded state (read by the pages after emitFinishLoad) ------------------------------
    struct DevInfo {
        uint32_t word0 = 0;
        uint32_t word1 = 0;
        uint8_t date[16] = {};
        uint8_t boardName[16] = {};
    };
    DevInfo m_devInfo;
    uint16_t m_fw_version = 0;
    uint16_t m_hw_version = 0;
    char m_versionText[16] = {};
    uint16_t m_scanSpeed = 0;
    uint8_t m_userInfo[48] = {};
    uint8_t m_deviceId[12] = {};
    uint8_t m_nKey = 0;
    uint8_t m_btName[12] = {};
    uint32_t m_sleepTime = 0;
    uint32_t m_lastSleepTime = 0;

    uint8_t m_nkcm = 0xFF;
    uint8_t m_curkcm = 0xFF;
    uint8_t m_nkc = 0xFF;
    std::vector<uint8_t> m_pKCs; // m_nkc entries of 4 bytes
    uint8_t m_nkrm = 0xFF;
    uint8_t m_curkrm = 0xFF;
    uint8_t m_nkr = 0xFF;
    std::vector<uint8_t> m_pKRs; // m_nkr entries: blue, green, red, 0
    uint8_t m_nlmm = 0xFF;
    uint8_t m_curlm = 0xFF;
    uint8_t m_nlm = 0xFF;
    std::vector<uint8_t> m_pLMMs; // m_nlm bytes

    uint8_t m_nKFTotalNum = 0;
    uint8_t m_nKFOther = 0;
    std::vector<kf_t> m_pKFs;
    uint8_t m_nKMTotalNum = 0;
    std::vector<km_t> m_pKMs;
    uint8_t m_curkm = 0;
    std::array<mframe_t, MaxMacroFrames> m_frames{};
    uint8_t m_nLATotalNum = 0;
    std::vector<la_t> m_pLAs;

    // Notifications passed on and not yet handled by a consumer that acknowledges them: past this many
    // (more for recorded frames, as for the transport's backlog) further ones are dropped and counted,
    // so a chattering keyboard cannot pile work up on a slower thread.
    static constexpr int MaxNotificationsInFlight = 1024;
    // For a consumer on another thread: while on, every emitNotify counts as waiting until
    // notificationHandled() is called for it. Off (the default) nothing is counted.
    void countNotificationsInFlight(bool on)
    {
        m_countInFlight = on;
        m_notificationsInFlight = 0;
    }
    void notificationHandled();
    // Switches (key map, colour map, lighting mode) that came past the bound: the latest of each kind,
    // passed on once there is room again, ahead of anything later (device thread only).
    bool switchesParked() const { return m_switchesParked.load(); }

signals:
    void emitUpdateDfuFinished();
    void emitFirmwareUpdateProgress(int);
    void SendByteUpdateProgress(int);
    void emitFinishLoad();
    void emitNotify(QByteArray report);
    void emitStopDfu();
    void emitLoadDevInfoError();
    void UpdateError(int step, int code);
    void emitState(int state, int code);

public slots:
    uint32_t loadDevInfoSlot();
    uint32_t recvCmdSlot(QByteArray report);

private:
    // A set with a status word at byte 8: sends, waits at most Bounded, returns the status.
    uint32_t statusRequest(uint8_t group, uint8_t command, uint16_t length, const uint8_t* payload,
                           uint8_t* reply = nullptr);
    // Ranges [first, last] of the pages a paged read has asked for so far.
    using PageRanges = std::vector<std::pair<int, int>>;
    // Reads entries first..last of a key code, colour or lighting mode table into dest, which has room
    // for `room` entries of entrySize bytes. The copy stays inside the report, the requested range and
    // that room. echoRange: only a reply naming map, first and last is taken (key codes); otherwise a
    // reply naming one of askedBefore may be a late one to that page: it is held while a reply naming
    // this page or a range not asked before may still come (see heldPageWait). Any reply is taken for
    // the count of entries it names.
    uint32_t readKeyPage(uint8_t group, uint8_t map, int first, int last, uint8_t* dest, int room,
                         int entrySize, bool echoRange, const PageRanges& askedBefore = PageRanges());
    // The page each colour and lighting read (by group) asked for last, for the read after it.
    std::map<uint8_t, std::pair<int, int>> m_lastPageAsked;
    // What a group's page reads have seen of the keyboard's replies naming an earlier page.
    struct PageReplies {
        // One with entries no reply taken had was taken after the grace: such a keyboard names another
        // page on every reply (kept while the keyboard is here).
        bool otherEntries = false;
        // This read's page got no reply of its own within the reply time, such a reply came: the rest of
        // this read does not wait for one (a later read does: a keyboard that lost one reply answers again).
        bool noOwnReply = false;
        // The replies the current read took, and the last of the read before: one of them coming again is
        // a repeat, not this page's answer.
        std::vector<QByteArray> taken;
    };
    std::map<uint8_t, PageReplies> m_pageReplies;
    static constexpr int MaxPageRepliesKept = 32;
    // How long a held reply naming an earlier page waits for this page's own (HoldFilter's ms).
    int heldPageWait(uint8_t group, const uint8_t* reply) const;
    uint32_t readPaged(int count, int pageSize,
                       const std::function<uint32_t(int, int, const PageRanges&)>& readRange);
    bool pauseInterruptibly(int ms);
    uint32_t _readMacro();
    uint32_t _writeMacro();
    // Reads the record at index (key function, macro head, lighting action) when the reply carries it whole.
    uint32_t readRecord(uint8_t group, uint8_t command, int index, uint8_t* dest, int size);
    // Whether index names a macro head the keyboard reported.
    bool isMacroIndex(int index) const;
    // Sends a head with 0x50/0x02: the exchange's error, or 0 with the keyboard's status in *status.
    uint32_t sendMacroHead(const km_t& head, uint32_t* status);

    Usb* m_usb;
    // The last unrequested report logged, and how often it came again since (device thread only):
    // a run of one report is logged once, with its count.
    QByteArray m_lastLogged;
    int m_repeats = 0;
    void logRepeats();
    // A chattering keyboard's reports are counted, not logged: in each span only the first few that
    // differ from the one before are logged whole; the rest are told in one line when the span is over
    // (at the first report after it, or when the device goes).
    static constexpr int LoggedReportsPerSpan = 8;
    static constexpr qint64 ReportLogSpanMs = 60000;
    qint64 m_logSpanStart = 0;
    qint64 m_firstUnloggedMs = 0;
    int m_loggedInSpan = 0;
    int m_unlogged = 0;
    void logUnlogged(qint64 now);
    // Whether a notification may be passed on now; counts and logs the ones that may not.
    bool admitNotification(const QByteArray& report);
    std::atomic<bool> m_countInFlight{false};
    std::atomic<int> m_notificationsInFlight{0};
    std::array<QByteArray, 3> m_parkedSwitches;
    std::atomic<bool> m_switchesParked{false};
    std::atomic<bool> m_parkedPassOnPosted{false};
    void passOnParkedSwitches();
    int m_droppedNotifications = 0; // device thread only
    // As the transport's backlog: the pair of lines about the wait is said at most once a span.
    bool m_notificationsWaitSaid = false;
    qint64 m_notificationsWaitSaidAtMs = 0;
    QWaitCondition* m_cond;
    QMutex* m_mutex;
    bool* m_waitFlag;
    std::atomic<bool> m_stop{false};
    static std::atomic<const std::atomic<int>*> s_outsideStops;
    static std::atomic<qint64> s_logClockShiftMs;
    WriteFailureNotifier m_writeFailureNotifier;

    // ==== Firmware upgrade: USB bootloader upload, Bluetooth module steps ====================
    // devicedfu.cpp: the upload to the USB bootloader, run by a Device made for the upgrade.
    // devicebtsteps.cpp: the Bluetooth module's steps as requests of the keyboard's Device.
public:
    static bool dfuOpen(Usb* usb);
    // The caller keeps image alive until emitUpdateDfuFinished or emitStopDfu.
    uint32_t dfuStartUpdateFW(uint8_t* image, int size);
    uint32_t onDfuReceiveCmd(uint8_t* reply, int length);
    uint32_t dfuUSBWrite(uint8_t* packet, int length);
    uint32_t dfuSyncPackno();
    uint32_t dfuSendUpdateAPROM();
    uint32_t dfuSendFWData();
    uint32_t dfuRunAPROM();
    // How long an acknowledgement may take; the update packet's follows a flash erase.
    void setDfuAckTimeouts(int ackMs, int eraseAckMs);
    // The bound in all over the data packets (UploadPace); the tests scale it down.
    void setDfuPaceBound(int window, int slowestAckMs) { m_dfuPace.setBound(window, slowestAckMs); }

    uint32_t m_dfuFileSize = 0;
    uint32_t m_dfuSendByte = 0;

    uint32_t appBoot();
    uint32_t _bt_app_boot();
    uint32_t _bt_boot_app();
    uint32_t _bt_erase_app();
    uint32_t _bt_erase_sd_boot();
    uint32_t bt_erase_app_nowait();
    uint32_t bt_erase_sd_nowait();
    uint32_t dfuStartBtUpdateFW(uint8_t* image, int size);
    uint32_t btDfuFileSize() const { return m_btFileSize; }
    uint32_t _bt_app_bin_data();
    uint32_t _bt_sd_bin_data();
    uint32_t bt_app_bin_data();

public slots:
    // Reads the bootloader's acknowledgements on the firmware thread; returns when the upload
    // finished or failed (one signal each), or within a read slice of a stop request.
    void readDFUUsbSlot();

private:
    enum DfuOutcome { DfuRunning, DfuFinished, DfuFailed };
    static constexpr uint32_t DfuNoCommand = 0xFFFFFFFF; // nothing written yet: replies are ignored
    uint32_t dfuWritePacket(uint8_t packet[64], uint32_t command, int ackMs);
    void dfuEnd(DfuOutcome outcome);
    bool dfuStopRequested() const;
    // One Bluetooth step as a request: the judged reply, or the core's error.
    uint32_t btStep(uint8_t sub, uint16_t length, const char* label, uint8_t reply[64]);
    uint32_t btBlock(uint8_t sub, const uint8_t* image, uint32_t size, uint32_t pos, uint32_t block,
                     uint8_t reply[64], uint32_t* count);

    uint8_t* m_dfuImage = nullptr;
    uint32_t m_dfuStartAddr = 0;
    uint32_t m_dfuPackNo = 1;
    std::atomic<uint32_t> m_dfuLastCmd{DfuNoCommand};
    uint16_t m_dfuChecksum = 0;
    std::atomic<qint64> m_dfuDeadline{0}; // monotonic ms of the outstanding acknowledgement; 0 none
    std::atomic<int> m_dfuOutcome{DfuRunning};
    std::atomic<uint32_t> m_dfuPackets{0}; // written this upload: logged once, when it ends
    std::atomic<int> m_dfuAckMs{5000};
    std::atomic<int> m_dfuEraseAckMs{30000};
    UploadPace m_dfuPace; // from the first data packet to the run packet

    uint8_t* m_btImage = nullptr;
    uint32_t m_btFileSize = 0;
    uint32_t m_btSendByte = 0;
    uint32_t m_btBlock = 1;
    // ==== end of firmware upgrade ==============================================================
};

// ==== Firmware upgrade: shared constants and helpers =========================================
namespace UpgradeTimeout {
constexpr int Ack = 5000;       // an acknowledgement of a packet or frame
constexpr int EraseAck = 30000; // one that follows a flash erase (USB 0xA0, Bluetooth 0x81/0x82)
constexpr int ReadSlice = 50;   // longest single read: stop requests are seen within it
constexpr int BtStep = 500;     // the synchronous Bluetooth steps
}

// Second value of UpdateError(step, code) when the module's own status is not the reason.
namespace BtUpgradeError {
constexpr int ForeignReport = -1; // the report is not an upgrade acknowledgement
constexpr int NoReply = -2;       // no acknowledgement in time
constexpr int WriteFailed = -3;   // the frame could not be written
constexpr int BadImage = -4;      // the image cannot be sent (empty, or no SoftDevice after 4096 bytes)
constexpr int OtherFrame = -5;    // the acknowledgement names another frame than the one in flight
constexpr int BlockRetries = 3;   // resends of a rejected block by the whole-image upload
}

uint32_t byteSum(const uint8_t* buffer, uint16_t length);
char hexDigit(uint32_t value);
QString toHexString(uint32_t value);
uint32_t parseDecimal(const QString& text);
uint32_t hexAsDecimal(uint32_t value);
// ==== end of firmware upgrade ================================================================
