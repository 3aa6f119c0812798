// The hot key on X11: a passive key grab on the root window, over a connection of our own so that
// the grab, its errors and its events never mix with the toolkit's.
#include "globalshortcut_p.h"

#if defined(TESSARK_HAVE_XCB)

#include <QDebug>
#include <QPointer>
#include <QSocketNotifier>
#include <QVector>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {

// X keysyms of the keys a hot key may use. Latin-1 keys are their own character (letters in lower
// case); the function and editing keys sit in the 0xFFxx block.
uint32_t keysymOf(int key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return uint32_t(key - Qt::Key_A + 'a');
    if (key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde)
        return uint32_t(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return uint32_t(0xFFBE + (key - Qt::Key_F1));
    static const struct {
        int key;
        uint32_t sym;
    } table[] = {{Qt::Key_Escape, 0xFF1B}, {Qt::Key_Tab, 0xFF09},      {Qt::Key_Backspace, 0xFF08},
                 {Qt::Key_Return, 0xFF0D}, {Qt::Key_Enter, 0xFF8D},    {Qt::Key_Insert, 0xFF63},
                 {Qt::Key_Delete, 0xFFFF}, {Qt::Key_Pause, 0xFF13},    {Qt::Key_Print, 0xFF61},
                 {Qt::Key_Home, 0xFF50},   {Qt::Key_End, 0xFF57},      {Qt::Key_Left, 0xFF51},
                 {Qt::Key_Up, 0xFF52},     {Qt::Key_Right, 0xFF53},    {Qt::Key_Down, 0xFF54},
                 {Qt::Key_PageUp, 0xFF55}, {Qt::Key_PageDown, 0xFF56}};
    for (const auto& entry : table)
        if (entry.key == key)
            return entry.sym;
    return 0;
}

uint16_t modifierMask(Qt::KeyboardModifiers modifiers)
{
    uint16_t mask = 0;
    if (modifiers & Qt::ShiftModifier)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & Qt::ControlModifier)
        mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & Qt::AltModifier)
        mask |= XCB_MOD_MASK_1;
    if (modifiers & Qt::MetaModifier)
        mask |= XCB_MOD_MASK_4;
    return mask;
}

// The first key code whose keysyms hold `sym` (or, for a letter, its upper case); 0 when none does.
xcb_keycode_t keycodeOf(xcb_connection_t* connection, uint32_t sym)
{
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const int first = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    if (count <= 0)
        return 0;
    xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, xcb_keycode_t(first), uint8_t(count)), nullptr);
    if (!reply)
        return 0;
    const uint32_t upper = (sym >= 'a' && sym <= 'z') ? sym - 'a' + 'A' : sym;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
    const int length = xcb_get_keyboard_mapping_keysyms_length(reply);
    const int perCode = reply->keysyms_per_keycode;
    xcb_keycode_t found = 0;
    for (int code = 0; perCode > 0 && code < count && !found; ++code)
        for (int column = 0; column < perCode && !found; ++column) {
            const int at = code * perCode + column;
            if (at < length && (syms[at] == sym || syms[at] == upper))
                found = xcb_keycode_t(first + code);
        }
    std::free(reply);
    return found;
}

class X11Backend : public GlobalShortcut::Backend {
public:
    X11Backend(GlobalShortcut* owner, const QByteArray& display) : m_owner(owner)
    {
        const QString name = globalshortcut::describe(owner->shortcut());
        int key = 0;
        Qt::KeyboardModifiers modifiers;
        if (!globalshortcut::splitSequence(owner->shortcut(), key, modifiers) || !keysymOf(key)) {
            qWarning().noquote() << "global shortcut" << name << "is no single key this system can grab";
            return;
        }
        int screenNumber = 0;
        m_connection = xcb_connect(display.constData(), &screenNumber);
        if (xcb_connection_has_error(m_connection)) {
            qWarning().noquote() << "global shortcut" << name << "cannot connect to the display" << display;
            return;
        }
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < screenNumber && screens.rem; ++i)
            xcb_screen_next(&screens);
        if (!screens.rem) {
            qWarning().noquote() << "global shortcut" << name << "finds no screen" << screenNumber;
            return;
        }
        m_root = screens.data->root;
        m_keycode = keycodeOf(m_connection, keysymOf(key));
        if (!m_keycode) {
            qWarning().noquote() << "global shortcut" << name << "finds no key code on this keyboard";
            return;
        }
        // A grab matches the modifier state exactly: grab again with Caps Lock, Num Lock and both on.
        const uint16_t mask = modifierMask(modifiers);
        const uint16_t lockStates[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
        for (const uint16_t locks : lockStates) {
            const uint16_t state = mask | locks;
            xcb_generic_error_t* error = xcb_request_check(
                m_connection, xcb_grab_key_checked(m_connection, 1, m_root, state, m_keycode, XCB_GRAB_MODE_ASYNC,
                                                   XCB_GRAB_MODE_ASYNC));
            if (error) {
                // 10 is BadAccess: another client holds the same combination.
                qWarning().noquote() << "global shortcut" << name << "refused: the display answered X error"
                                     << int(error->error_code)
                                     << (error->error_code == 10 ? "(the key is taken by another program)" : "");
                std::free(error);
                ungrab();
                return;
            }
            m_grabbed.append(state);
        }
        m_notifier.reset(new QSocketNotifier(xcb_get_file_descriptor(m_connection), QSocketNotifier::Read));
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { readEvents(); });
        xcb_flush(m_connection);
    }

    ~X11Backend() override
    {
        m_notifier.reset();
        ungrab();
        if (m_connection)
            xcb_disconnect(m_connection);
    }

    bool isActive() const override { return !m_grabbed.isEmpty(); }

private:
    void ungrab()
    {
        if (m_grabbed.isEmpty())
            return;
        for (const uint16_t state : qAsConst(m_grabbed))
            xcb_ungrab_key(m_connection, m_keycode, m_root, state);
        m_grabbed.clear();
        // A round trip: the key is free once this returns, for whoever grabs it next.
        std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }

    void readEvents()
    {
        int presses = 0;
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
            const uint8_t type = event->response_type & 0x7F;
            if (type == XCB_KEY_PRESS) {
                const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(event);
                // Auto-repeat sends a release and a press with the same time stamp: count the first press only.
                if (press->detail == m_keycode && !(m_released && press->time == m_releaseTime))
                    ++presses;
                m_released = false;
            } else if (type == XCB_KEY_RELEASE) {
                m_releaseTime = reinterpret_cast<const xcb_key_release_event_t*>(event)->time;
                m_released = true;
            }
            std::free(event);
        }
        if (xcb_connection_has_error(m_connection)) {
            qWarning().noquote() << "global shortcut" << globalshortcut::describe(m_owner->shortcut())
                                 << "lost its display connection";
            m_notifier.reset();
            m_grabbed.clear();
        }
        // A receiver may delete the hot key, and this backend with it.
        const QPointer<GlobalShortcut> owner = m_owner;
        for (int i = 0; i < presses && owner; ++i)
            activate(owner);
    }

    GlobalShortcut* m_owner;
    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
    xcb_keycode_t m_keycode = 0;
    QVector<uint16_t> m_grabbed; // the modifier states grabbed
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_released = false;
    xcb_timestamp_t m_releaseTime = 0;
};

} // namespace

std::unique_ptr<GlobalShortcut::Backend> makeX11GlobalShortcut(GlobalShortcut* owner, const QByteArray& display)
{
    return std::make_unique<X11Backend>(owner, display);
}

#endif
