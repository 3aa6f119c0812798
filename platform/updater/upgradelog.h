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
    // Appends to baseDir/folder/fileName from now on, creating folder; false (logged to stderr) when it
    // cannot. Neither folder nor file is reached through a link: a link, a device or a pipe in either
    // place is left alone and nothing is written there.
    bool openFile(const QString& baseDir, const QString& folder, const QString& fileName);

    void step(const UpgradeText& text);
    void failure(const UpgradeText& text);

private:
    void write(const QString& line, bool failed);

    bool m_chinese = false;
    QFile m_file;
};
