#pragma once
// Copies the staged tool files over the application folder: every file through a temporary file renamed
// over the old one, links skipped, nothing outside the application folder.
#include "upgradelog.h"

#include <QFileDevice>
#include <QSet>
#include <QString>
#include <QVector>

class TreeCopy {
public:
    TreeCopy(const QString& stagedDir, const QString& targetDir, UpgradeLog& log);

    // Walks the staged tree and checks every target before anything is written. False (logged) when a
    // target cannot take its file: a folder where a file goes or the reverse, a link where a folder
    // goes, a device, a path leaving the target folder or entering the staged one, two files for one name.
    bool plan();
    // Writes what plan() found, in order; stops at the first failure (logged). Files already replaced
    // stay replaced; the failing one keeps its old content under its name.
    bool copy();

    int fileCount() const;
    int copiedCount() const { return m_copied; }

    // The name a staged file takes: the ".tessark" the tool adds to downloaded ".exe" files is dropped.
    static QString targetName(const QString& stagedName);

private:
    struct Item {
        QString source;
        QString target;
        bool folder = false;
    };

    bool planFolder(const QString& source, const QString& target, int depth);
    bool planFile(const QString& source, const QString& target);
    bool refuse(const QString& chinese, const QString& english);
    bool replaceFile(const Item& item);

    QString m_stagedDir;
    QString m_targetDir;
    UpgradeLog& m_log;
    QVector<Item> m_items;
    QSet<QString> m_targets;
    int m_copied = 0;
};
