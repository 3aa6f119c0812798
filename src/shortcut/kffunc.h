#pragma once
// One function of a keyboard model's key function catalogue (the file a board record names).
#include <QString>

// Function types of the catalogue's control_type; 0 stands for "no type".
enum KFControlType {
    E_SCT_NONE = 0,
    E_SCT_WEB = 1,
    E_SCT_EDIT = 2,
    E_SCT_FOLDER = 3,
};

struct kffunc_t {
    QString name;
    int hi = 0;           // function number
    bool enable = false;
    int control_type = 0; // KFControlType and the types of the other editors
    QString tips;
};
