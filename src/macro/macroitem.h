#pragma once
// One entry of the macro page's list: a keyboard macro's chips on a timeline between two arrows, with
// a load-data button in the middle. It carries the slot number, the name and the entry's own default
// delay settings, and tells the page about clicks; it talks to no keyboard and no file.
#include "macro/datakey.h"
#include "widget/qss.h"

#include <QString>
#include <QVector>
#include <QWidget>

class KeyLayout;
class QFrame;
class QHBoxLayout;
class QPushButton;

class MacroItem : public QWidget {
    Q_OBJECT

public:
    static constexpr int ItemHeight = 158;

    // An empty name becomes "Macro" and the index.
    MacroItem(QWidget* parent, int index, QString name, bool modifyAllDefaultDelays, int defaultDelay);
    ~MacroItem() override;

    // The macro's chips; the page reads and changes them directly.
    KeyLayout* keyLayout() const { return m_pKeyLayout; }

    int index() const { return m_index; }
    void setIndex(int index) { m_index = index; }
    QString name() const { return m_name; }
    void setName(const QString& name) { m_name = name; }
    bool isSelected() const { return m_selected; }
    // Shows the arrows and the timeline's slider on the selected entry only.
    void setSelected(bool selected);
    void setArrowsVisible(bool visible);
    // Unsaved: a red dotted frame; saved: a white one. No mark until the first call.
    void setSaved(bool saved);
    bool hasSavedMark() const { return m_marked; }
    bool isSaved() const { return m_saved; }
    void setLeftEnabled(bool enabled);
    void setRightEnabled(bool enabled);
    void setLoadDataEnabled(bool enabled);
    // Shows the load-data button (the keyboard holds frames not loaded yet) or hides it.
    void setVisibleItem(bool visible);
    bool isLoadDataHidden() const;
    void setModifyAllDefaultDelayCheckBox(bool on);
    bool isModifyAllDefaultDelay() const { return m_modifyAllDefaultDelays; }
    // Writes ms into every chip that has a delay, and keeps it.
    void setDefaultDelay(uint ms);
    uint defaultDelay() const { return m_defaultDelay; }
    void setSliderVisible(bool visible);
    // The events the keyboard holds for this macro as far as the page knows (what it loaded or
    // downloaded last): chips that differ from them are the user's work, not on the keyboard.
    void setKeyboardEvents(const QVector<DataKey>& events) { m_keyboardEvents = events; }
    const QVector<DataKey>& keyboardEvents() const { return m_keyboardEvents; }

    QPushButton* leftButton() const { return m_leftButton; }
    QPushButton* rightButton() const { return m_rightButton; }
    QPushButton* loadDataButton() const { return m_loadDataButton; }
    QFrame* selectFrame() const { return m_selectFrame; }

signals:
    void emitSetSelect(MacroItem* item);
    void emitLoadData(MacroItem* item);

public slots:
    void leftButtonSlot();
    void rightButtonSlot();
    void keyLayoutPressed();
    void loadDataPressed();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void setupUi();

    KeyLayout* m_pKeyLayout = nullptr;
    // The form.
    QHBoxLayout* m_horizontalLayout = nullptr;
    QFrame* m_areaFrame = nullptr;
    QHBoxLayout* m_horizontalLayout2 = nullptr;
    QFrame* m_leftFrame = nullptr;
    QFrame* m_selectFrame = nullptr;
    QFrame* m_rightFrame = nullptr;
    QPushButton* m_leftButton = nullptr;
    QPushButton* m_rightButton = nullptr;

    Qss* m_qss = nullptr;
    int m_index = 0;
    QString m_name;
    bool m_selected = false;
    QPushButton* m_loadDataButton = nullptr;
    bool m_modifyAllDefaultDelays = false;
    uint m_defaultDelay = 0;
    bool m_marked = false;
    bool m_saved = false;
    QVector<DataKey> m_keyboardEvents;
};
