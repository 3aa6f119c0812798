#include "popup.h"

#include "platform/windowclassstyle.h"

#include <QEvent>
#include <QSize>

bool Popup::s_shadowRemoved = false;

Popup::Popup(QWidget* parent) : QFrame(parent)
{
    setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
    // Only the inner frame paints: its rounded corners show what lies below.
    setAttribute(Qt::WA_TranslucentBackground, true);
    m_frame = new QFrame(this);
    m_frame->setStyleSheet(QStringLiteral(
        "QFrame{ background-color: rgb(255, 255, 255); border: 1px solid rgb(125, 125, 125); border-radius: 6px; }"));
    resize(300, 150);
    m_frame->show();
}

Popup::~Popup() = default;

void Popup::setContentWidget(QWidget* widget)
{
    if (!widget)
        return;
    const bool explicitlyHidden = widget->isHidden() && widget->testAttribute(Qt::WA_WState_ExplicitShowHide);
    const int y = 5 + m_count * widget->height();
    widget->setParent(m_frame);
    widget->move(5, y);
    if (!explicitlyHidden)
        widget->show();
    ++m_count;
    resize(widget->width() + 10, y + widget->height() + 5);
}

void Popup::resize(int width, int height)
{
    QFrame::resize(width, height);
    m_frame->resize(width, height);
}

void Popup::resize(const QSize& size)
{
    resize(size.width(), size.height());
}

bool Popup::event(QEvent* event)
{
    if (event->type() == QEvent::WinIdChange)
        windowclassstyle::removeDropShadowOnce(internalWinId(), &s_shadowRemoved);
    return QFrame::event(event);
}
