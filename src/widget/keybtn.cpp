#include "keybtn.h"

#include "widget/data.h"
#include "widget/qss.h"

#include <QCursor>
#include <QEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyleOption>
#include <QTimer>

#include <climits>
#include <cmath>

namespace {

const char* const SelectedBorder = "2px solid rgb(255, 0, 0)";
const char* const HoverBorder = "1px solid rgb(0, 255, 0)";
const char* const IdleBorder = "1px solid rgb(175, 175, 175)";
const char* const IconFolder = "/images/StaticKeySvg/BlackImage/";

// Key units to pixels: truncated toward zero, kept within int so that odd layouts can't overflow.
int px(double v)
{
    if (!std::isfinite(v))
        return 0;
    if (v >= double(INT_MAX))
        return INT_MAX;
    if (v <= double(INT_MIN))
        return INT_MIN;
    return int(v);
}

enum Corner { TopLeft = 1, TopRight = 2, BottomRight = 4, BottomLeft = 8 };

// A rectangle whose chosen corners are rounded by a quadratic curve of radius 3.
QPainterPath cornerPath(const QRectF& r, int rounded)
{
    const double k = 3;
    const double l = r.x(), t = r.y(), rt = r.x() + r.width(), b = r.y() + r.height();
    QPainterPath path;
    path.moveTo((rounded & TopLeft) ? l + k : l, t);
    if (rounded & TopRight) {
        path.lineTo(rt - k, t);
        path.quadTo(rt, t, rt, t + k);
    } else {
        path.lineTo(rt, t);
    }
    if (rounded & BottomRight) {
        path.lineTo(rt, b - k);
        path.quadTo(rt, b, rt - k, b);
    } else {
        path.lineTo(rt, b);
    }
    if (rounded & BottomLeft) {
        path.lineTo(l + k, b);
        path.quadTo(l, b, l, b - k);
    } else {
        path.lineTo(l, b);
    }
    if (rounded & TopLeft) {
        path.lineTo(l, t + k);
        path.quadTo(l, t, l + k, t);
    } else {
        path.lineTo(l, t);
    }
    path.closeSubpath();
    return path;
}

void setSheet(QLabel* label, const QString& sheet)
{
    // The hover poll runs every 50 ms; re-applying an unchanged sheet would re-polish for nothing.
    if (label && label->styleSheet() != sheet)
        label->setStyleSheet(sheet);
}

bool within(const QPoint& c, int left, int right, int top, int bottom)
{
    return c.x() >= left && c.x() <= right && c.y() >= top && c.y() <= bottom;
}

} // namespace

KeyBtn::KeyBtn(QWidget* parent) : QPushButton(parent), appDir(appDirPath())
{
    updateBorderStyle(true);
    displayMode = 0;
    update();
}

void KeyBtn::setKeyGeometry(double x, double y, double w, double h, double x2, double y2, double w2, double h2)
{
    this->x = x;
    this->y = y;
    this->w = w;
    this->h = h;
    this->x2 = x2;
    this->y2 = y2;
    this->w2 = w2;
    this->h2 = h2;
    if (x2 == 0 && y2 == 0 && w2 == 0 && h2 == 0)
        return;
    if (lShapeA || lShapeB)
        return; // already L-shaped: the outline exists once

    lower();
    setFlat(true);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    borderLabel1 = new QLabel(this);
    borderLabel2 = new QLabel(this);
    hoverTimer = new QTimer(this);
    borderLabel1->show();
    borderLabel2->show();
    if (y2 != 0 && h2 != 0 && x2 != 0) {
        lShapeA = true;
        borderLabelA = new QLabel(this);
        borderLabelA->show();
    } else {
        lShapeB = true;
        borderLabelB = new QLabel(this);
        borderLabelB->show();
    }
    setStyleSheet(QStringLiteral("QPushButton{ background: rgba(0, 0, 0, 0%); border: 0px; border-radius: 0px; }"
                                 "QPushButton:hover{ background: rgba(0, 0, 0, 0%); border: 0px; border-radius: 0px; }"));
    connect(hoverTimer, &QTimer::timeout, this, &KeyBtn::mouseMoveHoverSlot);
}

