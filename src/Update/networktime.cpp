// Network time: the current UTC time from daytime servers, for signing requests.
#include "downloadfile.h"

namespace {
int g_nextTimeServer = 0;
}

int DownloadFile::nextTimeServerIndex() { return g_nextTimeServer; }
void DownloadFile::setNextTimeServerIndex(int index) { g_nextTimeServer = index; }

void DownloadFile::initTimeServerList()
{
    m_timeServerList = m_config.timeServers;
}

QDateTime DownloadFile::getNetworkTime() { return QDateTime(); }
