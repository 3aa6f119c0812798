#pragma once
// A temporary application directory (with config/ and log/) that lives as long as the test.
#include <QString>
#include <QTemporaryDir>

// The whole content of a file; empty when it cannot be read.
QByteArray readFile(const QString& path);

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
    QTemporaryDir m_dir;
};
