#pragma once
// The lighting page: the colour palette above the slot picker, keeping one kind of paint armed.
#include <QWidget>

class Device;
class Mode;
class Palette;

// The page's form: size and title only; the panels are made in code.
struct Ui_Color {
    void setupUi(QWidget* color);
};

class Color : public QWidget {
    Q_OBJECT

public:
    static constexpr int PageWidth = 910;
    static constexpr int PageHeight = 350;

    Color(QWidget* parent, Device* device);
    ~Color() override;

    Palette* paletteWidget() const { return m_palette; }
    Mode* modeWidget() const { return m_mode; }

    // The palette's and the mode panel's selection rows are taller than one row by these many
    // pixels: what lies below each row moves down by it, and the page grows by both.
    void makeRoomForRows(int paletteExtra, int modeExtra);

signals:
    void emitUnsetCursor();

public slots:
    void paletteButtonPressed();
    void modeButtonPressed();

private:
    void createPalette();
    void createMode();

    Palette* m_palette = nullptr;
    Mode* m_mode = nullptr;
    Ui_Color* ui;
    Device* m_device;
};
