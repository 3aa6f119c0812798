#pragma once
// Test controls of the emulated keyboards behind the hidapi functions of this folder.
#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace sim {

enum class Model {
    Full,       // answers every command
    NoLighting, // no colour and no lighting function: silent on groups 0x30 and 0x60
    Wired,      // no Bluetooth module: silent on group 0xB0
};

// What to plug in. Table sizes are what the info commands report.
struct KeyboardConfig {
    Model model = Model::Full;
    uint16_t vid = 0x3151;
    uint16_t pid = 0x4015;
    int commandInterface = 2;       // the only interface that answers commands
    QList<int> interfaces{0, 1, 2}; // interface numbers the keyboard exposes
    QByteArray boardName = "TK104 Dual";
    uint8_t keyMaps = 4;
    uint8_t keys = 104;
    uint8_t colourMaps = 2;
    uint8_t colourKeys = 104;
    uint8_t lightingModes = 32;
    uint8_t lightingBytes = 104;
    uint8_t keyFunctions = 32;
    uint8_t macros = 32;
    uint8_t lightingActions = 32;
    uint32_t seed = 1; // the state, device id included, is filled with deterministic non-trivial bytes from it
    // Key codes (type 1, stype 0) of every key map in layout order; empty: random entries.
    QList<uint16_t> keyCodes = fullSizeKeyCodes();
    // Slots 0..2 hold the website, document and folder functions (triggers Ctrl+Alt+W, D, F); on the
    // full-size model slots 3..8 hold one function of each other type, as the shipped catalogue numbers
    // them. The other slots are unused.
    bool sampleKeyFunctions = true;
    // A few used macro slots with letter-and-digit names ("Copy" in slot 0, "Hello1" in 2, "Sig2" in
    // 5) whose frames press and release one key at a time; the others free. Off: two of every three
    // slots used, named "Macro <slot>", with random frames.
    bool sampleMacros = false;
    // Lighting action slots 0..2 hold fixed records (effect = slot, every one of the keyboard's own
    // twelve top bits set, step delay 1023, cycle flag off with total period 0); the rest random.
    bool sampleLightingActions = false;

    static QList<uint16_t> fullSizeKeyCodes();
    static QList<uint16_t> tenkeylessKeyCodes();
};

// The two boards of the sample keyboard family shipped in appdir/config.
KeyboardConfig fullSizeDual();     // "TK104 Dual": 104 keys, colour, Bluetooth
KeyboardConfig tenkeylessWired();  // "TK87 Wired Board": 87 keys, no colour maps, silent on 0xB0
// One of each, as tessark-sim plugs them; their seeds differ, and so do their device ids.
QList<KeyboardConfig> sampleFamily();

// The longest macro a keyboard can hold whose every frame is a full report: 512 frames, 1 ms apart, in
// which all eight modifiers and six keys change at each frame (10 bytes a frame, as the keyboard
// stores them). It decodes into 10,234 key events.
QByteArray fullReportMacroFrames();

// Everything the keyboard holds. Multi-byte values as on the wire.
struct FirmwareState {
    uint32_t infoWord0 = 0, infoWord1 = 0; // 0x10/0x10 bytes 8..15
    QByteArray date;       // 16 bytes, 0x10/0x10 bytes 16..31
    QByteArray boardName;  // 16 bytes, 0x10/0x10 bytes 32..47 (zero padded)
    QByteArray deviceId;   // 12 bytes, 0x10/0x40 bytes 8..19
    uint16_t fwVersion = 0, hwVersion = 0;
    QByteArray versionBytes; // 16 bytes, 0x10/0x11 bytes 12..27 (the client adds '0')
    uint16_t scanSpeed = 0;
    QByteArray userInfo; // 48 bytes
    uint8_t nKey = 0;

    uint8_t curKeyMap = 0;
    std::vector<QByteArray> keyMaps; // each keys * 4 bytes
    uint8_t curColourMap = 0;
    std::vector<QByteArray> colourMaps; // each colourKeys * 4 bytes
    uint8_t curLightingMode = 0;
    std::vector<QByteArray> lightingModes; // each lightingBytes bytes

