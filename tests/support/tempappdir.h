#pragma once
// Temporary folders for tests: a test that cannot have its own folder stops before it touches anything.
// Linked into every suite whole: from its start, Qt's own settings go to a temporary folder of its own.
#include <QString>
#include <QTemporaryDir>

// The whole content of a file; empty when it cannot be read.
QByteArray readFile(const QString& path);

// What a test points a file at in place of one of the machine's character devices (such as /dev/zero).
// As root, a node of the same numbers made in folder (the test's own), so a save that wrongly goes
// through a link to it replaces only that node, never the machine's device; as another user, the
// device itself, which that user cannot replace. Empty when root cannot make a node that opens there:
// the row then skips as root and the test command runs it as nobody.
QString deviceStandIn(const QString& folder, const QString& device);

// A QTemporaryDir whose path is never empty: when the folder cannot be made (no room, no temporary
// folder), the test process stops at once with the reason. An empty path would name the working
// directory, and a test's clean-up would remove what is not its own.
class TempDir : public QTemporaryDir {
public:
    TempDir();
    // An absolute path below the folder; the process stops on an absolute `relative`.
    QString filePath(const QString& relative) const;
};

class TempAppDir {
public:
    TempAppDir();
    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& relative) const { return m_dir.filePath(relative); }
    // Writes a file below the directory, creating its folders.
    bool write(const QString& relative, const QByteArray& content) const;
    // Copies a folder with its subfolders into the folder `relative` below this one.
    bool copyFiles(const QString& from, const QString& relative) const;
    // For a main window test: private XDG config and runtime folders below this one, the sample
    // keyboard family's config/ and images/ from sampleRoot, and this as the application folder.
    bool setUpForWindow(const QString& sampleRoot) const;

private:
    TempDir m_dir;
};
