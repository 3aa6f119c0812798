#pragma once
// Hands the main window a keyboard loaded beside it, without the discovery and load behind it.
#include "keyboardfixture.h"

#include <functional>
#include <memory>

class Tessark;

// Loads board (its product id changed so the window's own scan ignores it) after change edited its
// state, hands it to the window and draws the picture with its layers; the report log starts empty.
// Null when it did not load.
Device* handKeyboardToWindow(Tessark& w, std::unique_ptr<KeyboardFixture>& f, sim::KeyboardConfig board,
                             const std::function<void(sim::FirmwareState&)>& change = {});