    uint8_t kfOther = 0;
    std::vector<QByteArray> keyFunctions; // each 56 bytes
    std::vector<QByteArray> macroHeads;   // each 24 bytes
    std::vector<QByteArray> macroFrames;  // per macro, up to 512 * 10 bytes as written
    uint8_t selectedMacro = 0;
    bool recording = false;
    std::vector<QByteArray> lightingActions; // each 12 bytes

    QByteArray btName; // 12 bytes
    uint32_t sleepTime = 0;
};

// Puts frames (as fullReportMacroFrames gives them) in macro slot `slot` of state, its head used, named
// name and counting them; false when the keyboard has no such slot.
bool setMacro(FirmwareState& state, int slot, const QByteArray& frames, const QByteArray& name);

struct LogEntry {
    enum Direction { ToDevice, FromDevice };
    Direction direction;
    QByteArray report; // 64 bytes, without the report id
    qint64 msSincePlug;
};

// How a command is answered. Each rule applies to its next `count` requests (-1: always), after the
// `skip` requests of its command that come first.
struct Behaviour {
    enum Kind {
        Silent,    // no reply
        Late,      // the reply comes after the next report was written
        WrongEcho, // byte 1 of the reply is changed
        Status,    // the status word at byte 8 is `status`
        Patch,     // bytes at `offset` are replaced by `bytes`
        Stale,     // the reply to the command's request before goes out first, `copies` times `spacingMs` apart,
                   // its own `lateMs` after the request
        NameBefore, // a page reply names (bytes 9, 10) the range of the command's request before (its own, the first time)
    };
    Kind kind = Silent;
    uint8_t group = 0;
    uint8_t command = 0;
    int count = -1;
    uint32_t status = 0;
    int offset = 0;
    QByteArray bytes;
    // Only the closing packet of a frame write (0x50/0x40 with length 0) counts; frame packets pass.
    bool closingPacketOnly = false;
    int skip = 0;
    int copies = 1;
    int spacingMs = 0;
    int lateMs = 0;
};

// One change of the keyboard's report while the user types: it comes ms after the change before it.
struct ReportChange {
    int ms = 0;
    QByteArray report; // 8 bytes: modifiers, reserved, six key usages
    // Sent only once the tool has room for it in its input queue: frames as fast as the tool reads them.
    bool paced = false;
};

// ---- firmware upgrade devices ----------------------------------------------------------------

class Keyboard;
using KeyboardPtr = std::shared_ptr<Keyboard>;

// The Bluetooth module behind 0xB0/0xDF. It starts in its application; areas hold the blocks
// written since their last erase, 48 bytes each with the frames' 0xFF fill.
struct BtModuleState {
    bool inBootloader = false;
    QByteArray application;
    QByteArray softDevice;
    int applicationErases = 0;
    int softDeviceErases = 0;
};

// Statuses the module answers with on its own (a test can choose any other with rejectBtFrame).
namespace BtStatus {
constexpr uint8_t WrongState = 2;  // not in the state or area the frame needs
constexpr uint8_t BadSum = 3;      // byte 2 is not the frame's sum
constexpr uint8_t BadSequence = 4; // not the block number expected next
}

// The keyboard's USB bootloader (ISP packets, one acknowledgement each).
struct BootloaderConfig {
    uint16_t vid = 0x0416;
    uint16_t pid = 0xA316;
    int interfaceNumber = 0;
    // After the run command the bootloader leaves and this keyboard comes back with fwVersion.
    bool keyboardReturns = true;
    // Takes the run command but starts nothing: the bootloader stays on the bus, no keyboard returns.
    bool staysAfterRun = false;
    KeyboardConfig keyboard;
    uint16_t fwVersion = 0x0200;
};

class Bootloader {
public:
    enum class AckFault { WrongChecksum, WrongPacketNumber, Silent };
    // What the next run command leads to: the keyboard back, the bootloader gone with nothing in its
    // place, or the bootloader still on the bus.
    enum class AfterRun { KeyboardReturns, NothingReturns, Stays };

