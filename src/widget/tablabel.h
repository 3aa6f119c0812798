#pragma once
// The clickable head of one main-window tab: an SVG icon and the tab's text, accented while checked.
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPixmap>
#include <QSvgRenderer>

class TabLabel : public QLabel {
    Q_OBJECT
public:
    // name: icon base name under images/ (empty: text only); key: what a click reports;
    // colour "#000000" is the normal look, any other colour a plain text in that colour.
    TabLabel(QWidget* parent, const QString& name, const QString& text, const QString& key, int xOffset,
             const QColor& colour);

    void setChecked(bool checked);
    bool isChecked() const { return m_checked; }
    QString text1() const { return m_name; }
    QString text2() const { return m_key; }
    QString text3() const { return m_text; }
    void setText3(const QString& text) { m_text = text; } // shows at the next paint
    QColor textColor() const { return m_textColor; }

    void drawLabelText(const QString& text, int flags, int x, int y, int pointSize, int letterSpacing);
    void drawIconText(const QString& text, QSvgRenderer* renderer);

signals:
    void emitClicked(QString key);
    void emitPressed(QString text);
    void emitDoubleClick();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString iconPath(bool checked) const;

    QFont m_font;
    QPixmap m_pixmap;
    QSvgRenderer m_renderer;
    QColor m_textColor = QColor(QStringLiteral("#ffffff"));
    QString m_name;
    QString m_key;
    QString m_text;
    QString m_barGlyph = QStringLiteral("一");
    int m_xOffset;
    QColor m_color;
    QString m_dir;
    bool m_checked = false;
};
