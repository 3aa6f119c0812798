#pragma once
// Feeds one input to a reader of a user-supplied or downloaded file, as the fuzz targets and the corpus replay do, and
// the application directory the reader suites read from.
#include "tempappdir.h"
#include "widget/qss.h"

#include <QFile>
#include <QStringList>

enum class FuzzReader {
    Config,
    Layout,
    StaticKeys,
    MenuTree,
    Shortcuts,
    Language,
    KFCatalogue,
    MacroFile,
    ColorFile,
    TempXml,
    ModeParameter,
    // What the download server and the time servers send, and the file that names them.
    VersionIni,
    LinkXml,
    Archive,
    UpdateServerConfig,
    DaytimeAnswer,
};

// Corpus folder names, in the order of FuzzReader.
QStringList fuzzReaderNames();

// Writes input as the reader's file below appDir (which appDirPath() must return) and runs the reader
// and its variants over it. Needs a QApplication: readers create widgets.
// For what comes from the network it also checks the reader's answer: an accepted link file's links
// lie below their staging folder and outside the user's and the tool's places, an unpacked archive
// lies inside its folder as the entries it declared. Returns what broke, or empty text.
QString runFuzzReader(FuzzReader reader, const QString& appDir, const QByteArray& input);

// A temporary application directory that appDirPath() returns while it lives.
class ReaderAppDir : public TempAppDir {
public:
    ReaderAppDir() { setAppDirPathForTest(path()); }
    ~ReaderAppDir() { setAppDirPathForTest(QString()); }
    // Null content: the file is removed instead (a missing file).
    bool put(const QString& relative, const QByteArray& content) const
    {
        return content.isNull() ? !QFile::exists(filePath(relative)) || QFile::remove(filePath(relative))
                                : write(relative, content);
    }
};
