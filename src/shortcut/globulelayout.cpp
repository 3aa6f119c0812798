#include "globulelayout.h"

#include "widget/qss.h"

#include <QDebug>
#include <QPushButton>

namespace {
constexpr int FirstX = 23;
constexpr int ButtonSize = 22;
constexpr int ButtonGap = 10;
}

GlobuleLayout::GlobuleLayout(QWidget* parent, int count) : QLabel(parent)
{
    createGlobules(count);
}

GlobuleLayout::~GlobuleLayout() = default;

void GlobuleLayout::createGlobules(int count)
{
    const int room = MaxGlobules - m_buttons.size();
    if (count > room) {
        qDebug() << "key maps without a selector (the mask holds" << MaxGlobules << "): count =" << count;
        count = room;
    }
    for (int i = 0; i < count; ++i) {
        auto* button = new QPushButton(this);
        button->setText(QString::number(m_buttons.size()));
        m_buttons.append(button);
    }
}

void GlobuleLayout::initGlobules(const QVector<bool>& states, int width, int height)
{
    resize(width, height);
    int x = FirstX;
    for (int i = 0; i < m_buttons.size(); ++i) {
        QPushButton* button = m_buttons[i];
        button->resize(ButtonSize, ButtonSize);
        button->setCheckable(true);
        button->move(x, this->height() / 2 - button->height() / 2);
        x += button->width() + ButtonGap;
        connect(button, &QPushButton::clicked, this, &GlobuleLayout::globuleClickedSlot, Qt::UniqueConnection);
        button->setChecked(states.value(i, false));
        Qss().setGlobuleStyle(button, button->isChecked());
    }
    setStyleSheet(QStringLiteral("QLabel{ image: ") + Qss().imageUrl(QStringLiteral("shortcut/"), QStringLiteral("globule-layout.svg"))
                  + QStringLiteral("; border-radius: 0px; }"));
}

void GlobuleLayout::states(QByteArray& target) const
{
    for (const QPushButton* button : m_buttons)
        target.append(button->isChecked() ? '1' : '0');
}

void GlobuleLayout::globuleClickedSlot(bool checked)
{
    auto* button = qobject_cast<QPushButton*>(sender());
    if (!button)
        return;
    Qss().setGlobuleStyle(button, checked);
    qDebug() << "globule clicked = " << button->text() << (checked ? "true" : "false");
    emit emitGlobuleChange();
}