void KeyBtn::layoutShape(int unitPx)
{
    raise();
    const double u = unitPx;
    if (lShapeA) {
        lower();
        borderLabelA->resize(px(w * u - 1), px(h2 * u));
        borderLabel1->resize(px(-x2 * u), px(h2 * u - 2));
        borderLabel2->resize(px(w * u), px(h2 * u - 2));
        borderLabelA->move(px(1 - x2 * u), 0);
        borderLabel1->move(0, px(y2 * u));
        borderLabel2->move(px(-x2 * u), px(h2 * u));
        resize(width() + 1, height());
        shapeH2Px = px(h2 * u);
        shapeX2Px = px(-x2 * u);
        shapeY2Px = px(y2 * u);
        updateBorderStyle(true);
    } else if (lShapeB) {
        lower();
        borderLabelB->raise();
        borderLabel1->raise();
        borderLabel2->raise();
        shapeStepPx = px(w2 * u - w * u);
        borderLabel1->resize(shapeStepPx + 1, px(h2 * u - 2));
        resize(width() + 1, height());
        borderLabel2->resize(px(w * u - 1), px(h2 * u));
        borderLabelB->resize(px(w * u - 1), px(0.5 * h * u));
        borderLabel1->move(0, 0);
        borderLabel2->move(px(-x2 * u), 0);
        borderLabelB->move(borderLabel2->x(), borderLabel1->height());
        updateBorderStyle(true);
    }
}

void KeyBtn::updateBorderStyle(bool normal)
{
    this->normal = normal;
    disabled = !normal;
    if (lShapeA) {
        if (normal) {
            borderWidth = 2;
            hoverTimer->start(50); // the first tick styles the outline
        } else {
            hoverTimer->stop();
            borderWidth = 3;
            borderLabelA->resize(borderLabelA->width(), shapeH2Px + 2);
            borderLabel1->resize(shapeX2Px + 2, borderLabel1->height());
            setOutlineStyles(QLatin1String(SelectedBorder), true);
        }
    } else if (lShapeB) {
        if (normal) {
            borderLabel1->resize(shapeStepPx + 1, borderLabel1->height());
            borderWidth = 2;
            hoverTimer->start(50);
        } else {
            borderLabel1->resize(shapeStepPx + 2, borderLabel1->height());
            borderWidth = 3;
            hoverTimer->stop();
            setOutlineStyles(QLatin1String(SelectedBorder), true);
        }
    } else {
        Qss qss;
        qss.setKeyButtonStyle(this, normal, false);
        borderWidth = normal ? 2 : 3;
    }
    update();
}

void KeyBtn::mouseMoveHoverSlot()
{
    if (!lShapeA && !lShapeB)
        return;
    if (lShapeA) {
        borderLabelA->resize(borderLabelA->width(), shapeH2Px + 1);
        borderLabel1->resize(shapeX2Px + 1, borderLabel1->height());
    }
    setOutlineStyles(QLatin1String(cursorInShape() ? HoverBorder : IdleBorder), false);
}

void KeyBtn::setOutlineStyles(const QString& b, bool selected)
{
    if (lShapeA) {
        setSheet(borderLabelA,
                 selected ? QStringLiteral("QLabel { background: rgba(0, 0, 0, 0%); border-top: %1; border-left: %1; "
                                           "border-right: %1; border-top-left-radius: 2px; border-top-right-radius: 2px }")
                                .arg(b)
                          : QStringLiteral("QLabel { color: rgb(70, 70, 70); background: rgba(0, 0, 0, 0%); border-top: %1; "
                                           "border-left: %1; border-right: %1; border-top-left-radius: 2px; "
                                           "border-top-right-radius: 2px }")
                                .arg(b));
        setSheet(borderLabel1, QStringLiteral("QLabel { background: rgba(0, 0, 0, 0%); border-top: %1; border-left: %1; "
                                              "border-bottom:%1; border-top-left-radius: 2px; border-bottom-left-radius:2px }")
                                   .arg(b));
        setSheet(borderLabel2,
                 selected ? QStringLiteral("QLabel { background: rgba(0, 0, 0, 0%); border-bottom: %1; border-right: %1; "
                                           "border-bottom-right-radius: 2px }")
                                .arg(b)
                          : QStringLiteral("QLabel { background: rgba(0, 0, 0, 0%); border-bottom: %1; border-right: %1; "
                                           "border-bottom-right-radius: 2px; border-top-left-radius: 2px;}")
                                .arg(b));
    } else if (lShapeB) {
        setSheet(borderLabel1,
                 selected ? QStringLiteral("QLabel { background: rgba(0, 0, 0, 0%); border-top: %1; border-left: %1;  "
                                           "border-bottom: %1; }")
                                .arg(b)
                          : QStringLiteral("QLabel { background: rgba(0, 0, 0, 0%); border-top: %1; border-left: %1;  "
                                           "border-bottom: %1; border-bottom-left-radius:2px; border-top-left-radius: 2px; }")
                                .arg(b));
        setSheet(borderLabel2,
                 selected ? QStringLiteral("QLabel { background: rgba(0, 0, 0, 0%); border-right: %1; border-top: %1;  "
                                           "border-bottom-left-radius:2px }")
                                .arg(b)
                          : QStringLiteral("QLabel { background: rgba(0, 0, 0, 0%); border-right: %1; border-top: %1;  "
                                           "border-top-right-radius: 2px; }")
                                .arg(b));
        setSheet(borderLabelB,
                 selected ? QStringLiteral("QLabel { background: rgba(0, 0, 0, 0%); border-left: %1; border-right: %1; "
                                           "border-bottom: %1; border-right: %1; }")
                                .arg(b)
                          : QStringLiteral("QLabel { background: rgba(0, 0, 0, 0%); border-left: %1; border-right: %1; "
                                           "border-bottom: %1; border-right: %1; border-bottom-left-radius:2px; "
                                           "border-bottom-right-radius: 2px; }")
                                .arg(b));
    }
}

