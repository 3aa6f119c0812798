#pragma once
// The one lock between the threads that talk to the keyboard: one request in flight at a time.
#include <QMutex>
#include <QWaitCondition>

struct RequestLock {
    QMutex mutex;
    QWaitCondition cond;
    bool waiting = false; // read and written only under mutex
};