    virtual ~Bootloader() = default;
    virtual bool plugged() const = 0; // on the bus now
    virtual QString path() const = 0;
    virtual QByteArray image() const = 0;       // image bytes received, at most the announced size
    virtual uint32_t announcedSize() const = 0; // from the 0xA0 packet
    virtual bool ran() const = 0;               // the run command (0xAB) arrived
    virtual QList<QByteArray> packets() const = 0;
    virtual QList<QByteArray> acks() const = 0;
    virtual KeyboardPtr keyboardAfterRun() const = 0; // null when none returns

    // The acknowledgement of the nth packet from now (1 = next) is spoilt or not sent.
    virtual void faultAck(int nth, AckFault fault) = 0;
    virtual void failWrite(int nth) = 0;     // the nth write from now fails, still plugged
    virtual void unplugAtWrite(int nth) = 0; // leaves the bus at the nth write from now
    virtual void setReportDelay(int ms) = 0;
    virtual void setAfterRun(AfterRun what) = 0;
};
using BootloaderPtr = std::shared_ptr<Bootloader>;

class Keyboard {
public:
    virtual ~Keyboard() = default;

    virtual KeyboardConfig config() const = 0;
    virtual QString path(int interfaceNumber) const = 0; // empty when not exposed
    QString commandPath() const { return path(config().commandInterface); }
    virtual bool plugged() const = 0;

    virtual FirmwareState state() const = 0;
    virtual void edit(const std::function<void(FirmwareState&)>& change) = 0;

    virtual void addBehaviour(const Behaviour& b) = 0;
    virtual void clearBehaviours() = 0;
    void silence(uint8_t g, uint8_t c, int count = -1, int skip = 0)
    {
        addBehaviour({Behaviour::Silent, g, c, count, 0, 0, {}, false, skip});
    }
    void answerLate(uint8_t g, uint8_t c, int count = -1) { addBehaviour({Behaviour::Late, g, c, count, 0, 0, {}}); }
    void wrongEcho(uint8_t g, uint8_t c, int count = -1) { addBehaviour({Behaviour::WrongEcho, g, c, count, 0, 0, {}}); }
    void answerStatus(uint8_t g, uint8_t c, uint32_t status, int count = -1)
    {
        addBehaviour({Behaviour::Status, g, c, count, status, 0, {}});
    }
    void patchReply(uint8_t g, uint8_t c, int offset, const QByteArray& bytes, int count = -1)
    {
        addBehaviour({Behaviour::Patch, g, c, count, 0, offset, bytes});
    }
    // The next `count` requests of this command after `skip` are answered first with the reply the keyboard
    // made to the request of this command before (none for the first): `copies` times, spacingMs apart,
    // then with their own (unless silenced), lateMs after the request (not before the last copy).
    void answerStaleFirst(uint8_t g, uint8_t c, int count = -1, int skip = 0, int copies = 1, int spacingMs = 0,
                          int lateMs = 0)
    {
        addBehaviour({Behaviour::Stale, g, c, count, 0, 0, {}, false, skip, copies, spacingMs, lateMs});
    }
    // The next `count` page replies of this command name the range its request before asked for, with
    // the entries of the range asked now, as a firmware that is a page behind in what it names.
    void nameRangeBefore(uint8_t g, uint8_t c, int count = -1)
    {
        addBehaviour({Behaviour::NameBefore, g, c, count, 0, 0, {}});
    }
    // The closing packet of the next `count` macro frame writes is answered with status (not 0:
    // refused, the frame count stays as it was).
    void answerClosingStatus(uint32_t status, int count = -1)
    {
        addBehaviour({Behaviour::Status, 0x50, 0x40, count, status, 0, {}, true});
    }

