#include "menu.h"

#include "platform/windowclassstyle.h"
#include "widget/qss.h"

#include <QEvent>

bool Menu::s_shadowRemoved = false;

Menu::Menu(QWidget* parent) : QMenu(parent)
{
    initStyle();
}

Menu::Menu(const QString& title, QWidget* parent) : QMenu(title, parent)
{
    initStyle();
}

void Menu::initStyle()
{
    Qss qss;
    qss.setMenuStyle(this, QColor(QStringLiteral("#46e6b7")), true);
    setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
    // Outside the 6px rounded border the window shows through.
    setAttribute(Qt::WA_TranslucentBackground, true);
    setObjectName(QStringLiteral("CucvvbcstomMenu"));
}

bool Menu::event(QEvent* event)
{
    if (event->type() == QEvent::WinIdChange)
        windowclassstyle::removeDropShadowOnce(internalWinId(), &s_shadowRemoved);
    // QMenu's own event() is skipped on purpose; its handlers still run through QWidget's dispatch.
    return QWidget::event(event);
}
