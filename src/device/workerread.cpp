#include "workerread.h"

#include <QDebug>
#include <QTimer>

std::atomic<int> WorkerRead::s_ticks{0};

WorkerRead::WorkerRead() = default;

WorkerRead::~WorkerRead()
{
    qDebug() << "~worker Read 析构";
    if (m_timer) {
        m_timer->stop();
        delete m_timer;
    }
}

void WorkerRead::timerStartSlot()
{
    if (!m_timer) {
        m_timer = new QTimer(this);
        connect(m_timer, &QTimer::timeout, this, &WorkerRead::timerOutSlot);
    }
    m_timer->setInterval(TickMs);
    m_timer->start();
}

void WorkerRead::timerOutSlot()
{
    const int tick = ++s_ticks;
    // The counter is shared and never resets, so only one tick in the program's life is the fifth.
    if (tick == QuitTick) {
        qDebug() << "emit quit signal" << tick;
        emit emitQuit();
        if (m_timer)
            m_timer->stop();
    }
    qDebug() << "timer out something" << tick;
}
