#pragma once
// One key cap of a drawn keyboard: key code, legend, key-unit geometry, painting and mouse signals.
#include <QColor>
#include <QPushButton>
#include <QString>
#include <QSvgRenderer>
#include <cstdint>

class QEvent;
class QLabel;
class QMouseEvent;
class QPaintEvent;
class QTimer;

// Owners read and write the public fields directly (key code, geometry, `locked`, `toolTipEnabled`).
// The three texts are behind accessors: `name` and `image` have setters with side effects, and a
// C++ class can't hold a field and a function of the same name.
class KeyBtn : public QPushButton {
    Q_OBJECT

public:
    explicit KeyBtn(QWidget* parent = nullptr);

    // Key code, the three parts of a kc_t.
    uint16_t type = 0;
    uint16_t stype = 0;
    uint16_t code = 0;

    int macroIndex = -1;
    bool locked = false;
    bool disabled = false; // always !normal; a disabled key can't be picked in the static key picker

    // Key-unit geometry from the layout file; x2..h2 describe the second rectangle of an L-shaped key.
    // These hide QWidget::x()/y() on purpose: owners mean key units; pixels are pos().
    double x = 0, y = 0, h = 0, w = 0, w2 = 0, h2 = 0, x2 = 0, y2 = 0;

    QString label; // raw legend of the layout file entry; not painted
    int row = -1;
    int col = -1;
    QColor color = QColor(QStringLiteral("#ffffff"));
    bool fillBackground = true;
    int borderWidth = 2; // painter's inset: 2 normal, 3 selected
    bool normal = true;
    bool toolTipEnabled = true;
    QSvgRenderer svgRenderer;
    bool lShapeA = false;
    bool lShapeB = false;
    QLabel* borderLabelA = nullptr;
    QLabel* borderLabel1 = nullptr;
    QLabel* borderLabel2 = nullptr;
    QLabel* borderLabelB = nullptr;
    QTimer* hoverTimer = nullptr;
    // Pixel extents stored by layoutShape; 0 until then so that a key painted without it
    // (the static palette) reads defined values.
    int shapeH2Px = 0;
    int shapeX2Px = 0;
    int shapeY2Px = 0;
    int shapeStepPx = 0;
    QString appDir;
    bool showAlias = false;
    int displayMode = 0; // 1: macro display ("M" and macroIndex)

    void setKeyGeometry(double x, double y, double w, double h, double x2, double y2, double w2, double h2);
    void layoutShape(int unitPx);
    void updateBorderStyle(bool normal);
    bool cursorInShape() const;
    bool cursorInBounds(int left, int right, int top, int bottom) const;

    void setNetworkPoint(int row, int col);
    int networkRow() const { return row; }
    int networkColumn() const { return col; }

    void setImage(const QString& image);
    QString image() const { return m_image; }
    void setName(const QString& name);
    QString name() const { return m_name; }
    void setAlias(const QString& alias) { m_alias = alias; }
    QString alias() const { return m_alias; }
    void setShowAlias(bool show) { showAlias = show; }

    void setColor(const QColor& color);
    void setMacroIndex(int index);
    void setModeIndex(int index) { setMacroIndex(index); } // the macro pages' name for it
    void setDisplayMode(int mode);
    void setFillBackground(bool fill) { fillBackground = fill; }
    void setMarked(bool marked) { m_marked = marked; }
    bool isMarked() const { return m_marked; }
    void setKeyIndex(int index) { m_keyIndex = index; }
    int keyIndex() const { return m_keyIndex; }
    bool isNormalState() const { return normal; }
    bool isDisabled() const { return disabled; }
    bool isLShapeA() const { return lShapeA; }

signals:
    void emitClickKeyBtnSignal(KeyBtn* key);
    void emitKeyCodeSignal(KeyBtn* key);
    void emitRequestColorSignal(int keyIndex);
    void emitDoubleClick(KeyBtn* key);
    void emitDoubleClick(); // kept for owners that connect it; never emitted
    void emitReleaseControl();
    void emitSetOtherMouseBoader(bool on);
    void emitShowNetworkPoint(int row, int col);

public slots:
    void mouseMoveHoverSlot();

protected:
    bool event(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

    void drawPlainKey();
    void drawLShapeA();
    void drawLShapeB();
    void drawLegend(const QString& text);
    void drawIcon(const QString& file, int cx, int cy);
    void drawLock(bool locked);

private:
    // The text drawLegend paints for a legend: a two-word legend goes on two lines.
    static QString legendText(const QString& text);
    QColor bodyColor() const;
    void setOutlineStyles(const QString& border, bool selected);

    QString m_alias = QStringLiteral(" ");
    QString m_name = QStringLiteral(" ");
    QString m_image;
    bool m_marked = false;
    int m_keyIndex = -1;
};