bool KeyBtn::cursorInShape() const
{
    const QPoint c = QCursor::pos();
    if (lShapeA) {
        const QPoint a = borderLabelA->mapToGlobal(QPoint(0, 0));
        const QPoint p1 = borderLabel1->mapToGlobal(QPoint(0, 0));
        const QPoint p2 = borderLabel2->mapToGlobal(QPoint(0, 0));
        return within(c, a.x(), a.x() + borderLabelA->width(), a.y(), p2.y() + borderLabel2->height())
            || within(c, p1.x(), p1.x() + borderLabel1->width(), p1.y(), p1.y() + borderLabel1->height());
    }
    if (lShapeB) {
        const QPoint p1 = borderLabel1->mapToGlobal(QPoint(0, 0));
        const QPoint pb = borderLabelB->mapToGlobal(QPoint(0, 0));
        return within(c, p1.x(), p1.x() + width(), p1.y(), p1.y() + borderLabel2->height())
            || within(c, pb.x(), pb.x() + borderLabelB->width(), pb.y(), pb.y() + borderLabelB->height());
    }
    return false;
}

bool KeyBtn::cursorInBounds(int left, int right, int top, int bottom) const
{
    return within(QCursor::pos(), left, right, top, bottom);
}

void KeyBtn::setNetworkPoint(int row, int col)
{
    this->row = row;
    this->col = col;
    if (row == -1)
        m_name = QString();
    else
        m_name = (col <= 25 ? QString(QChar('A' + col)) : Data::columnName(col)) + QString::number(row);
    update();
}

void KeyBtn::setImage(const QString& image)
{
    m_image = image;
    if (!image.isEmpty())
        m_name = QString();
}

void KeyBtn::setName(const QString& name)
{
    m_name = name;
    update();
}

void KeyBtn::setColor(const QColor& color)
{
    this->color = QColor::fromRgba(color.rgba());
    update();
}

void KeyBtn::setMacroIndex(int index)
{
    macroIndex = index;
    update();
}

void KeyBtn::setDisplayMode(int mode)
{
    displayMode = mode;
    update();
}

bool KeyBtn::event(QEvent* e)
{
    if (e->type() == QEvent::ToolTip && !toolTipEnabled)
        return true;
    // Past the push button on purpose: no mnemonic shortcut or default-button handling for key caps.
    return QWidget::event(e);
}

void KeyBtn::mousePressEvent(QMouseEvent* e)
{
    // The push button's own press is not run: a key cap never goes down and never emits clicked().
    if (e->button() == Qt::LeftButton) {
        emit emitClickKeyBtnSignal(this);
        emit emitKeyCodeSignal(this);
        emit emitRequestColorSignal(m_keyIndex);
        emit emitShowNetworkPoint(row, col);
    } else if (e->button() == Qt::RightButton) {
        emit emitReleaseControl();
        emit emitSetOtherMouseBoader(true);
    }
}

void KeyBtn::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        emit emitDoubleClick(this);
}

QColor KeyBtn::bodyColor() const
{
    QColor c = color;
    c.setAlpha(fillBackground ? 170 : 255);
    return c;
}

