#include "windowkeyboard.h"

#include "device/deviceconnection.h"
#include "main/tessark.h"

void WindowTestAccess::setLoadedDevice(Tessark& w, Device* device)
{
    w.m_connection->lend(device);
    w.m_deviceLoaded = device != nullptr;
}

Device* handKeyboardToWindow(Tessark& w, std::unique_ptr<KeyboardFixture>& f, sim::KeyboardConfig board,
                             const std::function<void(sim::FirmwareState&)>& change)
{
    board.pid = 0x40FF;
    f.reset(new KeyboardFixture(board));
    if (change)
        f->kb->edit(change);
    if (!f->open() || !f->loadNow())
        return nullptr;
    WindowTestAccess::setLoadedDevice(w, f->device);
    w.createDynamicKeybtn();
    f->kb->clearLog();
    return f->device;
}
