#pragma once
// The firmware upgrade's progress ring: two arcs around a label reading "UPDATE", "WAIT" or a percentage.
#include <QColor>
#include <QWidget>

class QLabel;

class Schedule : public QWidget {
public:
    explicit Schedule(QWidget* parent = nullptr);
    ~Schedule() override;

    // On: "WAIT" in blue and the arcs follow the wait angle; off: the ready look.
    void setWait(bool on);
    // text in the wait colour over the arcs as they are: the image is in, the keyboard restarts.
    void setRestarting(const QString& text);
    // "UPDATE" in red; the arcs change at the next paint.
    void setLabelReadyUpdate();
    // n percent, clamped to 0..100: label and arc colour from red (0) to teal (100), repainted at once;
    // nothing happens when the label already shows n percent.
    void setProgress(int n);
    // The wait animation's position, v modulo 360; repainted at once.
    void setAngle(int v);

    QLabel* label() const { return m_label; }
    int progress() const { return m_progress; }
    QColor color() const { return m_color; }
    bool isWaiting() const { return m_wait; }
    int angle() const { return m_angle; }

    static const QColor Teal;
    static const QColor WaitBlue;
    static const QColor WaitText;
    static const QColor ReadyRed;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_label = nullptr;
    int m_progress = 0;
    QColor m_color; // invalid until a look sets it: painted as opaque black
    bool m_wait = false;
    bool m_showsPercent = false; // the label reads m_progress percent
    int m_angle = 0;
};
