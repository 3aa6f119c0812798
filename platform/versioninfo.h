#pragma once
// The product name a program file declares in its version resource (Windows executables).
#include <QByteArray>

// `path` in the local 8-bit encoding; on success `name` holds the product name in the same encoding.
// False when the file has no version information, no translation table or no product name in its
// own code page nor in 1252 — and always false where programs carry no version resource.
bool exeProductName(const QByteArray& path, QByteArray& name);
