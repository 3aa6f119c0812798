#include "messagebox.h"

#include <QIcon>
#include <QSystemTrayIcon>

namespace {

// The real boxes: QMessageBox's own static functions, which the tool called directly before.
class RealMessageBoxes : public MessageBoxHandler {
public:
    QMessageBox::StandardButton show(const MessageBoxRequest& r) override
    {
        switch (r.kind) {
        case MessageBoxRequest::Information:
            return QMessageBox::information(r.parent, r.title, r.text, r.buttons, r.defaultButton);
        case MessageBoxRequest::Critical:
            return QMessageBox::critical(r.parent, r.title, r.text, r.buttons, r.defaultButton);
        case MessageBoxRequest::Question:
            return QMessageBox::question(r.parent, r.title, r.text, r.buttons, r.defaultButton);
        case MessageBoxRequest::About:
            QMessageBox::about(r.parent, r.title, r.text);
            return QMessageBox::Ok;
        case MessageBoxRequest::Warning:
            return warning(r);
        }
        return QMessageBox::NoButton;
    }

private:
    // Built here rather than by the static function: only so can it take a window icon.
    static QMessageBox::StandardButton warning(const MessageBoxRequest& r)
    {
        if (r.windowIcon.isEmpty())
            return QMessageBox::warning(r.parent, r.title, r.text, r.buttons, r.defaultButton);
        QMessageBox box(QMessageBox::Warning, r.title, r.text, r.buttons, r.parent,
                        Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
        box.setWindowIcon(QIcon(r.windowIcon));
        if (r.defaultButton != QMessageBox::NoButton)
            box.setDefaultButton(r.defaultButton);
        return QMessageBox::StandardButton(box.exec());
    }
};

RealMessageBoxes g_real;
MessageBoxHandler* g_handler = nullptr;
int g_forcedTray = -1;

QMessageBox::StandardButton ask(MessageBoxRequest::Kind kind, QWidget* parent, const QString& title,
                                const QString& text, QMessageBox::StandardButtons buttons,
                                QMessageBox::StandardButton defaultButton, const QString& windowIcon = QString())
{
    MessageBoxRequest request;
    request.kind = kind;
    request.parent = parent;
    request.title = title;
    request.text = text;
    request.buttons = buttons;
    request.defaultButton = defaultButton;
    request.windowIcon = windowIcon;
    return (g_handler ? g_handler : &g_real)->show(request);
}

} // namespace

namespace messagebox {

QMessageBox::StandardButton information(QWidget* parent, const QString& title, const QString& text,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton)
{
    return ask(MessageBoxRequest::Information, parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton critical(QWidget* parent, const QString& title, const QString& text,
                                     QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    return ask(MessageBoxRequest::Critical, parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton question(QWidget* parent, const QString& title, const QString& text,
                                     QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    return ask(MessageBoxRequest::Question, parent, title, text, buttons, defaultButton);
}

void about(QWidget* parent, const QString& title, const QString& text)
{
    ask(MessageBoxRequest::About, parent, title, text, QMessageBox::Ok, QMessageBox::NoButton);
}

QMessageBox::StandardButton warning(QWidget* parent, const QString& title, const QString& text,
                                    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton,
                                    const QString& windowIcon)
{
    return ask(MessageBoxRequest::Warning, parent, title, text, buttons, defaultButton, windowIcon);
}

MessageBoxHandler* setHandler(MessageBoxHandler* handler)
{
    MessageBoxHandler* before = g_handler;
    g_handler = handler;
    return before;
}

} // namespace messagebox

bool canHideToTray()
{
    if (g_forcedTray >= 0)
        return g_forcedTray > 0;
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void forceTrayAvailable(int available)
{
    g_forcedTray = available < 0 ? -1 : (available > 0 ? 1 : 0);
}
