#pragma once
// The "LED COLOR" panel: 38 custom colour buttons kept in config/customcolor/color_btn_32.json.
#include <QColor>
#include <QList>
#include <QVector>
#include <QWidget>

#include <memory>

class QPushButton;
class QTimer;
class Ui_Palette;

class Palette : public QWidget {
    Q_OBJECT
public:
    explicit Palette(QWidget* parent);
    ~Palette() override;

    // The armed colour; invalid while nothing is armed.
    QColor getCurrentColor() const;
    // Disarms and drops the colour cursor the main window gave the palette.
    void unsetColorCursor();
    // 0 Chinese, any other value English.
    void setLanguage(int language);

    // Paints one swatch at alpha 200; an empty or unparsable name paints black.
    static void setButtonColor(QPushButton* button, const QString& colorName);

signals:
    void emitCursorColor(QColor* color);
    void emitButtonPressed();

private slots:
    void timerPressedSlot();
    void customColorDoubleClickedSlot();

private:
    void initCustomColorButtons();
    QByteArray openJsonColor();
    // Reads the colour file: every colour that reads takes its swatch, the rest stay white. A file that
    // is there and does not read whole is told to the user, once a run.
    void analyJson();
    // The colours of a file that does not parse, from its complete pairs; returns how many.
    int salvageColors(const QByteArray& text);
    void writeJson();
    // Counts a press on button k and arms its colour, through the colour dialog on a second press
    // within the press interval. Null when the palette was deleted while the dialog ran.
    std::unique_ptr<QColor> selectColor(int k);
    QString filePath() const;

    Ui_Palette* ui = nullptr;
    std::unique_ptr<QColor> m_currentColor;
    QTimer* m_pressTimer = nullptr;
    quint16 m_pressCount = 0;
    QVector<QColor> m_colors;
    QList<QPushButton*> m_buttons;
    // The file did not read whole: a copy of it is kept before the first write.
    bool m_keepBeforeWrite = false;
};
