#pragma once
// Hands the main window a keyboard loaded beside it, without the discovery and load behind it.
#include "keyboardfixture.h"

#include <functional>
#include <memory>

class Device;
class Tessark;

// The window's friend: lends the window's connection a loaded client as if its load had just
// finished (null takes it back, as a close would, without touching the client).
class WindowTestAccess {
public:
    static void setLoadedDevice(Tessark& w, Device* device);
};

// Loads board (its product id changed so the window's own scan ignores it) after change edited its
// state, hands it to the window and draws the picture with its layers; the report log starts empty.
// Null when it did not load.
Device* handKeyboardToWindow(Tessark& w, std::unique_ptr<KeyboardFixture>& f, sim::KeyboardConfig board,
                             const std::function<void(sim::FirmwareState&)>& change = {});
