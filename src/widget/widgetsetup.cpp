#include "widgetsetup.h"

#include "widget/qss.h"

#include <QLabel>
#include <QLineEdit>
#include <QRegExpValidator>

void setLineEditDigits(QLineEdit* edit, int digits, bool enable, int)
{
    if (!enable || !edit)
        return;
    QString pattern;
    switch (digits) {
    case 9:
        pattern = QStringLiteral("[0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]");
        break;
    case 5:
        pattern = QStringLiteral("[0-9][0-9][0-9][0-9][0-9]");
        break;
    case 2:
        pattern = QStringLiteral("[0-9][0-9]");
        break;
    default:
        return;
    }
    edit->setValidator(new QRegExpValidator(QRegExp(pattern, Qt::CaseSensitive), edit));
}

void placeTextLabel(const Qss* style, QWidget* parent, QLabel* label, int width, int height, int x, int y,
                    const QString& text, int size, const QColor& colour)
{
    if (!label)
        return;
    label->setParent(parent);
    label->resize(width, height);
    label->move(x, y);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    if (style) {
        style->setTextLabelStyle2(label, size, 50, colour);
    } else {
        const Qss own;
        own.setTextLabelStyle2(label, size, 50, colour);
    }
    label->show();
}

void placeTextLabel(QWidget* parent, QLabel* label, int width, int height, int x, int y, const QString& text,
                    int size, const QColor& colour)
{
    placeTextLabel(nullptr, parent, label, width, height, x, y, text, size, colour);
}
