#pragma once
// A frameless white panel with rounded corners that opens under a button and holds a column of widgets.
#include <QFrame>

class QEvent;
class QSize;

class Popup : public QFrame {
    Q_OBJECT

public:
    explicit Popup(QWidget* parent = nullptr);
    ~Popup() override;

    // Adds widget below the ones already added, 5 px from the edges, and fits the popup around it.
    void setContentWidget(QWidget* widget);
    // The popup and its inner frame together.
    void resize(int width, int height);
    void resize(const QSize& size);

    QFrame* innerFrame() const { return m_frame; }
    int contentCount() const { return m_count; }
    // Whether a popup of this process has already had its native window class changed.
    static bool shadowRemoved() { return s_shadowRemoved; }

protected:
    bool event(QEvent* event) override;

private:
    QFrame* m_frame = nullptr;
    int m_count = 0;

    // The native drop shadow belongs to the window class, so it is removed once per process.
    static bool s_shadowRemoved;
};
