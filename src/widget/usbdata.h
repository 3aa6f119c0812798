#pragma once
// One keyboard interface of the settings menu's device list.
#include <QMetaType>
#include <QString>

#include <cstdint>

class QAction;

struct UsbData {
    QString path; // HID path; two entries are the same keyboard when their paths are equal
    uint16_t vid = 0;
    uint16_t pid = 0;
    // Set by the settings menu when it lists the keyboard; null and 0 as the device scan builds it.
    QAction* action = nullptr;
    int number = 0;
};

Q_DECLARE_METATYPE(UsbData)
