#include "pendinglayers.h"

PendingLayers::PendingLayers(Select select) : m_select(std::move(select))
{
    m_pass.setSingleShot(true);
    m_pass.setInterval(0);
    QObject::connect(&m_pass, &QTimer::timeout, [this] { selectNext(); });
}

bool PendingLayers::add(Kind kind, int index)
{
    if (kind < 0 || kind >= Kinds || index < 0)
        return false;
    int& waiting = m_waiting[size_t(kind)];
    if (waiting == index)
        return false;
    waiting = index;
    if (!m_pass.isActive())
        m_pass.start();
    return true;
}

void PendingLayers::selectNext()
{
    for (int n = 0; n < Kinds; ++n) {
        const auto kind = Kind((m_next + n) % Kinds);
        const int index = m_waiting[size_t(kind)];
        if (index < 0)
            continue;
        m_next = (kind + 1) % Kinds;
        // Taken before the selection runs: the same index named while it runs is one more to select.
        m_waiting[size_t(kind)] = -1;
        m_select(kind, index);
        for (int w : m_waiting) {
            if (w >= 0 && !m_pass.isActive()) {
                m_pass.start();
                break;
            }
        }
        return;
    }
}
