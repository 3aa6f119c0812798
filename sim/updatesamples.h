#pragma once
// The sample version and link files tessark-update-sim serves, and the keyboard's version numbering.
#include <QString>

namespace sim {

// The tool's version file under root: the server offers the tool at version.
bool writeSampleTool(const QString& root, const QString& version);
// The version and link files of one model under root, naming the USB image
// UpgradeFirmware/<model>/qv_usb_app_<version>.bin. The image itself is not written: nothing in the
// emulation makes firmware images.
bool writeSampleFirmware(const QString& root, const QString& model, const QString& version);

// A keyboard reports its version as one 16-bit number v, shown as v/100, (v%100)/10 and v%10: "a.b.c"
// with b and c single digits. The number of such a text, or -1 when no keyboard can report it.
int keyboardVersionNumber(const QString& text);
// The text the tool shows for v.
QString keyboardVersionText(int v);

} // namespace sim
