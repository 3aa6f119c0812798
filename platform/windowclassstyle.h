#pragma once
// The native window class of a popup: on Windows its drop shadow belongs to the class, not the window.
#include <QtGui/qwindowdefs.h>

namespace windowclassstyle {
// Removes the drop shadow from the class of window, unless *done is already set; sets *done. The
// change lasts for every later window of the class, so each kind of popup makes it once per process
// with a flag of its own. True when this call was the one (the change is made on Windows only).
bool removeDropShadowOnce(WId window, bool* done);
} // namespace windowclassstyle
