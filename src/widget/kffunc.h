#pragma once
// One function of a keyboard model's key function catalogue (the file a board record names).
#include <QString>
#include <QVector>

// Function types of the catalogue's control_type; 0 stands for "no type".
enum KFControlType {
    E_SCT_NONE = 0,
    E_SCT_WEB = 1,     // open a web address
    E_SCT_EDIT = 2,    // open a document or start a program
    E_SCT_FOLDER = 3,  // open a folder
    E_SCT_LED = 4,     // LED brightness, an option of the function's list
    E_SCT_REPKEY = 5,  // nine replacement keys
    E_SCT_LOCKKEY = 6, // nine lock keys
    E_SCT_MACRO = 7,   // play a macro a number of times
    E_SCT_SWAP = 8,    // swap two keys
    E_SCT_VKB = 9,     // virtual keyboard; its records always carry function number 7
};

// One option of a list parameter; the record stores the option's position, not its value.
struct kfoption_t {
    QString name;
    int value = 0;
};

struct kffunc_t {
    QString name;
    int hi = 0;           // function number
    bool enable = false;  // offered by the function menu
    int control_type = 0; // KFControlType
    QString tips;
    QVector<kfoption_t> options; // from the hi<position> element of the catalogue
};
