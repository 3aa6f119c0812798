#pragma once
// The lower panel of the lighting page: the 32 lighting slots, one of them armed as paint, and the
// parameter dialog of a double-clicked slot.
#include "color/parameter.h"
#include "widget/qss.h"

#include <QList>
#include <QPointer>
#include <QWidget>

class Device;
class PushButton;
class QGroupBox;
class QHBoxLayout;
class QSpacerItem;
class QVBoxLayout;

// The picker's form: layouts and spacers that keep the slot group centred at the top.
struct Ui_Mode {
    QHBoxLayout* horizontalLayout = nullptr;
    QSpacerItem* horizontalSpacer = nullptr;
    QVBoxLayout* verticalLayout = nullptr;
    QGroupBox* groupBoxCustom = nullptr;
    QSpacerItem* verticalSpacer = nullptr;
    QSpacerItem* horizontalSpacer_2 = nullptr;

    void setupUi(QWidget* mode);
};

class Mode : public QWidget {
    Q_OBJECT

public:
    static constexpr int SlotCount = 32;

    Mode(QWidget* parent, Device* device);
    ~Mode() override;

    void setLanguage(int language);
    void clearSelection();
    int currentIndex() const { return m_currentIndex; }

    const QList<PushButton*>& buttons() const { return m_buttons; }
    QGroupBox* groupBox() const;
    Parameter* parameter() const { return m_parameter; }

signals:
    void emitButtonPressed();
    void emitCursorMode(int slot);

public slots:
    void buttonPressed();
    void buttonDoubleClicked(PushButton* button);
    void parameterCloseSlot();

private:
    void createButtons();

    Ui_Mode* ui;
    QList<PushButton*> m_buttons;
    Qss m_qss;
    int m_currentIndex = -1;
    Device* m_device;
    // Guarded: the dialog may already be on its way out when the picker goes.
    QPointer<Parameter> m_parameter;
};
