// The updater hand-over: refresh the updater from the download, then start it.
#include "downloadfile.h"

void DownloadFile::UpdateUpgrradeProgram() {}
bool DownloadFile::StartUpgradeProgram() { return false; }
bool DownloadFile::copyDirectoryFiles(const QString&, const QString&, bool) { return false; }
bool DownloadFile::unzipFile(const QString&, const QString&, bool) { return false; }
