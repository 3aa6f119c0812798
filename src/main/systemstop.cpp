#include "systemstop.h"

#include "device/device.h"
#include "main/tessark.h"

#include <QApplication>
#include <QDebug>
#include <QDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QSessionManager>
#include <QWidget>

SystemStop::SystemStop(QObject* parent)
    : QObject(parent)
{
    // A request that holds this thread ends when a signal comes, so that the signal is served at all.
    Device::watchOutsideStops(&StopSignals::received());
    connect(&m_signals, &StopSignals::stopRequested, this, [this](int number) {
        qWarning() << "signal" << number << "received: ending as Exit does";
        request();
    });
    m_timer.setInterval(TickMs);
    connect(&m_timer, &QTimer::timeout, this, &SystemStop::tick);
#ifndef QT_NO_SESSIONMANAGER
    // The desktop's log-out asks the application to commit its data: the tool ends as Exit does.
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) {
            qWarning() << "the session ends: ending as Exit does";
            request();
        });
#endif
    if (const int number = m_signals.caughtBefore()) {
        qWarning() << "signal" << number << "received before the start was done: ending";
        request();
    }
}

void SystemStop::setWindow(Tessark* window)
{
    m_window = window;
    if (m_requested) {
        if (m_window)
            m_window->stopRequested();
        tick();
    }
}

void SystemStop::request()
{
    if (m_requested)
        return;
    m_requested = true;
    if (m_window)
        m_window->stopRequested();
    m_timer.start();
    tick();
}

bool SystemStop::closeOpenBoxes()
{
    bool open = false;
    if (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
        open = true;
    }
    if (QWidget* modal = QApplication::activeModalWidget()) {
        // First as a user's Escape: a message box takes its cancelling button, or its only one. What
        // is still open at the next tick is rejected outright.
        if (modal->property("tessarkEscapeSent").toBool()) {
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
            else
                modal->close();
        } else {
            modal->setProperty("tessarkEscapeSent", true);
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(modal, &press);
        }
        qDebug() << "ending: a box was open, answered as cancelled";
        open = true;
    }
    return open;
}

void SystemStop::tick()
{
    // The box's own event loop returns at a later turn; Exit starts only once nothing is open.
    if (closeOpenBoxes() || m_exitStarted || !m_window)
        return;
    m_exitStarted = true;
    m_window->exitAppActionSlot();
}
