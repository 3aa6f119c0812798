#pragma once
// A slider with its value as text beside it or floating under the handle, with press-to-jump and a wheel lock.
#include <QWidget>

class QBoxLayout;
class QLabel;
class QSlider;

class CSlider : public QWidget {
    Q_OBJECT
public:
    explicit CSlider(QWidget* parent = nullptr);
    ~CSlider() override;

    QSlider* slider() const { return m_slider; }
    QLabel* titleLabel() const { return m_titleLabel; } // the floating label
    QLabel* valueLabel() const { return m_valueLabel; } // the side label
    QBoxLayout* boxLayout() const { return m_layout; }

    void setMaximum(int maximum);
    void setMinimum(int minimum);
    void setPageStep(int step);
    void setSingleStep(int step);
    void setSliderStyle();
    void setSliderStyleSheet(const QString& styleSheet);
    void setValue(int value);
    int value() const;
    // The copies kept by the setters; the slider's own range is what the placement and the jump read.
    int maximum() const { return m_maximum; }
    int minimum() const { return m_minimum; }
    void setWheelEnabled(bool enabled) { m_wheelEnabled = enabled; }
    void setOrientation(int orientation);
    void setShowValue(bool show);
    // Top-to-bottom and bottom-to-top float the text under the slider; left-to-right and right-to-left
    // put it in the side label.
    void setDirection(int direction);
    void setTitle(const QString& title);
    void setUnit(const QString& unit);
    void setSliderEnabled(bool enabled);
    bool isSliderEnabled() const { return isEnabled(); }
    void updateValueText();

    bool eventFilter(QObject* watched, QEvent* event) override;

    // The floating label's x in the side label; 0 for an empty range.
    static int floatingX(int value, int minimum, int maximum, int sliderWidth, int labelWidth);
    // The position a left press at x jumps to; false when the slider has no width (no jump).
    static bool jumpPosition(int x, int maximum, int width, int handleWidth, int* position);

signals:
    void sliderValueChanged(int value);
    void sliderReleased();

private slots:
    void ValueChangeSlot(int value);
    void sliderReleasedSlot();

private:
    void disconnectSlider();
    int textAdvance(const QString& text) const;

    QSlider* m_slider = nullptr;
    QLabel* m_titleLabel = nullptr;
    int m_orientation = Qt::Horizontal;
    QString m_title;
    QString m_unit;
    int m_maximum = 99;
    int m_minimum = 0;
    bool m_floating = true;
    bool m_showValue = false;
    bool m_wheelEnabled = true;
    QLabel* m_valueLabel = nullptr;
    QBoxLayout* m_layout = nullptr;
};
