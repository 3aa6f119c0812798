#pragma once
// A QSaveFile that will not write through a link at the file's name: QSaveFile resolves the link and
// replaces its target, which may be another file of the user's or lie outside the application folder.
#include <QSaveFile>

class SaveFile : public QSaveFile {
public:
    explicit SaveFile(const QString& name);

    // Fails, with errorString() saying so, when a link stands at the name; the link and its target are
    // left alone. Otherwise as QSaveFile::open.
    bool open(OpenMode mode) override;

    // Whether a link (a dangling one too) stands at path itself.
    static bool isLinkAtName(const QString& path);
};
