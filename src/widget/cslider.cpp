#include "cslider.h"

#include <QBoxLayout>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>

#include <climits>
#include <cmath>

namespace {
int clampToInt(qint64 v)
{
    return int(qBound<qint64>(INT_MIN, v, INT_MAX));
}
} // namespace

CSlider::CSlider(QWidget* parent)
    : QWidget(parent)
{
    m_slider = new QSlider(Qt::Orientation(m_orientation), this);
    m_slider->installEventFilter(this);
    m_slider->setCursor(Qt::PointingHandCursor);
    setSliderStyle();

    m_valueLabel = new QLabel(this);
    m_valueLabel->setAlignment(Qt::AlignCenter);
    m_valueLabel->setMinimumWidth(textAdvance(QStringLiteral("99")));

    m_layout = new QBoxLayout(QBoxLayout::TopToBottom);
    m_layout->addWidget(m_slider);
    m_layout->addWidget(m_valueLabel);
    m_layout->setContentsMargins(0, 0, 0, 0);
    setLayout(m_layout);

    // The side label is the strip the floating label moves in.
    m_titleLabel = new QLabel(m_valueLabel);
    m_titleLabel->setAlignment(Qt::AlignCenter);
    m_titleLabel->setText(QString());
    m_titleLabel->setVisible(true);

    if (parent)
        m_slider->setMinimumWidth(parent->minimumSize().width());

    connect(m_slider, &QSlider::valueChanged, this, &CSlider::ValueChangeSlot);
    connect(m_slider, &QSlider::sliderReleased, this, &CSlider::sliderReleasedSlot);
}

CSlider::~CSlider()
{
    disconnectSlider();
    if (m_layout) {
        m_layout->removeWidget(m_slider);
        m_layout->removeWidget(m_titleLabel);
        m_layout->removeWidget(m_valueLabel);
    }
    // The floating label is the side label's child: it goes first.
    delete m_slider;
    delete m_titleLabel;
    delete m_valueLabel;
    delete m_layout;
}

void CSlider::disconnectSlider()
{
    disconnect(m_slider, &QSlider::valueChanged, this, &CSlider::ValueChangeSlot);
    disconnect(m_slider, &QSlider::sliderReleased, this, &CSlider::sliderReleasedSlot);
}

int CSlider::textAdvance(const QString& text) const
{
    return QFontMetrics(font()).horizontalAdvance(text);
}

void CSlider::setMaximum(int maximum)
{
    const int w = textAdvance(QString::number(maximum));
    m_maximum = maximum;
    m_slider->setMaximum(maximum);
    if (!m_floating && w > m_valueLabel->minimumSize().width())
        m_valueLabel->setMinimumWidth(w);
}

void CSlider::setMinimum(int minimum)
{
    m_minimum = minimum;
    m_slider->setMinimum(minimum);
}

void CSlider::setPageStep(int step)
{
    m_slider->setPageStep(step);
}

void CSlider::setSingleStep(int step)
{
    m_slider->setSingleStep(step);
}

void CSlider::setSliderStyle()
{
    m_slider->setStyleSheet(QStringLiteral(
        "QSlider::groove{ border: none; height: 6px; border-radius: 3px; background: lightgray; }"
        "QSlider::handle{ border: none; margin: -4px 0px; width: 14px; height: 14px; border-radius: 7px; "
        "background: rgb(91,209,183); }"
        "QSlider::sub-page{ background: rgb(91,209,183); height: 4px; border-radius: 3px; }"
        "QSlider::add-page{ background: lightgray; height: 4px; border-radius: 3px; }"
        "QSlider::sub-page:disabled{ background: rgb(90,90,90); border-color: rgb(90,90,90); }"
        "QSlider::add-page:disabled{ background: rgb(90,90,90); border-color: rgb(90,90,90); }"
        "QSlider::handle:disabled{ background: rgb(120,120,120); }"));
}

void CSlider::setSliderStyleSheet(const QString& styleSheet)
{
    m_slider->setStyleSheet(styleSheet);
}

void CSlider::setValue(int value)
{
    m_slider->setValue(value);
    updateValueText();
}

int CSlider::value() const
{
    return m_slider->value();
}

