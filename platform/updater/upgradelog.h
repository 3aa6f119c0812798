#pragma once
// The updater's log: each step in the chosen language, appended to log/Upgrade.log and printed to stderr.
#include <QFile>
#include <QString>

// One message in both languages; the log writes the one its language asks for.
struct UpgradeText {
    QString chinese;
    QString english;
};

class UpgradeLog {
public:
    // Until setChinese(true), lines are English; until openFile(), they go to stderr only.
    void setChinese(bool chinese) { m_chinese = chinese; }
    // Appends to path from now on, creating its folder; false (logged to stderr) when it cannot.
    // Only a regular file is written: a link or a device in its place is left alone.
    bool openFile(const QString& path);

    void step(const UpgradeText& text);
    void failure(const UpgradeText& text);

private:
    void write(const QString& line, bool failed);

    bool m_chinese = false;
    QFile m_file;
};
