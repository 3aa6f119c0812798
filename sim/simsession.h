#pragma once
// The emulated keyboards of one tessark-sim run, its report log file and its control file for end-to-end tests.
#include "simcontrol.h"

#include <QFile>
#include <QObject>
#include <QString>
#include <QVector>

class QTimer;

namespace sim {

class SimSession : public QObject {
    Q_OBJECT
public:
    explicit SimSession(QObject* parent = nullptr);
    ~SimSession() override;

    // Plugs each configuration in order; they are keyboards 1, 2, ... of the control commands.
    void plugAll(const QList<KeyboardConfig>& configs);
    // Every report to or from a keyboard (or its bootloader) is appended to path as one line:
    // "<keyboard> <out|in> <ms since plug> <64 bytes in hex>". False when it cannot be opened.
    bool setLogFile(const QString& path);
    // Each poll runs the lines of path ("unplug N", "plug N", "press N S": the trigger of key
    // function slot S on keyboard N; "play N ms:report ...": typed report changes, each ms after the
    // one before, the 8-byte report as 16 hex digits, e.g. "play 1 0:0100000000000000
    // 50:0100060000000000"; "version N V": keyboard N reports firmware version V (decimal, as on the
    // wire, 0 to 65535; others are refused with a line on standard error); "next-version N V": the
    // version it has after its next bootloader run (else one more than before; the same range); "modes N M": keyboard N counts M lighting modes (1 to 254) from its next plug;
    // "fail-write N K": the K-th write from now to keyboard N fails, the keyboard stays plugged;
    // "unplug-at-write N K": keyboard N leaves the bus at the K-th write from now (that write fails);
    // both reach the slot's bootloader while it stands in for the keyboard; "bootloader": a bootloader
    // alone, as for a keyboard stuck in it, in a new slot; N and K from 1) and removes it. Write the
    // file elsewhere and rename it into place, so a poll never reads half of it.
    void setControlFile(const QString& path) { m_controlPath = path; }
    // Every plugged keyboard takes this long per report.
    void setReportDelay(int ms);
    // Polls every intervalMs on the current thread's event loop (needs a running application).
    void start(int intervalMs = 100);

    static constexpr int RestartDelayMs = 300;

    // Writes the new log lines, takes back the keyboards their bootloaders ran, runs the control file.
    // After 0x10/0x00 a keyboard restarts into its bootloader (RestartDelayMs later); after the run
    // command the keyboard returns in the same slot with its next version. A bootloader logs under its
    // keyboard's number.
    void poll();
    KeyboardPtr keyboard(int number) const;     // null when out of range or unplugged
    BootloaderPtr bootloader(int number) const; // the slot's bootloader while it is on the bus, else null
    int count() const { return m_slots.size(); }

    // TESSARK_SIM_LOG names the log file, TESSARK_SIM_CONTROL the control file and
    // TESSARK_SIM_REPORT_DELAY_MS the delay per report; unset ones are left off.
    void configureFromEnvironment();

private:
    struct Slot {
        KeyboardConfig config;
        KeyboardPtr keyboard;
        BootloaderPtr bootloader; // appears after the keyboard's 0x10/0x00, or stands alone
        int logged = 0;           // entries of keyboard's log already written
        int bootloaderLogged = 0; // and of the bootloader's
        int version = -1;         // the firmware version the keyboard reports; -1: its own
        int nextVersion = -1;     // after the next bootloader run; -1: version + 1
    };
    void writeLog(int index);
    void runControl();
    void plugSlot(int index);
    void plugLoneBootloader();
    // Makes kb the keyboard of the slot, with the slot's version, ready to restart into a bootloader.
    void adopt(int index, const KeyboardPtr& kb);
    void takeBackRun(int index); // the keyboard whose bootloader ran returns to its slot
    void setVersion(int index, bool next, int version);
    void scheduleWriteFault(const Slot& slot, int nth, bool unplug);
    // Names a control line that is not carried out, and why, on standard error.
    static void refuse(const QByteArray& line, const char* why);
    void applyReportDelay(const Slot& slot) const;
    static int nextVersionOf(const Slot& slot);
    // "ms:report" words of a play line; false when one is malformed.
    static bool parseChanges(const QList<QByteArray>& words, QList<ReportChange>* changes);

    QVector<Slot> m_slots;
    QFile m_log;
    QString m_controlPath;
    int m_reportDelay = 0;
    QTimer* m_timer = nullptr;
};

} // namespace sim
