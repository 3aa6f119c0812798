#include "windowclassstyle.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace windowclassstyle {

bool removeDropShadowOnce(WId window, bool* done)
{
    if (!done || *done)
        return false;
    *done = true;
#ifdef Q_OS_WIN
    const HWND handle = reinterpret_cast<HWND>(window);
    const DWORD style = GetClassLongW(handle, GCL_STYLE);
    SetClassLongW(handle, GCL_STYLE, style & ~CS_DROPSHADOW);
#else
    // No window classes here: popups get whatever shadow the window manager draws.
    Q_UNUSED(window);
#endif
    return true;
}

} // namespace windowclassstyle
