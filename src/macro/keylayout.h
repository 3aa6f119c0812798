#pragma once
// The editor of one macro: a horizontally scrolling strip of key event chips on a time axis. Its chip
// list is the macro, in event order; it keeps key-downs paired with their key-ups while the user
// inserts, deletes and moves events, edits delays and picks keys.
#include "widget/qss.h"

#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstdint>

class Key;
class KeyBtn;
class Label;
class QHBoxLayout;
class QScrollArea;
class QScrollBar;
class Slider;
class StaticDialog;

class KeyLayout : public QWidget {
    Q_OBJECT

public:
    explicit KeyLayout(QWidget* parent = nullptr);
    ~KeyLayout() override;

    // The macro's events in order. Owned: the timeline deletes its chips. The page appends chips made
    // by createKey and empties the list when it deletes them itself.
    QList<Key*> keys;

    // A new connected chip on the content, named from the static key file; not yet in the list.
    Key* createKey(int status, uint delay, uint16_t code, uint16_t type, uint16_t stype);
    // Appends key to the list and places it after the last chip, without placing the others again: a
    // long recording or draw costs the same per chip at the end as at the start. No eventsChanged.
    void appendKey(Key* key);
    // Removes every chip without a partner.
    void checkoutAllKeys();
    // Removes key when it has no partner; true when it did.
    bool checkoutKey(Key* key);
    // Gives 20 ms to a chip that follows the same key without delay.
    void checkoutKeyDelay();
    // The partner of a key-down is the first later chip of the same key with the other status; of a
    // key-up, the nearest earlier one. Null for an orphan.
    Key* findPairKey(Key* key) const;
    // Every chip whose delay is not 0 gets ms.
    void setAllDelay(uint ms);
    void resetAllKeys();
    void scrollToEnd();
    void scrollToStart();
    // The arrows' pressed() and released() scroll the strip while held.
    void bindScrollButtons(QWidget* left, QWidget* right);
    void setContentWidth(int width);
    void setSliderVisible(bool visible);

    // Parts and state, for the page and the tests.
    QWidget* contentWidget() const { return m_content; }
    QScrollArea* scrollArea() const { return m_scrollArea; }
    QScrollBar* scrollBar() const { return m_scrollBar; }
    Slider* slider() const { return m_slider; }
    StaticDialog* picker() const { return m_picker; }
    bool isWarning() const { return m_warningTimer.isActive(); }

    // The warning look on a pair for about 360 ms; a running warning first gives its pair back.
    void startWarningKeyMessage(Key* down, Key* up);

signals:
    void keyLayoutPressed();
    // The chips, their keys or their delays may have changed.
    void eventsChanged();

public slots:
    void leftPressed();
    void rightPressed();
    void leftReleased();
    void rightRelecased();
    void delayContinuation();
    void setKeyDelayEditCloseButtonAtherHide(Key* key);
    void keyPressed(Key* key);
    void updateKeyPoint();
    void setKeyDelayAddButtonHideAll();
    void setKeyAddKeyButtonHideAll();
    void setKeyDelKeyButtonHideAll();
    void setKeyPervNextButtonHideAll();
    void createDoubleKey(Key* key);
    void deleteDoubleKey(Key* key);
    void keyDoubleClicked(Key* key);
    void staticDialogHide();
    void staticDialogDoubleClicked(KeyBtn* btn);
    void updateTotalTime(Key* key);
    void keyPervPressed(Key* key);
    void keyNextPressed(Key* key);
    void keyDelayHideLineEdit(Key* key);
    void warningTimerAcation();

private:
    void buildAxis();
    void setKeyDuadSelect(Key* key);
    void showTotalTime(Key* key);
    // True (and the warning shown) when a and b are one key with different statuses.
    bool checkPairCross(Key* a, Key* b);
    void moveNextKey(Key* key);
    void setNormalLook(Key* down, Key* up);
    // Takes key out of the list at once and deletes it later: it may be inside its own signal.
    void removeKey(Key* key);
    void startRepeat(char direction);
    void stepScroll(int step);

    QHBoxLayout* m_horizontalLayout = nullptr;
    QScrollArea* m_scrollArea = nullptr;
    QWidget* m_content = nullptr;
    Qss m_qss;
    QScrollBar* m_scrollBar = nullptr;
    Slider* m_slider = nullptr;
    char m_direction = '+';
    QTimer* m_repeatTimer = nullptr;
    int m_repeatTicks = 0;
    Label* m_axisCentre = nullptr;
    Label* m_axisZero = nullptr;
    Label* m_axisLine = nullptr;
    Label* m_axisArrow = nullptr;
    Label* m_axisCaption = nullptr;
    StaticDialog* m_picker = nullptr;
    QTimer m_warningTimer;
    int m_warningTicks = 0;
    int m_nextX = 0; // where a chip appended after the last one goes
    QPointer<Key> m_warnedDown;
    QPointer<Key> m_warnedUp;
};
