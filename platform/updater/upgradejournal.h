#pragma once
// The updater's journal: each change to the application folder is written down before it is made, so a
// run that was killed can be undone by the next one.
#include "upgradelog.h"

#include <QFile>
#include <QString>

class UpgradeJournal {
public:
    // The start of the names of target's temporary and kept-aside files, beside it, for this process
    // (UpdaterNames::ownFileBase).
    static QString ownFileBase(const QString& target);

    // toolFileName: the tool's executable in appDir.
    UpgradeJournal(const QString& appDir, const QString& toolFileName);

    QString path() const { return m_path; }

    // Starts a new journal; false when it cannot be written (nothing may be changed then).
    bool begin();
    // Each is written before the change it names; false when it could not be written.
    // A file or folder added where the tool needs it to start and to update (the program, Upgrade/,
    // config/about.xml, config/UpdateServer.ini) is not written down: a replay never removes it.
    bool folderToMake(const QString& path);
    bool temporaryFile(const QString& path);
    bool keptAside(const QString& target, const QString& aside);
    bool fileToAdd(const QString& target);
    // Every new file is in: from here on a later run finishes the upgrade instead of undoing it.
    bool complete();
    // Removes the journal once nothing of the run is left to undo.
    bool end();

    // Undoes what a killed run left, as its journal says: the old files back, the files and folders it
    // added, its temporary files and what it kept aside gone; a run that had put every file in is
    // finished instead. True when there was nothing to do or all of it was done; the journal is then
    // gone. A folder the run made that now holds something else is left as it is (logged). False
    // (logged) when the journal does not read, holds a line no run of the updater writes (one naming a
    // place of the user's, a file or folder added where the tool needs it) or something could not be
    // undone: the journal stays, nothing is changed past it.
    bool recover(UpgradeLog& log);

private:
    bool append(const QByteArray& kind, const QString& path, const QString& second = QString());
    bool writeLine(const QByteArray& line);
    QString relative(const QString& path) const;
    QString absolute(const QString& relativePath) const;
    bool safePath(const QString& relativePath) const;
    bool mayName(const QByteArray& kind, const QString& relativePath) const;

    QString m_appDir;
    QString m_toolFileName;
    QString m_path;
    QFile m_file;
};