    // The nth write from now (1 = the next) fails; the keyboard stays plugged.
    virtual void failWrite(int nth) = 0;
    // The keyboard leaves the bus when the nth report from now is written (that write fails).
    virtual void unplugAtWrite(int nth) = 0;
    // Each report takes this long on the bus, in each direction (1 ms models a full-speed frame).
    virtual void setReportDelay(int ms) = 0;
    // While on, opening any of its interfaces fails although they stay enumerated, as for a node the
    // user may not open or one held exclusively.
    virtual void refuseOpen(bool on) = 0;
    // An unrequested report on the command interface (a notification, a stray reply).
    virtual void inject(const QByteArray& report) = 0;
    // A flood: count copies of an unrequested report on the command interface, each as soon as the
    // tool's input queue has room (as fast as it reads, none lost to the queue; with nothing open, at
    // once). Returns how many went out: all, or fewer when unplugged or reading stalls for a second.
    // The report log keeps the first FloodLogged of them, so a long flood measures the tool, not it.
    static constexpr int FloodLogged = 1000;
    virtual int flood(const QByteArray& report, int count) = 0;
    // The user presses the trigger of key function slot: when its record is used and its key-map mask
    // holds the current key map, the keyboard sends notification 0xAA with [id, hi] of the record;
    // otherwise it sends nothing.
    virtual void pressKeyFunction(int slot) = 0;
    // The user types: each change comes its ms after the one before (the first after the changes
    // still playing, or now). While the keyboard records, each goes out as notification 0x50 with
    // length 10: at byte 8 the ms (16 bits, at most 65535), then the report with its reserved byte 0.
    // Otherwise nothing is sent.
    virtual void playKeys(const QList<ReportChange>& changes) = 0;
    // Whether changes are still waiting to be played.
    virtual bool playing() const = 0;

    virtual QList<LogEntry> log() const = 0;
    virtual void clearLog() = 0;
    // Reports written to the command interface so far.
    virtual int writes() const = 0;

    // ---- firmware upgrade
    virtual BtModuleState btModule() const = 0;
    // The acknowledgement of each erase (0x81, 0x82) comes this much later.
    virtual void setBtEraseDelay(int ms) = 0;
    // The nth frame of this sub-command from now (1 = next) is refused with status, or not answered.
    virtual void rejectBtFrame(uint8_t subCommand, int nth, uint8_t status) = 0;
    virtual void ignoreBtFrame(uint8_t subCommand, int nth) = 0;
    // report goes out just before the acknowledgement of the nth frame of this sub-command.
    virtual void injectBeforeBtAck(uint8_t subCommand, int nth, const QByteArray& report) = 0;
    // Every acknowledgement of the upload's frames (the erases 0x81, 0x82 and the data 0x83, 0x84) comes
    // this much later, on top of an erase's own delay; the switches 0x08 and 0x85 answer at once. The
    // module takes these frames one at a time: one that comes while it works on another waits its turn.
    virtual void setBtAckDelay(int ms) = 0;
    // The acknowledgement of the nth frame of this sub-command from now goes out twice, back to back.
    virtual void doubleBtAck(uint8_t subCommand, int nth) = 0;
    // The same, but the copy goes out when the next report reaches the keyboard, at once and ahead of
    // that report's own answer (which keeps any acknowledgement delay): it arrives after the next frame.
    virtual void doubleBtAckLate(uint8_t subCommand, int nth) = 0;
    // The acknowledgement of the nth frame of this sub-command from now names `named` instead; the
    // module takes the frame it was sent as it would otherwise.
    virtual void renameBtAck(uint8_t subCommand, int nth, uint8_t named) = 0;
    // After 0x10/0x00 the returned bootloader appears delayMs after the keyboard left (the default:
    // none appears).
    virtual BootloaderPtr restartIntoBootloader(int delayMs, const BootloaderConfig& config = BootloaderConfig()) = 0;
};


using KeyboardPtr = std::shared_ptr<Keyboard>;

KeyboardPtr plug(const KeyboardConfig& config = KeyboardConfig());
void unplug(const KeyboardPtr& kb); // open handles then fail their reads and writes
void reset();                       // unplugs everything
// hid_open_path calls for this path since the last reset, whether they opened or not.
int openAttempts(const QString& path);
// hid_read and hid_read_timeout calls on handles of this path since the last reset, whether a report
// came or not.
int reads(const QString& path);
// Of those, the reads that could wait for a report (a time-out other than 0) and returned one: a reader
// that waits only when nothing is there makes one such read for a run of reports already waiting.
int waitingReadsWithReport(const QString& path);

// A bootloader alone on the bus.
BootloaderPtr plugBootloader(const BootloaderConfig& config = BootloaderConfig());
void unplug(const BootloaderPtr& bootloader);

} // namespace sim