void KeyBtn::paintEvent(QPaintEvent*)
{
    {
        // Only the style sheet frame; the push button's bevel and text are not drawn.
        QStyleOption opt;
        opt.initFrom(this);
        QPainter p(this);
        style()->drawPrimitive(QStyle::PE_Widget, &opt, &p, this);
    }

    if (lShapeA)
        drawLShapeA();
    else if (lShapeB)
        drawLShapeB();
    else
        drawPlainKey();

    if (displayMode == 1) {
        drawLegend(macroIndex >= 0 ? QStringLiteral("M") + QString::number(macroIndex) : QString());
        return;
    }

    if (!m_image.isEmpty()) {
        const int dot = m_image.indexOf(QLatin1Char('.'));
        const QString file = (dot < 0 ? m_image : m_image.left(dot)) + QStringLiteral(".svg");
        int cx = width() / 2;
        if (lShapeA)
            cx = borderLabelA->x() + borderLabelA->width() / 2;
        else if (lShapeB)
            cx = borderLabelB->x() + borderLabelB->width() / 2;
        drawIcon(file, cx, height() / 2);
    } else {
        drawLegend(showAlias ? m_alias : m_name);
    }
    drawLock(locked);
}

void KeyBtn::drawPlainKey()
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor c = bodyColor();
    p.setPen(c);
    p.setBrush(QBrush(c, Qt::SolidPattern));
    const int b = borderWidth;
    p.drawRoundedRect(QRect(b, b, width() - 2 * b, height() - 2 * b), 1, 1, Qt::AbsoluteSize);
}

namespace {

// Both parts of an L-shaped body; no outline (the border labels draw it).
void paintParts(QPainter& p, const QColor& body, const QRectF& r1, int corners1, const QRectF& r2, int corners2)
{
    p.setRenderHint(QPainter::Antialiasing);
    QColor pen = body;
    pen.setAlpha(0);
    p.setPen(pen);
    QLinearGradient g(r1.topLeft(), r1.bottomRight());
    g.setColorAt(0.1, body);
    p.setBrush(g);
    QPainterPath path;
    const QRectF parts[2] = {r1, r2};
    const int corners[2] = {corners1, corners2};
    for (int i = 0; i < 2; ++i) {
        p.save();
        p.setClipRect(parts[i]);
        path.addPath(cornerPath(parts[i], corners[i]));
        p.drawPath(path);
        p.restore();
    }
}

} // namespace

void KeyBtn::drawLShapeA()
{
    const int b = borderWidth;
    const QRectF main(b + shapeX2Px + 1, b, width() - 1 - 2 * b - shapeX2Px, height() - 2 * b);
    const QRectF left(b, shapeY2Px + b, borderLabel1->width(), height() - 2 * b - shapeY2Px);
    QPainter p(this);
    paintParts(p, bodyColor(), main, TopLeft | TopRight | BottomRight, left, TopLeft | BottomLeft);
}

void KeyBtn::drawLShapeB()
{
    const int b = borderWidth;
    const QRectF step(b, b, borderLabel1->width() + 2 * b, borderLabel1->height() - 2 * b);
    const QRectF main(borderLabel2->x() + b, b, borderLabel2->width() - 2 * b, height() - 2 * b);
    QPainter p(this);
    paintParts(p, bodyColor(), step, TopLeft | BottomLeft, main, BottomLeft | BottomRight | TopRight);
}

QString KeyBtn::legendText(const QString& text)
{
    if (text == QLatin1String("Caps Lock"))
        return text;
    if (!text.section(QLatin1Char(' '), 1, 1).isEmpty()) {
        QString lines = text;
        return lines.replace(QLatin1Char(' '), QLatin1Char('\n'));
    }
    return text;
}

void KeyBtn::drawLegend(const QString& text)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(QStringLiteral("#464646")));
    p.setFont(QFont(QStringLiteral("Arial"), 8));
    QRect r(0, 0, width() - 1, height() - 1);
    if (lShapeA)
        r = QRect(borderLabelA->x(), 0, borderLabelA->width() - 1, height() - 1);
    else if (lShapeB)
        r = QRect(borderLabel2->x(), 0, borderLabel2->width() - 1, height() - 1);
    p.drawText(r, Qt::AlignCenter, legendText(text));
}

void KeyBtn::drawIcon(const QString& file, int cx, int cy)
{
    svgRenderer.load(appDir + QLatin1String(IconFolder) + file);
    if (!svgRenderer.isValid())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (file == QLatin1String("lock.svg"))
        svgRenderer.render(&p, QRectF(cx - 8, cy - 9, 16, 19));
    else
        svgRenderer.render(&p, QRectF(cx - 14, cy - 14, 28, 28));
}

void KeyBtn::drawLock(bool locked)
{
    if (!locked)
        return;
    const QPixmap lock(appDir + QLatin1String(IconFolder) + QStringLiteral("lock.svg"));
    if (lock.isNull())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.drawPixmap(width() - 18, height() - 19, lock.scaled(13, 15, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}
