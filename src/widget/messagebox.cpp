#include "messagebox.h"

#include "setting/Language.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTextDocument>
#include <QWindow>
#include <climits>

namespace {

// What a box needs beside its text: title bar, margins, the button row and the details once opened
// (a fixed 100 pixels in Qt 5), with room to spare.
constexpr int BoxChromeHeight = 280;
// A longer text never fits any screen's box label; it is cut without measuring all of it.
constexpr int MeasuredTextLimit = 16384;

QScreen* screenOf(const QWidget* parent)
{
    if (parent) {
        if (const QWindow* window = parent->window()->windowHandle())
            return window->screen();
    }
    return QGuiApplication::primaryScreen();
}

// The height text takes at width, an upper bound for the box's label: QMessageBox wraps at words
// from its narrowest width on, and anywhere once one word is wider than the box may grow.
int textHeight(const QFontMetrics& metrics, int width, const QString& text)
{
    const QRect area(0, 0, width, INT_MAX / 2);
    return qMax(metrics.boundingRect(area, Qt::TextWordWrap, text).height(),
                metrics.boundingRect(area, Qt::TextWrapAnywhere, text).height());
}

// A line longer than this shows its first and last EndChars characters only.
constexpr int LongLine = 160;
constexpr int EndChars = 70;

bool endsLine(QChar c)
{
    return c == QLatin1Char('\n') || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

// The line's start and end around "…", never halving a character outside the BMP.
QString elided(const QStringRef& line)
{
    int head = EndChars;
    if (line.at(head - 1).isHighSurrogate())
        --head;
    int tail = line.size() - EndChars;
    if (line.at(tail).isLowSurrogate())
        ++tail;
    return line.left(head) + QStringLiteral(" … ") + line.mid(tail);
}

// The text's lines, each overlong one cut in its middle and each run of empty lines taken as one: a long
// name (a path of many lines or none) then leaves room for what is said about it.
QStringList shortLines(const QString& text)
{
    QStringList lines;
    bool lastEmpty = false;
    int from = 0;
    for (int i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !endsLine(text.at(i)))
            continue;
        const QStringRef line = text.midRef(from, i - from);
        from = i + 1;
        const bool empty = line.trimmed().isEmpty();
        if (empty && lastEmpty)
            continue;
        lastEmpty = empty;
        lines << (line.size() > LongLine ? elided(line) : line.toString());
    }
    return lines;
}

// The first and last of lines, count in all, the last ones preferred, around a line "…".
QString endLines(const QStringList& lines, int count)
{
    const int tail = (count + 1) / 2;
    const int head = count - tail;
    if (count >= lines.size())
        return lines.join(QLatin1Char('\n'));
    return (lines.mid(0, head) + QStringList(QStringLiteral("…")) + lines.mid(lines.size() - tail))
        .join(QLatin1Char('\n'));
}

// Keeps the box within the available height of its screen: a text too tall for it shows its long lines
// cut in their middles and, when still too tall, its first and last lines, so that what a message says
// about a long name stays in view; a pointer leads to the details, which hold the whole text in a
// scrolling field.
void fitToScreen(QMessageBox* box, const MessageBoxRequest& r)
{
    const QScreen* screen = screenOf(r.parent);
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const QLabel* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    const QFontMetrics metrics = label ? label->fontMetrics() : box->fontMetrics();
    // The narrowest width QMessageBox wraps its text at (qmessagebox.cpp, updateSize()).
    const int width = qMax(100, qMin(available.width() / 2, 500));
    const int budget = qMax(3 * metrics.lineSpacing(), available.height() - BoxChromeHeight);
    const auto fits = [&](const QString& text) {
        return text.size() <= MeasuredTextLimit && textHeight(metrics, width, text) <= budget;
    };

    QString text = r.text;
    if (box->textFormat() == Qt::RichText) {
        QTextDocument document;
        document.setDefaultFont(label ? label->font() : box->font());
        document.setHtml(r.text);
        document.setTextWidth(width);
        if (document.size().height() <= budget)
            return;
        text = document.toPlainText();
    } else if (fits(text)) {
        return;
    }

    const bool zh = chineseInterface();
    const QString more = zh ? QStringLiteral("\n…\n全文见 “Show Details...”。")
                            : QStringLiteral("\n…\nThe whole text is under “Show Details...”.");
    const QStringList lines = shortLines(text);
    // As many lines as fit; each takes a line's height at least.
    int low = 0;
    int high = qMin(lines.size(), budget / qMax(1, metrics.lineSpacing()));
    while (low < high) {
        const int mid = (low + high + 1) / 2;
        if (fits(endLines(lines, mid) + more))
            low = mid;
        else
            high = mid - 1;
    }
    // One line at least, the last: on a screen too small even for that, the box shows it as it can.
    const QString shown = endLines(lines, qMax(1, low));
    box->setTextFormat(Qt::PlainText);
    box->setText(shown + more);
    box->setDetailedText(text);
}

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
            run(QMessageBox::Information, r, true);
            return QMessageBox::Ok;
        case MessageBoxRequest::Warning:
            return run(QMessageBox::Warning, r);
        }
        return QMessageBox::NoButton;
    }

private:
    // NoButton when the parent took the box with it.
    // An about box shows the application's icon, as QMessageBox::about does.
    static QMessageBox::StandardButton run(QMessageBox::Icon icon, const MessageBoxRequest& r, bool about = false)
    {
        QPointer<QMessageBox> box = new QMessageBox(icon, r.title, QString(), QMessageBox::NoButton, r.parent,
                                                    Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
        box->setAttribute(Qt::WA_DeleteOnClose, false);
        box->setTextFormat(r.textFormat == Qt::RichText ? Qt::RichText : Qt::PlainText);
        box->setText(r.text);
        if (about) {
            const QIcon appIcon = box->windowIcon();
            box->setIconPixmap(appIcon.pixmap(appIcon.actualSize(QSize(64, 64))));
        }
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
        fitToScreen(box, r);
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
    return messagebox::show(request);
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

QMessageBox::StandardButton show(const MessageBoxRequest& request)
{
    return (g_handler ? g_handler : &g_real)->show(request);
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
