#pragma once
// Every tool tip of the application shown as typed: Qt reads a tool tip as markup when it looks like
// some, and file and folder names reach tool tips of Qt's own widgets (a file dialog's places).
#include <QObject>
#include <QString>

class QWidget;

// Installed once on the application, it takes each tool tip event before Qt's handlers, finds the text
// the widget would show (an item's, a header section's, a tab's, a menu action's or the widget's own) and
// shows it, cut to a bounded length, as plain text. Only a widget that says its tool tip is the tool's
// own markup (setMarkupToolTip) shows it as Qt does.
class PlainToolTips : public QObject {
    Q_OBJECT
public:
    // At most once per application; later calls do nothing. False without a QApplication.
    static bool install();

    // The tool's own markup as the widget's tool tip, read as markup and shown by the widget itself.
    static void setMarkupToolTip(QWidget* widget, const QString& markup);

    // The longest text shown; a longer one keeps its start and end around "…".
    static constexpr int MaxChars = 1000;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    using QObject::QObject;
};
