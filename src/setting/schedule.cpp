#include "schedule.h"

#include "widget/qss.h"

#include <QDebug>
#include <QLabel>
#include <QPainter>

const QColor Schedule::Teal(91, 209, 183);
const QColor Schedule::WaitBlue(0, 125, 255);
const QColor Schedule::WaitText(0, 80, 255);
const QColor Schedule::ReadyRed(255, 0, 0);

namespace {
constexpr int Side = 90;
constexpr int LabelWidth = 68;
constexpr int LabelHeight = 25;
} // namespace

Schedule::Schedule(QWidget* parent)
    : QWidget(parent)
{
    resize(Side, Side);
    m_label = new QLabel(this);
    m_label->resize(LabelWidth, LabelHeight);
    m_label->setAlignment(Qt::AlignCenter);
    m_label->move(Side / 2 - LabelWidth / 2, Side / 2 - LabelHeight / 2);
    m_label->show();
}

Schedule::~Schedule()
{
    delete m_label;
}

void Schedule::setWait(bool on)
{
    m_wait = on;
    if (!on) {
        setLabelReadyUpdate();
        return;
    }
    m_showsPercent = false;
    m_label->setText(QStringLiteral("WAIT"));
    Qss().setLabelStyle(m_label, WaitText, 18, 75);
}

void Schedule::setRestarting(const QString& text)
{
    m_showsPercent = false;
    m_label->setText(text);
    Qss().setLabelStyle(m_label, WaitText, 11, 75);
    repaint();
}

void Schedule::setLabelReadyUpdate()
{
    qDebug() << __LINE__ << "set label ready update.";
    m_progress = 0;
    m_showsPercent = false;
    m_label->clear();
    m_label->setText(QStringLiteral("UPDATE"));
    m_color = ReadyRed;
    Qss().setLabelStyle(m_label, m_color, 14, 75);
    qDebug() << __LINE__ << m_label->text();
}

void Schedule::setProgress(int n)
{
    // A percentage outside 0..100 can only come from a wrong byte count: show the nearest end rather
    // than a colour out of range.
    n = qBound(0, n, 100);
    // An upload reports every packet: only a new percentage restyles the label and repaints.
    if (m_showsPercent && n == m_progress)
        return;
    m_showsPercent = true;
    m_label->setText(QString::number(n) + QLatin1Char('%'));
    m_color = QColor(255 + (-164 * n) / 100, (209 * n) / 100, (183 * n) / 100, 255);
    Qss().setLabelStyle(m_label, m_color, 23, 75);
    m_progress = n;
    repaint();
}

void Schedule::setAngle(int v)
{
    m_angle = v % 360;
    repaint();
}

void Schedule::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setBrush(Qt::NoBrush);
    const QRectF ring(3, 3, width() - 6, height() - 6);
    const int x = m_wait ? m_angle : m_progress;
    const int sweep = (x * 360) / 100;
    const auto arc = [&](const QColor& colour, int span) {
        painter.setPen(QPen(QBrush(colour), 3.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        painter.drawArc(ring, 90 * 16, span * 16); // from 12 o'clock; negative spans run clockwise
    };
    arc(Teal, -sweep);
    arc(m_wait ? WaitBlue : m_color, 360 - sweep);
}
