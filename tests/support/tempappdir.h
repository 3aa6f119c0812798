#pragma once
// Temporary folders for tests: a test that cannot have its own folder stops before it touches anything.
#include <QString>
#include <QTemporaryDir>

// The whole content of a file; empty when it cannot be read.
QByteArray readFile(const QString& path);

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
