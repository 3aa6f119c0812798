#include "globalshortcut_p.h"

#include <QDebug>
#include <QGuiApplication>

namespace globalshortcut {

bool splitSequence(const QKeySequence& sequence, int& key, Qt::KeyboardModifiers& modifiers)
{
    if (sequence.count() != 1)
        return false;
    const int chord = sequence[0];
    key = chord & ~int(Qt::KeyboardModifierMask);
    modifiers = Qt::KeyboardModifiers(chord & int(Qt::KeyboardModifierMask));
    switch (key) {
    case 0:
    case Qt::Key_unknown:
    case Qt::Key_Control:
    case Qt::Key_Shift:
    case Qt::Key_Alt:
    case Qt::Key_Meta:
        return false;
    default:
        return true;
    }
}

QString describe(const QKeySequence& sequence) { return sequence.toString(QKeySequence::PortableText); }

} // namespace globalshortcut

std::unique_ptr<GlobalShortcut::Backend> GlobalShortcut::Backend::create(GlobalShortcut* owner)
{
    const QString platform = QGuiApplication::platformName();
#if defined(TESSARK_HAVE_XCB)
    const QByteArray display = qgetenv("DISPLAY");
    if (platform == QLatin1String("xcb") && !display.isEmpty())
        return makeX11GlobalShortcut(owner, display);
#endif
#ifdef Q_OS_WIN
    if (platform == QLatin1String("windows"))
        return makeWindowsGlobalShortcut(owner);
#endif
    // Wayland, offscreen, a session without a display: nothing lets a client take a key from all others.
    qInfo().noquote() << "global shortcut" << globalshortcut::describe(owner->shortcut())
                      << "is not available on the platform" << (platform.isEmpty() ? QStringLiteral("(none)") : platform);
    return std::make_unique<Backend>();
}

GlobalShortcut::GlobalShortcut(const QKeySequence& sequence, QObject* parent) : QObject(parent), m_sequence(sequence)
{
    m_backend = Backend::create(this);
}

GlobalShortcut::~GlobalShortcut() = default;

bool GlobalShortcut::isActive() const { return m_backend && m_backend->isActive(); }
