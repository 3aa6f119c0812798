// The hot key on Windows: RegisterHotKey for the GUI thread; WM_HOTKEY arrives as a thread message,
// which the application's native event filter sees.
#include "globalshortcut_p.h"

#ifdef Q_OS_WIN

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QDebug>
#include <QPointer>

#include <windows.h>

namespace {

// Virtual-key codes: letters and digits are their upper-case character.
UINT virtualKeyOf(int key)
{
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        return UINT(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return UINT(VK_F1 + (key - Qt::Key_F1));
    switch (key) {
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Tab: return VK_TAB;
    case Qt::Key_Return: return VK_RETURN;
    case Qt::Key_Insert: return VK_INSERT;
    case Qt::Key_Delete: return VK_DELETE;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_End: return VK_END;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    default: return 0;
    }
}

class WindowsBackend : public GlobalShortcut::Backend, public QAbstractNativeEventFilter {
public:
    explicit WindowsBackend(GlobalShortcut* owner) : m_owner(owner)
    {
        static int nextId = 1;
        const QString name = globalshortcut::describe(owner->shortcut());
        int key = 0;
        Qt::KeyboardModifiers modifiers;
        const UINT vk = globalshortcut::splitSequence(owner->shortcut(), key, modifiers) ? virtualKeyOf(key) : 0;
        if (!vk) {
            qWarning().noquote() << "global shortcut" << name << "is no single key this system can grab";
            return;
        }
        UINT mods = 0;
#ifdef MOD_NOREPEAT
        mods |= MOD_NOREPEAT; // a held key does not repeat the hot key
#endif
        if (modifiers & Qt::ControlModifier)
            mods |= MOD_CONTROL;
        if (modifiers & Qt::ShiftModifier)
            mods |= MOD_SHIFT;
        if (modifiers & Qt::AltModifier)
            mods |= MOD_ALT;
        if (modifiers & Qt::MetaModifier)
            mods |= MOD_WIN;
        m_id = nextId++;
        if (!RegisterHotKey(nullptr, m_id, mods, vk)) {
            qWarning().noquote() << "global shortcut" << name << "refused: system error" << GetLastError();
            m_id = 0;
            return;
        }
        QCoreApplication::instance()->installNativeEventFilter(this);
    }

    ~WindowsBackend() override
    {
        if (!m_id)
            return;
        QCoreApplication::instance()->removeNativeEventFilter(this);
        UnregisterHotKey(nullptr, m_id);
    }

    bool isActive() const override { return m_id != 0; }

    bool nativeEventFilter(const QByteArray& type, void* message, long* result) override
    {
        Q_UNUSED(result);
        if (type != "windows_generic_MSG" && type != "windows_dispatcher_MSG")
            return false;
        const MSG* msg = static_cast<const MSG*>(message);
        if (msg->message != WM_HOTKEY || int(msg->wParam) != m_id)
            return false;
        const QPointer<GlobalShortcut> owner = m_owner;
        if (owner)
            activate(owner);
        return true;
    }

private:
    GlobalShortcut* m_owner;
    int m_id = 0;
};

} // namespace

std::unique_ptr<GlobalShortcut::Backend> makeWindowsGlobalShortcut(GlobalShortcut* owner)
{
    return std::make_unique<WindowsBackend>(owner);
}

#endif
