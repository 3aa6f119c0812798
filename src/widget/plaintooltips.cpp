#include "plaintooltips.h"

#include "widget/plaintext.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMenu>
#include <QTabBar>
#include <QToolTip>

namespace {

// Set on a widget whose tool tip is the tool's own markup.
const char* const MarkupProperty = "tessarkMarkupToolTip";

struct Tip {
    QString text;
    QRect rect;        // global; the tip goes when the pointer leaves it
    int duration = -1; // Qt's own, from the text's length
    bool final = false; // shown or hidden here even when empty: the parent is not asked (a menu's action)
};

QRect globalRect(const QWidget* widget, const QRect& rect)
{
    return rect.isValid() ? QRect(widget->mapToGlobal(rect.topLeft()), rect.size()) : QRect();
}

// QAction::toolTip() falls back to the text stripped of "&" and "...": a menu shows only one set.
QString ownActionToolTip(const QAction* action)
{
    QString stripped = action->text();
    stripped.remove(QLatin1String("..."));
    stripped.remove(QLatin1Char('&'));
    const QString tip = action->toolTip();
    return tip == stripped.trimmed() ? QString() : tip;
}

// What Qt's handler of `widget` would show at pos, found the way that handler finds it.
Tip tipAt(QWidget* widget, const QPoint& pos)
{
    Tip tip;
    auto* view = qobject_cast<QAbstractItemView*>(widget->parentWidget());
    if (view && view->viewport() == widget && view->model()) {
        if (auto* header = qobject_cast<QHeaderView*>(view)) {
            const int section = header->logicalIndexAt(pos);
            if (section >= 0)
                tip.text = header->model()->headerData(section, header->orientation(), Qt::ToolTipRole).toString();
        } else {
            const QModelIndex index = view->indexAt(pos);
            if (index.isValid()) {
                tip.text = index.data(Qt::ToolTipRole).toString();
                tip.rect = globalRect(widget, view->visualRect(index));
            }
        }
        if (!tip.text.isEmpty())
            return tip;
    } else if (auto* bar = qobject_cast<QTabBar*>(widget)) {
        const int tab = bar->tabAt(pos);
        if (tab >= 0 && !bar->tabToolTip(tab).isEmpty()) {
            tip.text = bar->tabToolTip(tab);
            tip.rect = globalRect(bar, bar->tabRect(tab));
            return tip;
        }
    } else if (auto* menu = qobject_cast<QMenu*>(widget)) {
        if (menu->toolTipsVisible()) {
            if (const QAction* action = menu->actionAt(pos)) {
                tip.text = ownActionToolTip(action);
                tip.rect = globalRect(menu, menu->actionGeometry(const_cast<QAction*>(action)));
                tip.final = true;
                return tip;
            }
        }
    }
    tip.text = widget->toolTip();
    tip.duration = widget->toolTipDuration();
    return tip;
}

// Start and end around "…", never halving a character outside the BMP.
QString bounded(const QString& text)
{
    if (text.size() <= PlainToolTips::MaxChars)
        return text;
    int head = PlainToolTips::MaxChars / 2;
    if (text.at(head - 1).isHighSurrogate())
        --head;
    int tail = text.size() - (PlainToolTips::MaxChars / 2 - 1);
    if (text.at(tail).isLowSurrogate())
        ++tail;
    return text.left(head) + QChar(0x2026) + text.mid(tail);
}

} // namespace

bool PlainToolTips::install()
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app)
        return false;
    if (!app->findChild<PlainToolTips*>(QString(), Qt::FindDirectChildrenOnly))
        app->installEventFilter(new PlainToolTips(app));
    return true;
}

void PlainToolTips::setMarkupToolTip(QWidget* widget, const QString& markup)
{
    if (!widget)
        return;
    widget->setProperty(MarkupProperty, true);
    widget->setToolTip(markup);
}

bool PlainToolTips::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::ToolTip || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->property(MarkupProperty).toBool())
        return false; // the tool's own markup: the widget shows it as Qt does
    const auto* help = static_cast<QHelpEvent*>(event);
    const Tip tip = tipAt(widget, help->pos());
    if (tip.text.isEmpty()) {
        QToolTip::hideText();
        // As Qt's handlers do: the parent is asked next, unless a menu's action had no tip.
        event->setAccepted(tip.final);
        return true;
    }
    QToolTip::showText(help->globalPos(), plaintext::toolTip(bounded(tip.text)), widget, tip.rect, tip.duration);
    event->accept();
    return true;
}