void CSlider::setOrientation(int orientation)
{
    if (orientation != Qt::Horizontal && orientation != Qt::Vertical)
        return;
    m_orientation = orientation;
    m_slider->setOrientation(Qt::Orientation(orientation));
}

void CSlider::setShowValue(bool show)
{
    m_showValue = show;
    if (!show) {
        m_valueLabel->clear();
        m_titleLabel->clear();
    } else if (m_floating) {
        m_valueLabel->clear();
        m_titleLabel->raise();
    } else {
        m_titleLabel->clear();
        m_valueLabel->raise();
    }
    updateValueText();
}

void CSlider::setDirection(int direction)
{
    if (direction < QBoxLayout::LeftToRight || direction > QBoxLayout::BottomToTop)
        return;
    m_floating = direction > QBoxLayout::RightToLeft;
    m_layout->setDirection(QBoxLayout::Direction(direction));
    m_valueLabel->setMinimumWidth(textAdvance(QStringLiteral("99")));
    setShowValue(m_showValue);
}

void CSlider::setTitle(const QString& title)
{
    m_title = title;
    updateValueText();
}

void CSlider::setUnit(const QString& unit)
{
    m_unit = unit;
    updateValueText();
}

void CSlider::setSliderEnabled(bool enabled)
{
    setCursor(enabled ? Qt::ArrowCursor : Qt::ForbiddenCursor);
    m_slider->setEnabled(enabled);
    m_titleLabel->setEnabled(enabled);
}

int CSlider::floatingX(int value, int minimum, int maximum, int sliderWidth, int labelWidth)
{
    const qint64 range = qint64(maximum) - minimum;
    if (range == 0)
        return 0;
    // 64-bit so that wide ranges cannot overflow; the same result as the 32-bit placement wherever that fits.
    return clampToInt((qint64(value) - minimum - 10) * (qint64(sliderWidth) - labelWidth + 20) / range);
}

bool CSlider::jumpPosition(int x, int maximum, int width, int handleWidth, int* position)
{
    if (width <= 0 || !position)
        return false;
    const int half = width / 2;
    // The right half leans towards the end by up to half a handle, so the far end can be reached.
    const double p = x <= half ? double(x) * maximum / width
                               : double(maximum) * (x + double(handleWidth) * (x - half) / width) / width;
    *position = int(qBound<double>(INT_MIN, std::trunc(p), INT_MAX));
    return true;
}

void CSlider::updateValueText()
{
    const QString text = m_title + QString::number(m_slider->value()) + m_unit;
    // Measured in the font of the label that shows it: a style sheet may give that label its own.
    QLabel* shown = m_floating ? m_titleLabel : m_valueLabel;
    shown->ensurePolished();
    const int w = shown->fontMetrics().horizontalAdvance(text);
    if (m_floating) {
        m_titleLabel->setText(text);
        m_titleLabel->setMinimumWidth(w);
        m_titleLabel->setMaximumWidth(w);
        const int x = floatingX(m_slider->value(), m_slider->minimum(), m_slider->maximum(), m_slider->width(),
                                m_titleLabel->width());
        m_titleLabel->move(x, m_titleLabel->y());
    } else {
        m_valueLabel->setText(text);
        if (w > m_valueLabel->minimumSize().width()) {
            m_valueLabel->setMinimumWidth(w);
            m_valueLabel->setMaximumWidth(w);
        }
    }
}

bool CSlider::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_slider || m_slider->testAttribute(Qt::WA_Disabled))
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::MouseButtonPress) {
        auto* press = static_cast<QMouseEvent*>(event);
        if (press->button() != Qt::LeftButton)
            return QWidget::eventFilter(watched, event);
        const int x = qRound(press->localPos().x());
        QStyleOptionSlider option;
        const int handle =
            m_slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle).width();
        int position = 0;
        if (jumpPosition(x, m_slider->maximum(), m_slider->width(), handle, &position))
            m_slider->setSliderPosition(position);
        // The slider's own press handling then starts a drag from the new handle place.
        return false;
    }
    if (event->type() == QEvent::Wheel && !m_wheelEnabled)
        return true;
    return QWidget::eventFilter(watched, event);
}

void CSlider::ValueChangeSlot(int value)
{
    if (m_showValue)
        updateValueText();
    emit sliderValueChanged(value);
}

void CSlider::sliderReleasedSlot()
{
    emit sliderReleased();
}
