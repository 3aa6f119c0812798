#include "windowkeyboard.h"

#include "main/tessark.h"

Device* handKeyboardToWindow(Tessark& w, std::unique_ptr<KeyboardFixture>& f, sim::KeyboardConfig board,
                             const std::function<void(sim::FirmwareState&)>& change)
{
    board.pid = 0x40FF;
    f.reset(new KeyboardFixture(board));
    if (change)
        f->kb->edit(change);
    if (!f->open() || !f->loadNow())
        return nullptr;
    w.setLoadedDeviceForTest(f->device);
    w.createDynamicKeybtn();
    f->kb->clearLog();
    return f->device;
}
