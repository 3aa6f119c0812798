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
    // Every report to or from a keyboard is appended to path as one line:
    // "<keyboard> <out|in> <ms since plug> <64 bytes in hex>". False when it cannot be opened.
    bool setLogFile(const QString& path);
    // Each poll runs the lines of path ("unplug N", "plug N", "press N S": the trigger of key
    // function slot S on keyboard N; "play N ms:report ...": typed report changes, each ms after the
    // one before, the 8-byte report as 16 hex digits, e.g. "play 1 0:0100000000000000
    // 50:0100060000000000"; N from 1) and removes it. Write the file elsewhere and rename it into
    // place, so a poll never reads half of it.
    void setControlFile(const QString& path) { m_controlPath = path; }
    // Every plugged keyboard takes this long per report.
    void setReportDelay(int ms);
    // Polls every intervalMs on the current thread's event loop (needs a running application).
    void start(int intervalMs = 100);

    // Writes the new log lines and runs the control file now.
    void poll();
    KeyboardPtr keyboard(int number) const; // null when out of range or unplugged
    int count() const { return m_slots.size(); }

    // TESSARK_SIM_LOG names the log file, TESSARK_SIM_CONTROL the control file and
    // TESSARK_SIM_REPORT_DELAY_MS the delay per report; unset ones are left off.
    void configureFromEnvironment();

private:
    struct Slot {
        KeyboardConfig config;
        KeyboardPtr keyboard;
        int logged = 0; // entries of keyboard's log already written
    };
    void writeLog(int index);
    void runControl();
    void plugSlot(int index);
    // "ms:report" words of a play line; false when one is malformed.
    static bool parseChanges(const QList<QByteArray>& words, QList<ReportChange>* changes);

    QVector<Slot> m_slots;
    QFile m_log;
    QString m_controlPath;
    int m_reportDelay = 0;
    QTimer* m_timer = nullptr;
};

} // namespace sim
