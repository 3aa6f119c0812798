#pragma once
// Why a keyboard's HID node cannot be opened: hidapi only returns null, the file system knows more.
#include <QString>

class QWidget;

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

// For the open path's retries (GUI thread): when path is refused for lack of permission, logs the
// reason and tells the user through the message box seam, each only the first time for this path
// in the process; returns whether permission was denied. forgetHidPermissionReports() lets a test
// or a later successful open report again. The second form takes an access already checked.
bool reportHidPermissionOnce(QWidget* parent, const QString& path);
bool reportHidPermissionOnce(QWidget* parent, const QString& path, HidNodeAccess access);
void forgetHidPermissionReports();
