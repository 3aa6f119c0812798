#pragma once
// Tells the user that a key function could not be written to the keyboard.
#include <cstdint>

void showKFWriteFailureBox(uint32_t code);
