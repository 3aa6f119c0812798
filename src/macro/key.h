#pragma once
// A key event chip of the macro editor: a 28 x 40 key-down or key-up picture owning its event record,
// with a delay edit and small icon buttons around it. It makes no editing decision: every user action
// goes to the timeline through its signals.
#include "widget/data.h"
#include "widget/label.h"
#include "widget/lineedit.h"
#include "widget/qss.h"

#include <QLabel>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QSvgRenderer>
#include <QTimer>
#include <cstdint>

struct DataKey;

class Key : public QLabel, public StaticKeyTarget {
    Q_OBJECT

public:
    // status 1 is a key-down, 0 a key-up. The buttons and the edit are children of parent (the
    // timeline's content), placed around the chip.
    Key(QWidget* parent = nullptr, int status = 1);
    ~Key() override;

    // The largest delay the record holds; the edit refuses more.
    static constexpr uint MaxDelay = 65535;

    // Writes ms into the edit and the record; shows the edit for a non-zero value, hides it for 0.
    void setDelay(uint ms);
    // The edit's number (not the record's), 0 when empty.
    uint getDelay() const;

    uint16_t code() const override;
    uint16_t type() const override;
    uint16_t stype() const override;
    int status() const;
    // The event, for the encoder and the file writer. Owned by the chip.
    DataKey* record() const { return m_record; }
    void setKeyCode(uint16_t type, uint16_t stype, uint16_t code);

    void setKeyInfo(const QString& name, const QString& alias, const QString& image) override;
    QString name() const { return m_name; }
    QString alias() const { return m_alias; }
    QString image() const { return m_image; }

    // Only a change restyles the background.
    void setSelected(bool selected);
    bool isSelected() const { return m_selected; }
    // The background image and its hover image from the "macro" image folder (the warning look).
    void setLook(const QString& normal, const QString& hover);
    bool isTimeLabelHidden() const;
    bool isDelayEditHidden() const;
    void setTimeText(uint ms);
    QString timeText() const;

    // Each shows only a hidden part and hides only a shown one. The add-delay button shows only while
    // the chip has no delay edit.
    void showDelDelayButton();
    void hideDelDelayButton();
    void showAddDelayButton();
    void hideAddDelayButton();
    void showAddKeyButton();
    void hideAddKeyButton();
    void showDelKeyButton();
    void hideDelKeyButton();
    void showDot();
    void hideDot();
    void showTimeLabel();
    void hideTimeLabel();
    void showPervButton();
    void hidePervButton();
    void showNextButton();
    void hideNextButton();

    // Connects or disconnects the edit's text changes from the record.
    void setDelayTracking(bool on);
    // Not selected, every button and label hidden (the edit stays).
    void resetState();
    // Places the chip (and its edit and buttons) at x on the timeline's content; returns the next x.
    int placeAt(int x);
    // Hides the chip with its edit and buttons and silences its signals: for a chip already out of
    // the list that is deleted later.
    void retire();

    // The parts, for the timeline's tests and the screenshots.
    LineEdit* delayEdit() const { return m_delayEdit; }
    Label* delDelayButton() const { return m_delDelay; }
    Label* addDelayButton() const { return m_addDelay; }
    Label* addKeyButton() const { return m_addKey; }
    Label* delKeyButton() const { return m_delKey; }
    Label* dot() const { return m_dot; }
    Label* timeLabel() const { return m_timeLabel; }
    Label* pervButton() const { return m_perv; }
    Label* nextButton() const { return m_next; }

signals:
    void keyPressed(Key* key);
    void delayEditPressed(Key* key);
    void updateKeyMoveX();
    void hideDelayAddButtonAll();
    void hideAddKeyButtonAll();
    void hideDelKeyButtonAll();
    void hidePervNextButtonAll();
    void createKeyButtonPressed(Key* key);
    void deleteKeyButtonPressed(Key* key);
    void doubleClicked(Key* key);
    void updateTotalTime(Key* key);
    void pervPressed(Key* key);
    void nextPressed(Key* key);
    void delayHideButtonPressed(Key* key);

public slots:
    void delayLineEditPressed();
    void hideDelayLineEdit();
    void showDelayLineEdit();
    void addKeyButtonPressed();
    void delKeyButtonPressed();
    void pervButtonPressed();
    void nextButtonPressed();
    void setMoveAcation();
    void delayEidtChanged();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    Label* makeButton(int width, int height, const QString& normal, const QString& hover);
    void showPart(QWidget* part) const;
    static void hidePart(QWidget* part);

    // Children of the chip's parent, which may delete them before the chip.
    QPointer<Label> m_delDelay;
    QPointer<Label> m_addDelay;
    QPointer<Label> m_addKey;
    QPointer<Label> m_delKey;
    QPointer<Label> m_dot;
    QPointer<Label> m_timeLabel;
    QPointer<Label> m_perv;
    QPointer<Label> m_next;
    QPointer<LineEdit> m_delayEdit;
    Qss m_qss;
    DataKey* m_record = nullptr;
    QString m_name;
    QString m_image;
    QString m_alias;
    QSvgRenderer m_renderer;
    QString m_loadedImage;
    bool m_selected = true;
    QPoint m_dragOrigin;
    int m_cursorOffset = 0;
    bool m_moving = false;
    bool m_draggable = true;
    QTimer m_moveTimer;
    bool m_toPrevious = true;
};
