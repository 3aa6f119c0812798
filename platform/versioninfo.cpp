#include "versioninfo.h"

#ifdef Q_OS_WIN
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The ProductName string of one language and code page; false when the resource has none.
bool queryProductName(const std::vector<char>& info, unsigned language, unsigned codePage, QByteArray& name)
{
    char query[64];
    std::snprintf(query, sizeof query, "\\StringFileInfo\\%4.4X%4.4X\\ProductName", language & 0xFFFF,
                  codePage & 0xFFFF);
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), query, &value, &length) || !value || length == 0)
        return false;
    // The value is a zero-terminated string inside the buffer; a name that does not fit the 2048-byte
    // buffer it was always read into is cut to 2047 bytes.
    const char* text = static_cast<const char*>(value);
    name = QByteArray(text, int(strnlen(text, 2047)));
    return true;
}

} // namespace

bool exeProductName(const QByteArray& path, QByteArray& name)
{
    name.clear();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.constData(), &handle);
    if (size == 0)
        return false;
    std::vector<char> info(size);
    if (!GetFileVersionInfoA(path.constData(), 0, size, info.data()))
        return false;
    // The first language and code page pair of the translation table: two 16-bit words.
    void* pairs = nullptr;
    UINT pairsLength = 0;
    if (!VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", &pairs, &pairsLength) || !pairs
        || pairsLength < 4)
        return false;
    WORD pair[2];
    std::memcpy(pair, pairs, sizeof pair);
    if (queryProductName(info, pair[0], pair[1], name))
        return true;
    return queryProductName(info, pair[0], 1252, name); // many resources name only the Western code page
}

#else

bool exeProductName(const QByteArray& path, QByteArray& name)
{
    Q_UNUSED(path);
    name.clear();
    return false;
}

#endif
