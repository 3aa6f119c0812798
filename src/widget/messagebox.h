#pragma once
// The tool's modal message boxes behind one seam, so tests can answer them without a user.
#include <QMessageBox>
#include <QString>
#include <Qt>

class QWidget;

// One box as the tool asks for it.
struct MessageBoxRequest {
    enum Kind { Information, Critical, Question, About, Warning };
    Kind kind = Information;
    QWidget* parent = nullptr;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    // Path of the box's window icon; when set, the box is a fixed-size dialog with that icon.
    QString windowIcon;
    // How the text is read: as typed unless the caller built markup itself (Qt::RichText), and then
    // every insert it did not write went through QString::toHtmlEscaped. Never guessed from the text.
    Qt::TextFormat textFormat = Qt::PlainText;
};

// Shows a box and returns the button that closed it. The default shows a real QMessageBox;
// tests install a recorder (tests/support/messageboxrecorder.h).
class MessageBoxHandler {
public:
    virtual ~MessageBoxHandler() = default;
    virtual QMessageBox::StandardButton show(const MessageBoxRequest& request) = 0;
};

namespace messagebox {

// Same arguments and defaults as the QMessageBox static functions they replace.
QMessageBox::StandardButton information(QWidget* parent, const QString& title, const QString& text,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
QMessageBox::StandardButton critical(QWidget* parent, const QString& title, const QString& text,
                                     QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                     QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
QMessageBox::StandardButton question(QWidget* parent, const QString& title, const QString& text,
                                     QMessageBox::StandardButtons buttons = QMessageBox::StandardButtons(
                                         QMessageBox::Yes | QMessageBox::No),
                                     QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
void about(QWidget* parent, const QString& title, const QString& text);
// A warning box; with a window icon path it is a fixed-size dialog showing that icon.
QMessageBox::StandardButton warning(QWidget* parent, const QString& title, const QString& text,
                                    QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton,
                                    const QString& windowIcon = QString());

// Any box as the request says; the functions above are shorthands for plain text.
QMessageBox::StandardButton show(const MessageBoxRequest& request);

// Every later box goes to handler (not owned; it must outlive its installation). nullptr restores
// the real boxes. Returns the handler installed before. GUI thread only.
MessageBoxHandler* setHandler(MessageBoxHandler* handler);

} // namespace messagebox

// Whether closing or minimising the main window may hide it to the tray. False without a system
// tray (offscreen, Xvfb, some desktops): the window must then minimise instead, and a "/background"
// start stays minimised rather than hidden, so the user can always reach it.
// Asks QSystemTrayIcon::isSystemTrayAvailable() unless a test forced an answer.
bool canHideToTray();
// Tests: 1 forces true, 0 forces false, -1 asks the system again.
void forceTrayAvailable(int available);
