#include "messagebox.h"

#include <QIcon>
#include <QPointer>
#include <QPushButton>
#include <QSystemTrayIcon>

namespace {

// The real boxes, built as QMessageBox's static functions build them but on the heap and watched: a
// static box lives on the stack as a child of its parent, so a parent deleted inside the box's event
// loop (a row or page that goes with an unplugged keyboard) would destroy it twice.
class RealMessageBoxes : public MessageBoxHandler {
public:
    QMessageBox::StandardButton show(const MessageBoxRequest& r) override
    {
        switch (r.kind) {
        case MessageBoxRequest::Information:
            return run(QMessageBox::Information, r);
        case MessageBoxRequest::Critical:
            return run(QMessageBox::Critical, r);
        case MessageBoxRequest::Question:
            return run(QMessageBox::Question, r);
        case MessageBoxRequest::About:
            // Parentless wherever the tool asks for one: nothing can delete it from under the call.
            QMessageBox::about(r.parent, r.title, r.text);
            return QMessageBox::Ok;
        case MessageBoxRequest::Warning:
            return run(QMessageBox::Warning, r);
        }
        return QMessageBox::NoButton;
    }

private:
    // NoButton when the parent took the box with it.
    static QMessageBox::StandardButton run(QMessageBox::Icon icon, const MessageBoxRequest& r)
    {
        QPointer<QMessageBox> box = new QMessageBox(icon, r.title, r.text, QMessageBox::NoButton, r.parent,
                                                    Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
        box->setAttribute(Qt::WA_DeleteOnClose, false);
        // One button per flag, lowest first, as the static functions add them; without a default
        // button the first accepting one is the default.
        for (uint bit = QMessageBox::FirstButton; bit && bit <= QMessageBox::LastButton; bit <<= 1) {
            if (!(r.buttons & bit))
                continue;
            QPushButton* button = box->addButton(QMessageBox::StandardButton(bit));
            if (box->defaultButton())
                continue;
            const bool accepts = box->buttonRole(button) == QMessageBox::AcceptRole;
            if (r.defaultButton == QMessageBox::NoButton ? accepts : bit == uint(r.defaultButton))
                box->setDefaultButton(button);
        }
        if (!r.windowIcon.isEmpty())
            box->setWindowIcon(QIcon(r.windowIcon));
        const int result = box->exec();
        if (!box)
            return QMessageBox::NoButton;
        // As the static functions answer: Escape with no escape button counts as Cancel.
        const QMessageBox::StandardButton answer =
            result == -1 ? QMessageBox::Cancel : box->standardButton(box->clickedButton());
        delete box.data();
        return answer;
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
