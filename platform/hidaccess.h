#pragma once
// Why a keyboard's HID node cannot be opened: hidapi only returns null, the file system knows more.
#include <QString>

enum class HidNodeAccess {
    Usable,           // readable and writable by this user, or not a file path (other systems)
    PermissionDenied, // the node exists but this user may not read and write it (no udev rule)
    Missing,          // no such node (unplugged meanwhile)
};

// path as hid_enumerate gives it; on Linux with hidraw, "/dev/hidrawN".
HidNodeAccess hidNodeAccess(const QString& path);

// The log line for a refused open, naming the path and how to install the udev rule.
QString hidPermissionLogLine(const QString& path);
// The text shown to the user for a refused open.
QString hidPermissionUserText();

enum class HidPermissionReport {
    NotRefused,  // usable or missing: nothing to tell
    AlreadyTold, // refused, and the user was told earlier in this process
    TellUser,    // refused for the first time: logged here, the caller shows hidPermissionUserText()
};

// For the open path's retries (GUI thread): whether path is refused for lack of permission, and
// whether this is the first refusal of the path in the process (then the reason is logged).
// forgetHidPermissionReports() lets a test or a later successful open report again. The second
// form takes an access already checked.
HidPermissionReport reportHidPermissionOnce(const QString& path);
HidPermissionReport reportHidPermissionOnce(const QString& path, HidNodeAccess access);
void forgetHidPermissionReports();
