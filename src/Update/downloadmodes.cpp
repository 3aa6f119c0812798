// The download modes: the five operations, what each mode does when its list is done, staging folders.
#include "downloadfile.h"

#include "Update/overallvariate.h"

void DownloadFile::checkUpdateSlot() {}
void DownloadFile::dowmloadTessarkUpdateFileSlot() {}
void DownloadFile::checkFirmwareUpdateSlot() {}
void DownloadFile::startFirmwareCheck() {}
void DownloadFile::dowmloadFirmwareUpdateFileSlot() {}
void DownloadFile::unModeFirmwareSlot() {}
void DownloadFile::finishLinkList() {}
bool DownloadFile::deleteDirectory(const QString&, bool) { return false; }
bool DownloadFile::deleteFile(const QString&) { return false; }
