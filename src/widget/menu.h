#pragma once
// The popup menu of the tool: white, rounded and frameless, with a translucent window around the frame.
#include <QMenu>

class Menu : public QMenu {
    Q_OBJECT
public:
    explicit Menu(QWidget* parent = nullptr);
    Menu(const QString& title, QWidget* parent = nullptr);

protected:
    bool event(QEvent* event) override;

private:
    void initStyle();

    // The native drop shadow belongs to the window class, so it is removed once per process.
    static bool s_shadowRemoved;
};
