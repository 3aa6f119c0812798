#include "tablabel.h"

#include "qss.h"

#include <QDebug>
#include <QMouseEvent>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

TabLabel::TabLabel(QWidget* parent, const QString& name, const QString& text, const QString& key, int xOffset,
                   const QColor& colour)
    : QLabel(parent)
    , m_name(name)
    , m_key(key)
    , m_text(text)
    , m_xOffset(xOffset)
    , m_color(colour)
    , m_dir(appDirPath())
{
    if (!m_name.isEmpty() && !m_renderer.load(iconPath(true)))
        qDebug().noquote() << QStringLiteral("Error: The pix load file failed! ") + m_name;
    // Once per process: a tab head per page must not add the font files again each time.
    registerAppFonts();
    m_font = QFont(QStringLiteral("Consolas"), 12, 0, false);
}

QString TabLabel::iconPath(bool checked) const
{
    return m_dir + QStringLiteral("/images/") + m_name
           + (checked ? QStringLiteral(".svg") : QStringLiteral("-1.svg"));
}

void TabLabel::setChecked(bool checked)
{
    m_checked = checked;
    setPixmap(m_pixmap);
    // Without a name there is no icon to load; a failed load leaves no icon and the text still shows.
    if (!m_name.isEmpty())
        m_renderer.load(iconPath(checked));
    m_textColor = QColor(checked ? QStringLiteral("#6fffe0") : QStringLiteral("#ffffff"));
}

void TabLabel::drawLabelText(const QString& text, int flags, int x, int y, int pointSize, int letterSpacing)
{
    QFont font = m_name.isEmpty() ? QFont(QStringLiteral("Consolas"), 18, 0, false)
                                  : QFont(QStringLiteral("Consolas"), pointSize, 50, false);
    if (text == QLatin1String("6") || text == QLatin1String("30")) {
        font = m_font;
        m_textColor = QColor(QStringLiteral("#000000"));
    }

    QPainter painter(this);
    if (m_color.name() == QLatin1String("#000000")) {
        font.setUnderline(false);
        font.setOverline(false);
        font.setCapitalization(QFont::SmallCaps);
        font.setLetterSpacing(QFont::AbsoluteSpacing, letterSpacing);
        // Where Consolas is missing its stand-in runs wider: narrow the text rather than cut its end off.
        const int room = width() - (x + m_xOffset);
        const int needed = QFontMetrics(font).horizontalAdvance(text);
        if (room > 0 && needed > room)
            font.setStretch(std::max(50, 100 * room / needed));
        painter.setFont(font);
        QColor pen = m_textColor;
        pen.setAlpha(255);
        painter.setPen(QPen(QBrush(pen), 0.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawText(QRectF(x + m_xOffset, y, width() - x + 20, height()), flags, text);
        return;
    }
    painter.setFont(QFont(QStringLiteral("Consolas"), 10, 0, false));
    QColor pen = m_color;
    pen.setAlpha(255);
    painter.setPen(QPen(QBrush(pen), 0.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawText(QRectF(m_xOffset + 3, y, width() - 3, height()), Qt::AlignLeft | Qt::AlignVCenter, text);
}

void TabLabel::drawIconText(const QString& text, QSvgRenderer* renderer)
{
    const int side = height();
    drawLabelText(text, Qt::AlignLeft | Qt::AlignVCenter, side + 15, 0, 12, 2);
    if (!renderer)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    renderer->render(&painter, QRectF(0, 0, side, side));
}

void TabLabel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    emit emitClicked(m_key);
    emit emitPressed(m_text);
}

void TabLabel::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit emitDoubleClick();
}

void TabLabel::paintEvent(QPaintEvent*)
{
    if (!m_name.isEmpty()) {
        drawIconText(m_text, &m_renderer);
        return;
    }
    if (m_text != QStringLiteral("三")) {
        drawLabelText(m_text, Qt::AlignCenter, 0, 0, 12, 0);
        return;
    }
    // Three bars stacked into a menu symbol.
    drawLabelText(m_barGlyph, Qt::AlignBottom | Qt::AlignHCenter, 0, 2, 12, 0);
    drawLabelText(m_barGlyph, Qt::AlignCenter, 0, 0, 12, 0);
    drawLabelText(m_barGlyph, Qt::AlignTop | Qt::AlignHCenter, 0, -2, 12, 0);
}
