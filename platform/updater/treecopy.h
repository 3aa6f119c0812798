#pragma once
// Copies the staged tool files over the application folder, all or none: every file through a temporary
// file renamed over the old one, links skipped, nothing outside the application folder nor in the
// user's places, every change journalled first, every look and change through the locked folder.
#include "lockedfolder.h"
#include "upgradejournal.h"
#include "upgradelog.h"

#include <QFileDevice>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

class TreeCopy {
public:
    // stagedDir: relative to folder, the application folder; journal: folder's, already recovered.
    TreeCopy(LockedFolder& folder, const QString& stagedDir, UpgradeLog& log, UpgradeJournal& journal);

    // Walks the staged tree and checks every target before anything is written. False (logged) when a
    // target cannot take its file: a folder where a file goes or the reverse, a link where a folder
    // goes, a device, a path leaving the target folder or entering the staged one, two files for one name.
    // A staged file or folder for one of the user's places or of a name of the updater's own files
    // (UpdaterNames::isReserved) is skipped (logged).
    bool plan();
    // Writes what plan() found, in order. Each file replaced is kept aside until every file is in, then
    // dropped. At the first failure (logged) the old files are put back and the files and folders this
    // copy added are removed, so the folder holds the old version again. mayGoOn, when given, is asked
    // before each file or folder and before the copy is marked whole: false stops the copy as a failure.
    bool copy(const std::function<bool()>& mayGoOn = {});
    // After a failed copy: whether mayGoOn stopped it.
    bool stopped() const { return m_stopped; }

    int fileCount() const;
    int copiedCount() const { return m_copied; }
    // After a failed copy: whether everything written was undone (what could not be is logged).
    bool restored() const { return m_restored; }

    // The name a staged file takes: the ".tessark" the tool adds to downloaded ".exe" files is dropped.
    static QString targetName(const QString& stagedName);
    // Gives target back its old file, kept aside under aside (both relative to folder). While both
    // names still lead to one file (kept aside, not yet replaced), a rename would do nothing: the second
    // name is removed instead. When it fails, why (if given) says what the system gave as the reason.
    static bool putBack(LockedFolder& folder, const QString& aside, const QString& target, QString* why = nullptr);

private:
    // Both relative to the folder.
    struct Item {
        QString source;
        QString target;
        bool folder = false;
    };

    // A file written over its target, or about to be.
    struct Written {
        QString target;
        QString aside;       // the old file or link, still whole under this name; empty when there was none
        bool placed = false; // the new file is under the target's name
    };

    bool planFolder(const QString& source, const QString& target, int depth);
    bool planFile(const QString& source, const QString& target);
    bool refuse(const QString& chinese, const QString& english);
    bool replaceFile(const Item& item);
    bool keepOld(const QString& target, QString* aside);
    bool linkOnTheWay(const QString& target) const;
    bool fail(); // rolls back; the journal goes when everything was undone
    void rollBack();
    void dropKeptFiles();

    LockedFolder& m_folder;
    QString m_stagedDir;
    UpgradeLog& m_log;
    UpgradeJournal& m_journal;
    QVector<Item> m_items;
    QSet<QString> m_targets;
    QVector<Written> m_written;
    QStringList m_createdFolders;
    int m_copied = 0;
    bool m_restored = true;
    bool m_stopped = false;
};
