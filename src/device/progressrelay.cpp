#include "progressrelay.h"

ProgressRelay::ProgressRelay(QObject* parent)
    : QObject(parent)
{
}

void ProgressRelay::post(int bytes)
{
    m_latest.store(bytes);
    if (m_pending.exchange(true))
        return; // the delivery on its way reads the latest count when it runs
    m_deliveries.fetch_add(1);
    QMetaObject::invokeMethod(this, &ProgressRelay::deliver, Qt::QueuedConnection);
}

void ProgressRelay::deliver()
{
    // Cleared before the read: a count stored after it posts a new delivery, so the last one arrives.
    m_pending.store(false);
    emit progress(m_latest.load());
}
