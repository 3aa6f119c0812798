#pragma once
// The dialog that tunes one lighting mode slot's action record and sends it to the keyboard.
#include "color/modeparameter.h"
#include "widget/cslider.h"
#include "widget/qss.h"

#include <QCheckBox>
#include <QColor>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPoint>
#include <QPushButton>
#include <QRadioButton>
#include <QRectF>
#include <QVector>

class ComboBox;
class Device;
class QCloseEvent;
class QMouseEvent;
class QPaintEvent;
struct la_t;

class Parameter : public QDialog {
    Q_OBJECT

public:
    // One level row: its label, its slider, the range its setter accepts and the value it last took.
    struct Level {
        QLabel label;
        CSlider slider;
        int minimum = 0;
        int maximum = 63;
        int value = 0;
    };

    // device may be null, and slot outside its table: the dialog then shows its defaults and cannot apply.
    Parameter(QWidget* parent, Device* device, int slot);
    ~Parameter() override;

    // Asks the owner to close the dialog, as the close button does.
    void requestClose();
    int initComboBoxData(const QString& fileName);
    void loadLAItem(Device* device);
    void applyModeDefaults(int index);
    void downloadData();
    void setTotalPeriodEnabled(bool enabled);
    void updateLevelStepRange();

    // Tests only: forgets the last accepted texts of the total period and delay fields.
    static void forgetAcceptedTexts();

signals:
    void emitClose();

public slots:
    void reject() override;

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private slots:
    void cycleFlagChange(bool checked);
    void totalPeriosTimesEditChanged(QString text);
    void colorRandomChange(bool checked);
    void randomColorThenKeypressChange(bool checked);
    void comboboxChangedMode(int index);
    void highestDelayEidtTextChanged(QString text);
    void periodDelayEidtTextChanged(QString text);
    void confirmButtonPressed();
    void sliderReleasedHLChangedSlot(int value);
    void sliderReleasedLLChangedSlot(int value);
    void sliderReleasedLSChangedSlot(int value);
    void sliderReleasedLDChangedSlot(int value);
    void SetLanguage(int language);

private:
    // The slot's record in the device's table; null when there is no device, table or such slot.
    la_t* record(Device* device) const;
    // Names the controls, so that tests and style sheets can find them.
    void nameControls();
    void placeLabel(QLabel* label, int width, int height, int x, int y, Qt::Alignment alignment);
    void buildLevel(Level& level, int x, int y, int sliderWidth, int maximum, int value);
    void buildDelay(QLabel* label, QLineEdit* edit, QLabel* unit, int x, int y, int unitSize);
    // Sets the accepted range and the slider's (maximum first, so a shrinking range clamps once).
    void setLevelRange(Level& level, int minimum, int maximum);

    QLabel m_title;
    Qss m_qss;
    Qss m_qss2;
    Device* m_device = nullptr;
    QCheckBox m_colorRandom;
    QCheckBox m_keypressRandom;
    QCheckBox m_cycleFlag;
    QLineEdit m_totalPeriod;
    QLabel m_totalPeriodLabel;
    QLabel m_totalPeriodRange;
    Level m_highest;
    Level m_lowest;
    Level m_step;
    Level m_stepDelay;
    QLabel m_directionLabel;
    QRadioButton m_l2h;
    QRadioButton m_h2l;
    QFrame m_levelFrame;
    QLabel m_levelTitle;
    QLabel m_highestDelayLabel;
    QLabel m_periodDelayLabel;
    QLineEdit m_highestDelay;
    QLineEdit m_periodDelay;
    QLabel m_highestDelayUnit;
    QLabel m_periodDelayUnit;
    int m_slot = 0;
    QPushButton m_apply;
    QPushButton m_cancel;
    QRectF m_titleRect{0, 0, 0, 0};
    QPushButton m_closeButton;
    QPoint m_dragOffset;
    bool m_dragging = false;
    QColor m_textColour{0x5a, 0x5a, 0x5a};
    QLabel m_effectLabel;
    ComboBox* m_effectList = nullptr;
    QVector<ModeParameter> m_modes;
    bool m_closeRequested = false; // emitClose went out: a later close only hides
};
