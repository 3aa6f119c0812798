#pragma once
// The keyboard matrix layout editor: binds the key caps of an imported layout to cells of the switch matrix.
#include "widget/data.h"
#include "widget/qss.h"

#include <QColor>
#include <QDialog>
#include <QPoint>
#include <QPointer>
#include <QRectF>
#include <QVector>

class Block;
class Device;
class KeyBtn;
class Network;
class QCloseEvent;
class QFileDialog;
class QFrame;
class QKeyEvent;
class QLabel;
class QMouseEvent;
class QPaintEvent;
class QPushButton;
class QScrollArea;
class QScrollBar;
class Slider;

// Bindings live only in the key caps and the grid cells: Apply logs them, nothing reaches the keyboard
// or a file. The settings page deletes the dialog when it emits emitClose().
class BuildingBlock : public QDialog {
    Q_OBJECT

public:
    // Matrix sizes and pixels per key unit a board record may give; others make no grid.
    static constexpr int MaxMatrixLines = 256;

    BuildingBlock(QWidget* parent, Device* device);
    ~BuildingBlock() override;

    // Places the imported key caps by the board record at index of the dialog's own reader.
    void createKeyboard(int index);
    // Writes every key cap's binding to the log.
    bool downloadData();

    Network* network() const { return m_network; }
    const QVector<KeyBtn*>& keyBtns() const { return m_keyBtns; }
    KeyBtn* selectedKey() const { return m_selectedKey; }
    QRectF titleRect() const { return m_titleRect; }

signals:
    void emitClose();

public slots:
    void applyButtonPressed();
    void openJsonFileSlot();
    void fileSelectedSlot(const QString& path);
    void clickKeyBtnSlot(KeyBtn* key);
    void unsetCursorKeySlot();
    void networkBlockLeftPressed(Block* block);
    void networkBlockRightPressed();
    void showNetwordPointSlot(int row, int col);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    struct Form {
        QFrame* keyboardLayout = nullptr;
        QScrollArea* scrollArea = nullptr;
        QWidget* scrollAreaWidgetContents = nullptr;
    };

    void setupForm();
    void createControls();
    void createSliders();
    void createNetwork();
    void placeNetwork();
    void setContentWidth(int width);
    void setContentHeight(int height);
    // Apply, Cancel and the sliders follow the dialog's height and the scroll area's place.
    void placeControls();
    // The index of the first record named as the keyboard's board, when that record can make a
    // grid; -1 otherwise (logged).
    int usableRecord(const QVector<BoardInfo*>& records) const;

    Form* m_form = nullptr;
    QPointer<Device> m_ptrDevice;
    QPushButton* m_closeButton = nullptr;
    QPushButton* m_applyButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QPushButton* m_importButton = nullptr;
    QLabel* m_titleLabel = nullptr;
    Qss m_qss;
    Data m_data;
    QColor m_buttonTextColor = QColor(90, 90, 90);
    QRectF m_titleRect;
    QPoint m_dragWindowPos;
    QPoint m_dragOffset;
    bool m_dragging = false;
    QFileDialog* m_fileDialog = nullptr;
    QVector<KeyBtn*> m_keyBtns;
    KeyBtn* m_previousKey = nullptr;
    KeyBtn* m_selectedKey = nullptr;
    Network* m_network = nullptr;
    QScrollBar* m_vScrollBar = nullptr;
    QScrollBar* m_hScrollBar = nullptr;
    Slider* m_vSlider = nullptr;
    Slider* m_hSlider = nullptr;
    bool m_imported = false;
    // Set by the first emitClose(): a later window close only hides, so the page's own close after
    // deleting never re-enters it.
    bool m_closeEmitted = false;
};
