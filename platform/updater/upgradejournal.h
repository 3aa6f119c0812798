#pragma once
// The updater's journal: each change to the application folder is written down before it is made, so a
// run that was killed can be undone by the next one.
#include "lockedfolder.h"
#include "upgradelog.h"

#include <QFile>
#include <QString>

class UpgradeJournal {
public:
    // The start of the names of target's temporary and kept-aside files, beside it, for this process
    // (UpdaterNames::ownFileBase). Paths here are relative to the locked folder.
    static QString ownFileBase(const QString& target);

    // toolFileName: the tool's executable in folder.
    UpgradeJournal(LockedFolder& folder, const QString& toolFileName);

    // Where the journal was when the folder was locked, for messages.
    QString path() const { return m_folder.shown(m_name); }

    // Starts a new journal, held locked by this process until end(), so that no other run takes it for
    // a killed one's; false when it cannot be written (nothing may be changed then).
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
    // Removes the journal once nothing of the run is left to undo (only while its name still leads to
    // this run's journal), and lets it go.
    bool end();

    // Undoes what a killed run left, as its journal says: the old files back, the files and folders it
    // added, its temporary files and what it kept aside gone; a run that had put every file in is
    // finished instead. True when there was nothing to do or all of it was done; the journal is then
    // gone. A folder the run made that now holds something else is left as it is (logged). False
    // (logged) when the journal does not read, holds a line no run of the updater writes (one naming a
    // place of the user's, a file or folder added where the tool needs it) or something could not be
    // undone: the journal stays, nothing is changed past it. WriterRuns when the process that writes
    // the journal still runs: nothing is read nor changed.
    enum class Recovery { Done, Failed, WriterRuns };
    Recovery recover(UpgradeLog& log);

private:
    bool append(const QByteArray& kind, const QString& path, const QString& second = QString());
    bool writeLine(const QByteArray& line);
    bool safePath(const QString& relativePath) const;
    bool mayName(const QByteArray& kind, const QString& relativePath) const;

    LockedFolder& m_folder;
    QString m_toolFileName;
    QString m_name;
    QFile m_file;
};
