#pragma once
// What lies behind a GlobalShortcut: one backend per window system, chosen when the hot key is made.
#include "globalshortcut.h"

#include <QString>

#include <memory>

class GlobalShortcut::Backend {
public:
    virtual ~Backend() = default;
    virtual bool isActive() const { return false; }

    // The backend of the running window system; a plain inactive one where none grabs keys.
    static std::unique_ptr<Backend> create(GlobalShortcut* owner);

protected:
    static void activate(GlobalShortcut* owner) { emit owner->activated(); }
};

namespace globalshortcut {
// The one key and the modifiers of a single-chord sequence; false for an empty sequence, more than
// one chord or a chord that is only modifiers.
bool splitSequence(const QKeySequence& sequence, int& key, Qt::KeyboardModifiers& modifiers);
// "Ctrl+D", for log lines.
QString describe(const QKeySequence& sequence);
} // namespace globalshortcut

#if defined(TESSARK_HAVE_XCB)
std::unique_ptr<GlobalShortcut::Backend> makeX11GlobalShortcut(GlobalShortcut* owner, const QByteArray& display);
#endif
#ifdef Q_OS_WIN
std::unique_ptr<GlobalShortcut::Backend> makeWindowsGlobalShortcut(GlobalShortcut* owner);
#endif
