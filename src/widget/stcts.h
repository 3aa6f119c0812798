#pragma once
// The computer-side record of one key function in use: the text the keyboard doesn't store.
#include <QString>
#include <cstdint>

struct STCTS {
    uint32_t id = 0;   // slot number
    uint32_t type = 0; // control type of the function; 0 when the catalogue lacks it
    uint32_t hi = 0;   // function number
    QString str;       // web address, document, application or folder
};
