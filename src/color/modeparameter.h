#pragma once
// One effect of config/modeParameter.xml: its name in the effect list and the values the mode parameter
// dialog proposes when the user picks it, and the reader of that file.
#include <QString>
#include <QVector>
#include <cstdint>

struct ModeParameter {
    QString text;     // the name shown in the effect list
    int32_t mode = 0; // the effect list index whose defaults these are
    bool CF = false;  // cycle flag
    int32_t TPT = 0;  // total period count
    bool CR = false;  // colour random
    bool RCWK = false; // random colour when a key is pressed
    int32_t HL = 0;   // highest level
    int32_t LL = 0;   // lowest level
    int32_t LS = 0;   // level step
    int32_t LD = 0;   // step delay
    int32_t BD = 0;   // brightness direction, not 0: high to low
    int32_t SDY = 0;  // kept, unused
    int32_t HDY = 0;  // highest delay, ms
    int32_t PDY = 0;  // period delay, ms
    int32_t LDY = 0;  // kept, unused
};

// Appends one record per item of the file at path: inside each LEDMODE child of the root, the node at
// position i (elements, comments and text that is not only white space all count) is read only when it
// is an element named "item<i>". 0 when read; 1 when read but a value that should be a number is not
// (it counts as 0; logged); -1 when the file cannot be read (nothing logged) or does not parse
// (logged), and then nothing is appended.
int readModeParameters(const QString& path, QVector<ModeParameter>* out);
